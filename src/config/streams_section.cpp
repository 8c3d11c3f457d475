#include "config/streams_section.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "base/process.h"

namespace qmr {

namespace {

constexpr const char* kStreams = "STREAMS";

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = text.substr(pos);
      pos = text.size();
    } else {
      line.text = text.substr(pos, nl - pos);
      line.end = "\n";
      pos = nl + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end = "\r" + line.end;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// The part of a line before any comment.
std::string Uncommented(const std::string& line) {
  const std::size_t hash = line.find('#');
  return hash == std::string::npos ? line : line.substr(0, hash);
}

// A section header's name (as the settings reader reads it), or empty.
std::string HeaderName(const std::string& line) {
  const std::string body = Uncommented(line);
  if (body.find('=') != std::string::npos) return "";
  const std::size_t open = body.find('[');
  const std::size_t close = body.find(']');
  if (open == std::string::npos || close == std::string::npos || close < open + 3) return "";
  std::string name = body.substr(open + 1, close - open - 1);
  const std::size_t tab = name.find('\t');
  if (tab != std::string::npos) name.resize(tab);
  return TrimSpaces(name);
}

bool IsKeyLine(const std::string& line) {
  const std::string body = Uncommented(line);
  const std::size_t eq = body.find('=');
  return eq != std::string::npos && !TrimSpaces(body.substr(0, eq)).empty();
}

// Index of the first [STREAMS] header and one past its section's last line.
bool FindSection(const std::vector<Line>& lines, std::size_t& header, std::size_t& end) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // A key line in an earlier section is never a header, even with brackets.
    if (HeaderName(lines[i].text) != kStreams) continue;
    header = i;
    end = i + 1;
    while (end < lines.size() && HeaderName(lines[end].text).empty()) ++end;
    return true;
  }
  return false;
}

}  // namespace

std::vector<StreamListing> ReadStreamsSection(const std::string& text) {
  std::vector<StreamListing> out;
  const std::vector<Line> lines = SplitLines(text);
  std::size_t header = 0, end = 0;
  if (!FindSection(lines, header, end)) return out;
  std::set<std::string> seen;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (!IsKeyLine(lines[i].text)) continue;
    const std::string body = Uncommented(lines[i].text);
    const std::size_t eq = body.find('=');
    std::string key = TrimSpaces(body.substr(0, eq));
    std::string value = body.substr(eq + 1);
    const std::size_t tab = value.find('\t');
    if (tab != std::string::npos) value[tab] = ' ';
    value = TrimSpaces(value);
    if (!seen.insert(key).second) continue;
    out.emplace_back(key, value);
  }
  return out;
}

std::string ReplaceStreamsSection(const std::string& text,
                                  const std::vector<StreamListing>& streams) {
  std::vector<Line> lines = SplitLines(text);
  // New lines use the file's own line end.
  std::string eol = "\n";
  for (const Line& l : lines) {
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  }
  std::vector<Line> listed;
  for (const auto& [key, value] : streams) listed.push_back({key + "=" + value, eol});

  std::size_t header = 0, end = 0;
  if (!FindSection(lines, header, end)) {
    if (streams.empty()) return text;
    std::string out = text;
    if (!out.empty() && out.back() != '\n') out += eol;
    if (!out.empty()) out += eol;
    out += "[" + std::string(kStreams) + "]" + eol;
    for (const Line& l : listed) out += l.text + l.end;
    return out;
  }
  std::vector<Line> result(lines.begin(), lines.begin() + static_cast<long>(header) + 1);
  if (result.back().end.empty()) result.back().end = eol;
  bool placed = false;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (IsKeyLine(lines[i].text)) {
      if (!placed) {
        result.insert(result.end(), listed.begin(), listed.end());
        placed = true;
      }
      continue;
    }
    result.push_back(lines[i]);
  }
  if (!placed) {
    result.insert(result.begin() + static_cast<long>(header) + 1, listed.begin(), listed.end());
  }
  // A section that ended the file without a line end keeps ending that way
  // only when its last line is an old one.
  for (std::size_t i = end; i < lines.size(); ++i) {
    if (result.back().end.empty()) result.back().end = eol;
    result.push_back(lines[i]);
  }
  std::string out;
  for (const Line& l : result) out += l.text + l.end;
  return out;
}

std::string StreamListingProblem(const StreamListing& listing) {
  const std::string name = TrimSpaces(listing.first);
  const std::string source = TrimSpaces(listing.second);
  if (name.empty()) return "Every camera needs a name.";
  if (name.find_first_of("=#[]\r\n\t") != std::string::npos) {
    return "A camera name cannot hold = # [ ] or a tab.";
  }
  if (source.empty()) return "The camera \"" + name + "\" needs a source.";
  if (source.find_first_of("#\r\n") != std::string::npos) {
    return "The source of \"" + name + "\" cannot hold # or a line break.";
  }
  return "";
}

bool WriteStreamsSection(const std::string& path, const std::vector<StreamListing>& streams,
                         std::string& problem) {
  problem.clear();
  for (const StreamListing& s : streams) {
    problem = StreamListingProblem(s);
    if (!problem.empty()) return false;
  }
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string updated = ReplaceStreamsSection(text, streams);
  if (updated == text) return true;
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem = "The settings file " + path + " cannot be written: " + std::strerror(errno) + ".";
    return false;
  }
  fchmod(fd, 0600);
  std::size_t done = 0;
  bool ok = true;
  while (done < updated.size()) {
    const ssize_t n = write(fd, updated.data() + done, updated.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    problem = "The settings file " + path + " cannot be written: " + std::strerror(errno) + ".";
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace qmr
