#include "delivery/zip_packer.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "base/log_file.h"
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

bool ZipPacker::IsPrecompressed(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "jpg" || ext == "jpeg" || ext == "avi" || ext == "zip" || ext == "png";
}

std::string ZipPacker::UniqueName(const std::string& name, const std::set<std::string>& taken) {
  if (taken.count(name) == 0) return name;
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string ext = stem.size() == name.size() ? std::string() : name.substr(stem.size());
  for (int n = 2;; ++n) {
    const std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
    if (taken.count(candidate) == 0) return candidate;
  }
}

bool ZipPacker::Pack(bool deleteSources) {
  if (files_.empty() || archivePath_.empty()) return false;
  const std::string archive = ArchivePath();
  int error = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_CREATE, &error);
  if (zip == nullptr) {
    zip_error_t why;
    zip_error_init_with_code(&why, error);
    LogFile::Write("The archive " + archive + " could not be opened: " + zip_error_strerror(&why));
    zip_error_fini(&why);
    return false;
  }

  std::vector<std::string> packed;
  // Two listed files of the same name both go in: the later one under a
  // numbered name, so no source is deleted without its copy in the archive.
  std::set<std::string> taken;
  for (const std::string& listed : files_) {
    const std::string path = FullPath(listed);
    struct stat st;
    // Unreadable files are left out, as the packing tool of old warned and
    // went on with the others.
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0) {
      continue;
    }
    const std::size_t slash = path.rfind('/');
    const std::string name =
        UniqueName(slash == std::string::npos ? path : path.substr(slash + 1), taken);
    zip_source_t* source = zip_source_file(zip, path.c_str(), 0, -1);
    if (source == nullptr) continue;
    const zip_int64_t index =
        zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
    if (index < 0) {
      zip_source_free(source);
      continue;
    }
    // Pictures and movies are compressed already: deflating them costs time
    // for a percent or two. Text and other small members are deflated.
    if (IsPrecompressed(name)) {
      zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    } else {
      zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 9);
    }
    taken.insert(name);
    packed.push_back(path);
  }
  if (packed.empty()) {
    zip_discard(zip);
    return false;
  }
  if (zip_close(zip) != 0) {
    // The archive is written to a temporary file and renamed at the end: a
    // failed close leaves the old archive (or none) and no partial one.
    LogFile::Write("The archive " + archive + " could not be written: " + zip_strerror(zip));
    zip_discard(zip);
    return false;
  }
  if (deleteSources) {
    for (const std::string& path : packed) std::remove(path.c_str());
  }
  return true;
}

}  // namespace qmr
