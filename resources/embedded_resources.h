// The program's images, built into the program file so that it needs no image
// files at run time. Generated from resources/images by the build.
#pragma once

#include <cstddef>

namespace qmr {

struct EmbeddedResource {
  const char* name;  // file base name, e.g. "tool_detect"
  const unsigned char* data;
  std::size_t size;
};

// The resource of that name, or nullptr.
const EmbeddedResource* FindEmbeddedResource(const char* name);

}  // namespace qmr
