#include "capture/frame_source.h"

#include "capture/camera_entry.h"
#include "capture/pattern_source.h"
#include "capture/stream_source.h"
#include "capture/v4l2_source.h"

namespace qmr {

std::unique_ptr<FrameSource> CreateFrameSource(const CameraEntry& entry) {
  switch (entry.kind) {
    case SourceKind::Pattern:
      return std::make_unique<PatternSource>(ParsePatternParameters(entry.source),
                                             entry.friendlyName);
    case SourceKind::Stream:
      return std::make_unique<StreamSource>(entry.source, entry.name);
    case SourceKind::V4l2:
      return std::make_unique<V4l2Source>(entry.source, entry.name);
  }
  return nullptr;
}

}  // namespace qmr
