#include "delivery/zip_packer.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>

#include "base/process.h"

namespace qmr {

bool ZipPacker::SetArchive(const std::string& rootFolder, const std::string& archivePath) {
  const std::string archive = TrimSpaces(archivePath);
  if (archive.empty()) return false;
  archivePath_ = archive;
  rootFolder_ = TrimSpaces(rootFolder);
  return true;
}

bool ZipPacker::AddFile(const std::string& path) {
  const std::string file = TrimSpaces(path);
  if (file.empty()) return false;
  if (std::find(files_.begin(), files_.end(), file) != files_.end()) return false;
  files_.push_back(file);
  return true;
}

std::string ZipPacker::FullPath(const std::string& path) const {
  if (path.empty() || path[0] == '/' || rootFolder_.empty()) return path;
  if (rootFolder_.back() == '/') return rootFolder_ + path;
  return rootFolder_ + "/" + path;
}

std::string ZipPacker::ArchivePath() const { return FullPath(archivePath_); }

bool ZipPacker::Pack(bool deleteSources) {
  if (files_.empty() || archivePath_.empty()) return false;
  const std::string archive = ArchivePath();
  int error = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_CREATE, &error);
  if (zip == nullptr) return false;

  std::vector<std::string> packed;
  for (const std::string& listed : files_) {
    const std::string path = FullPath(listed);
    struct stat st;
    // Unreadable files are left out, as the packing tool of old warned and
    // went on with the others.
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0) {
      continue;
    }
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    zip_source_t* source = zip_source_file(zip, path.c_str(), 0, -1);
    if (source == nullptr) continue;
    const zip_int64_t index =
        zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
    if (index < 0) {
      zip_source_free(source);
      continue;
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 9);
    packed.push_back(path);
  }
  if (packed.empty()) {
    zip_discard(zip);
    return false;
  }
  if (zip_close(zip) != 0) {
    zip_discard(zip);
    return false;
  }
  if (deleteSources) {
    for (const std::string& path : packed) std::remove(path.c_str());
  }
  return true;
}

}  // namespace qmr
