// Helpers shared by the recording tests: pattern frames, a temporary folder,
// running ffprobe/ffmpeg, and reading the stamp texts back out of a file.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recording/bitmap_info.h"

namespace qmr::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qmr-recording-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A moving gradient with a bright square, bottom-up BGR24 with padded rows.
inline std::vector<std::uint8_t> PatternFrame(const BitmapInfoHeader& h, int index) {
  const int stride = BitmapRowStride(h.width, 24);
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(stride) * h.height, 0);
  for (int y = 0; y < h.height; ++y) {
    std::uint8_t* row = frame.data() + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < h.width; ++x) {
      const bool square = x >= index * 4 % h.width && x < index * 4 % h.width + 16 &&
                          y >= h.height / 3 && y < h.height / 3 + 16;
      row[x * 3 + 0] = square ? 255 : static_cast<std::uint8_t>(x + index);
      row[x * 3 + 1] = square ? 255 : static_cast<std::uint8_t>(y * 2);
      row[x * 3 + 2] = square ? 255 : static_cast<std::uint8_t>((x + y) / 2);
    }
  }
  return frame;
}

// Runs a shell command; returns its standard output and sets *status to the
// exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

struct ProbedStream {
  std::string type;
  std::string codec;
  std::string rate;
  long frames = -1;
};

// Stream list as ffprobe sees it; count "frames" decodes, "packets" only
// reads (for very large files).
inline std::vector<ProbedStream> Probe(const std::string& file, bool countPackets = false) {
  const std::string what = countPackets ? "-count_packets" : "-count_frames";
  const std::string field = countPackets ? "nb_read_packets" : "nb_read_frames";
  const std::string out = RunCommand("ffprobe -v error " + what +
                                     " -show_entries stream=codec_type,codec_name,r_frame_rate," +
                                     field + " -of compact=p=0:nk=0 '" + file + "' 2>/dev/null");
  std::vector<ProbedStream> streams;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    ProbedStream s;
    std::size_t p = 0;
    while (p < line.size()) {
      std::size_t bar = line.find('|', p);
      if (bar == std::string::npos) bar = line.size();
      const std::string kv = line.substr(p, bar - p);
      p = bar + 1;
      const std::size_t eq = kv.find('=');
      if (eq == std::string::npos) continue;
      const std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
      if (k == "codec_type") s.type = v;
      if (k == "codec_name") s.codec = v;
      if (k == "r_frame_rate") s.rate = v;
      if (k == field) s.frames = std::strtol(v.c_str(), nullptr, 10);
    }
    streams.push_back(s);
  }
  return streams;
}

// ffmpeg decodes the whole file; returns what it printed at level error.
inline std::string DecodeErrors(const std::string& file, int* status) {
  return RunCommand("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1", status);
}

// The samples of the text stream ("01tx" chunks of every movi list, in file
// order): empty samples give empty entries.
inline std::vector<std::string> ReadTextSamples(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
           static_cast<std::uint32_t>(data[at + 2]) << 16 |
           static_cast<std::uint32_t>(data[at + 3]) << 24;
  };
  auto tag = [&](std::size_t at) { return std::string(data.begin() + at, data.begin() + at + 4); };
  std::vector<std::string> samples;
  // Walk: RIFF -> LIST movi -> chunks.
  std::size_t pos = 0;
  while (pos + 12 <= data.size() && tag(pos) == "RIFF") {
    const std::size_t riffEnd = std::min<std::size_t>(pos + 8 + u32(pos + 4), data.size());
    std::size_t p = pos + 12;
    while (p + 8 <= riffEnd) {
      const std::uint32_t size = u32(p + 4);
      if (tag(p) == "LIST" && p + 12 <= riffEnd && tag(p + 8) == "movi") {
        const std::size_t listEnd = std::min<std::size_t>(p + 8 + size, riffEnd);
        std::size_t c = p + 12;
        while (c + 8 <= listEnd) {
          const std::uint32_t csize = u32(c + 4);
          if (c + 8 + csize > data.size()) break;
          if (tag(c) == "01tx") {
            std::string text(data.begin() + c + 8, data.begin() + c + 8 + csize);
            samples.push_back(text);
          }
          c += 8 + csize + (csize & 1);
        }
      }
      p += 8 + size + (size & 1);
    }
    pos = riffEnd + (riffEnd & 1);
  }
  return samples;
}

}  // namespace qmr::test
