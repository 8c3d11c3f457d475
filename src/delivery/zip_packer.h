// Packs a list of files into one ZIP archive: entries under their bare file
// names (a second file of the same name gets " (2)" before its extension),
// pictures and movies stored as they are and other files deflated at the
// best level; an existing archive is updated and an entry of the same name
// replaced.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace qmr {

class ZipPacker {
 public:
  virtual ~ZipPacker() = default;

  // Trims and stores the archive path (a relative one lies in rootFolder)
  // and the root folder. False, root folder untouched, when the trimmed
  // archive path is empty.
  bool SetArchive(const std::string& rootFolder, const std::string& archivePath);
  // Trims and appends the path (relative paths lie in the root folder).
  // False when empty or already listed.
  bool AddFile(const std::string& path);
  // Builds the archive. True when it was written with at least one file. A
  // listed file that cannot be read is left out. With deleteSources, the
  // packed files are deleted, and only after a successful pack.
  bool Pack(bool deleteSources);

  const std::vector<std::string>& Files() const { return files_; }
  // The archive's full path (root folder applied).
  std::string ArchivePath() const;

  // JPEG, AVI, PNG and ZIP members are stored without deflate.
  static bool IsPrecompressed(const std::string& name);
  // name, or "stem (n).ext" with the lowest n >= 2 not in taken.
  static std::string UniqueName(const std::string& name, const std::set<std::string>& taken);

 private:
  std::string FullPath(const std::string& path) const;

  std::vector<std::string> files_;
  std::string archivePath_;
  std::string rootFolder_;
};

}  // namespace qmr
