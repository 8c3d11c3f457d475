#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "../support/temp_folder.h"

namespace qmr {
namespace {

using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

// Every odd form a hand-edited file may hold.
const char kOddDocument[] =
    "orphan=before any header\n"
    "[X]\n"
    "lost=1\n"
    "[AB]   # two-char header\n"
    "k1 = v1   # note\n"
    "k1=second\n"
    "[Y]\n"
    "k2=in AB\r\n"
    "[AB]\n"
    "dup=dropped with the repeated section\n"
    " [ CD ]\n"
    "t=a\tb\tc\n"
    "tail=value\t\t\t#c\n"
    "plain line without equals\n"
    "[]\n"
    "e=still CD\n"
    "=no key\n"
    "# a comment line\n"
    "\n";

TEST(IniFileTest, ReadsOddLineForms) {
  TempFolder tmp;
  const std::string path = tmp.File("odd.ini");
  WriteWhole(path, kOddDocument);
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_FALSE(ini.Modified());

  std::string v, comment;
  // Key lines before the first header and one-character headers are ignored.
  EXPECT_FALSE(ini.GetString("X", "lost", "", v));
  EXPECT_EQ(ini.GetKeyCount("X"), 0);
  EXPECT_EQ(ini.GetKeyCount("Y"), 0);

  EXPECT_TRUE(ini.GetString("AB", "k1", "", v, &comment));
  EXPECT_EQ(v, "v1");  // first key wins, blanks around "=" trimmed
  EXPECT_EQ(comment, "note");
  EXPECT_TRUE(ini.GetString("AB", "k2", "", v));  // "[Y]" was no header
  EXPECT_EQ(v, "in AB");
  // The repeated [AB] swallowed its own keys.
  EXPECT_FALSE(ini.GetString("AB", "dup", "def", v));
  EXPECT_EQ(v, "def");
  EXPECT_EQ(ini.GetKeyCount("AB"), 2);

  EXPECT_TRUE(ini.GetString("CD", "t", "", v));
  EXPECT_EQ(v, "a b\tc");  // only the first tab becomes a space
  EXPECT_TRUE(ini.GetString("CD", "tail", "", v, &comment));
  EXPECT_EQ(v, "value");  // the blanks before a comment are no part of the value
  EXPECT_EQ(comment, "c");
  EXPECT_TRUE(ini.GetString(" CD ", " e ", "", v));  // arguments are trimmed too
  EXPECT_EQ(v, "still CD");
  EXPECT_EQ(ini.GetKeyCount("CD"), 3);

  // Names are case-sensitive; empty names find nothing.
  EXPECT_FALSE(ini.GetString("cd", "e", "", v));
  EXPECT_FALSE(ini.GetString("", "e", "", v));
  EXPECT_EQ(ini.GetKeyCount(""), 0);
}

TEST(IniFileTest, SavesExactDocument) {
  TempFolder tmp;
  const std::string path = tmp.File("odd.ini");
  WriteWhole(path, kOddDocument);
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_TRUE(ini.SetInt("NEW", "N", -5));
  EXPECT_TRUE(ini.SetString("AB", "k2", "  changed  "));
  const std::string keyComment = "kept";
  EXPECT_TRUE(ini.SetTriple("NEW", "RGB", 256, -1, 7, &keyComment));
  ASSERT_TRUE(ini.Save(tmp.File("out.ini")));
  EXPECT_EQ(ReadWhole(tmp.File("out.ini")),
            "\n[AB]\t\t\t#two-char header\nk1=v1\t\t\t#note\nk2=changed\n"
            "\n[CD]\nt=a b\tc\ntail=value\t\t\t#c\ne=still CD\n"
            "\n[NEW]\nN=-5\nRGB=0:255:7\t\t\t#kept\n");
  EXPECT_EQ(ini.Path(), tmp.File("out.ini"));

  // Writing a key drops its comment; a value cannot break into a new line.
  EXPECT_TRUE(ini.SetString("AB", "k1", "x\n[EVIL]\ny=1"));
  ASSERT_TRUE(ini.Save());
  IniFile back;
  ASSERT_TRUE(back.Load(tmp.File("out.ini")));
  std::string v, comment = "old";
  EXPECT_TRUE(back.GetString("AB", "k1", "", v, &comment));
  EXPECT_EQ(v, "x [EVIL] y=1");
  EXPECT_EQ(comment, "");
  EXPECT_EQ(back.GetKeyCount("EVIL"), 0);
}

TEST(IniFileTest, TypedLookups) {
  TempFolder tmp;
  WriteWhole(tmp.File("t.ini"),
             "[SS]\nnum=12abc\nneg=  -7\nword=abc\nempty=\nrgb=300:-1:2\none=5\n"
             "two=1:2\nspaced=1: 2:3\n");
  IniFile ini;
  ASSERT_TRUE(ini.Load(tmp.File("t.ini")));
  int i = 0;
  EXPECT_TRUE(ini.GetInt("SS", "num", 9, i));
  EXPECT_EQ(i, 12);
  EXPECT_TRUE(ini.GetInt("SS", "neg", 9, i));
  EXPECT_EQ(i, -7);
  EXPECT_FALSE(ini.GetInt("SS", "word", 9, i));
  EXPECT_EQ(i, 9);
  EXPECT_FALSE(ini.GetInt("SS", "empty", 8, i));
  EXPECT_EQ(i, 8);
  EXPECT_FALSE(ini.GetInt("SS", "missing", 7, i));
  EXPECT_EQ(i, 7);

  std::uint8_t a, b, c;
  EXPECT_TRUE(ini.GetTriple("SS", "rgb", 1, 1, 1, a, b, c));
  EXPECT_EQ(a, 44);
  EXPECT_EQ(b, 255);
  EXPECT_EQ(c, 2);
  // Fewer than three numbers keep all three defaults.
  for (const char* key : {"one", "two", "word", "missing"}) {
    EXPECT_FALSE(ini.GetTriple("SS", key, 10, 20, 30, a, b, c)) << key;
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);
    EXPECT_EQ(c, 30);
  }
  EXPECT_TRUE(ini.GetTriple("SS", "spaced", 0, 0, 0, a, b, c));
  EXPECT_EQ(c, 3);

  // Writes with an empty section or key change nothing.
  EXPECT_FALSE(ini.SetInt(" ", "k", 1));
  EXPECT_FALSE(ini.SetString("SS", "  ", "v"));
  EXPECT_FALSE(ini.Modified());
}

TEST(IniFileTest, SaveRulesBackupAndMode) {
  TempFolder tmp;
  const std::string path = tmp.File("qmr.ini");
  const std::string bak = path + ".bak";
  IniFile ini;
  EXPECT_FALSE(ini.Load(tmp.Path()));  // a folder is no settings file
  EXPECT_FALSE(ini.Load(path));        // missing file: empty document
  EXPECT_FALSE(ini.Save());            // nothing changed
  ASSERT_TRUE(ini.SetInt("SET", "K", 1));
  EXPECT_TRUE(ini.Modified());
  ASSERT_TRUE(ini.Save());
  EXPECT_FALSE(ini.Modified());
  EXPECT_EQ(ReadWhole(path), "\n[SET]\nK=1\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(stat(bak.c_str(), &st), 0);  // nothing to back up yet

  // A save without a change writes nothing.
  WriteWhole(path, "\n[SET]\nK=hand edit\n");
  EXPECT_FALSE(ini.Save());
  EXPECT_EQ(ReadWhole(path), "\n[SET]\nK=hand edit\n");

  // The first save that finds no backup makes one; later saves keep it.
  ini.SetInt("SET", "K", 2);
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadWhole(bak), "\n[SET]\nK=hand edit\n");
  ini.SetInt("SET", "K", 3);
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadWhole(bak), "\n[SET]\nK=hand edit\n");
  EXPECT_EQ(ReadWhole(path), "\n[SET]\nK=3\n");

  // A file readable by others is narrowed to its owner on save.
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ini.SetInt("SET", "K", 4);
  ASSERT_TRUE(ini.Save());
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // An empty document or an unwritable place is a failure.
  IniFile empty;
  EXPECT_FALSE(empty.Save(tmp.File("none.ini")));
  IniFile bad;
  bad.SetInt("SET", "K", 1);
  EXPECT_FALSE(bad.Save(tmp.File("no/such/folder/x.ini")));
  EXPECT_TRUE(bad.Modified());
}

TEST(IniFileTest, LongValueSurvivesLoadAndSave) {
  TempFolder tmp;
  const std::string path = tmp.File("long.ini");
  std::string value;
  for (int i = 0; i < 5000; ++i) value += static_cast<char>('a' + i % 26);
  WriteWhole(path, "[LL]\nbig=" + value + "\nafter=1\n");
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  std::string v;
  ASSERT_TRUE(ini.GetString("LL", "big", "", v));
  EXPECT_EQ(v, value);
  EXPECT_EQ(ini.GetKeyCount("LL"), 2);  // no piece of it became a line of its own
  ini.SetInt("LL", "after", 2);
  ASSERT_TRUE(ini.Save());
  IniFile back;
  ASSERT_TRUE(back.Load(path));
  ASSERT_TRUE(back.GetString("LL", "big", "", v));
  EXPECT_EQ(v, value);
}

// Writes every key of a map-like list, saves, loads the file again and
// compares each value with what the document held before the save.
void ExpectRoundTrip(const std::vector<std::vector<std::string>>& items, const std::string& path) {
  IniFile ini;
  ini.Load(path);
  std::vector<std::string> held;
  for (const auto& item : items) {
    ASSERT_TRUE(ini.SetString(item[0], item[1], item[2]));
    std::string v;
    ini.GetString(item[0], item[1], "", v);
    held.push_back(v);
  }
  ASSERT_TRUE(ini.Save(path));
  IniFile back;
  ASSERT_TRUE(back.Load(path));
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::string v;
    ASSERT_TRUE(back.GetString(items[i][0], items[i][1], "", v));
    ASSERT_EQ(v, held[i]) << "[" << items[i][0] << "] " << items[i][1] << "=" << items[i][2];
  }
}

TEST(IniFileTest, CommentsAndHashesAcrossSaves) {
  TempFolder tmp;
  const std::string path = tmp.File("qmr.ini");
  WriteWhole(path,
             "[FOLDER]\nAVIDIR=/data/avi   # the big disk\nSERVER=host:2525\t# relay\n"
             "PICDIR=/pic/#1\nMARK=a\\#b\n# whole line\n  #K=v\nTAG=x #\n");
  // A value followed by a comment stays the value after any number of saves.
  for (int round = 0; round < 4; ++round) {
    IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    std::string v, comment;
    ASSERT_TRUE(ini.GetString("FOLDER", "AVIDIR", "", v, &comment));
    EXPECT_EQ(v, "/data/avi") << round;
    EXPECT_EQ(comment, "the big disk");
    ASSERT_TRUE(ini.GetString("FOLDER", "SERVER", "", v));
    EXPECT_EQ(v, "host:2525") << round;
    // A "#" inside a word is part of the value; one after a blank starts a
    // comment, even with nothing after it.
    ASSERT_TRUE(ini.GetString("FOLDER", "PICDIR", "", v));
    EXPECT_EQ(v, "/pic/#1");
    ASSERT_TRUE(ini.GetString("FOLDER", "MARK", "", v));
    EXPECT_EQ(v, "a#b");
    ASSERT_TRUE(ini.GetString("FOLDER", "TAG", "", v));
    EXPECT_EQ(v, "x");
    EXPECT_FALSE(ini.GetString("FOLDER", "K", "", v));
    EXPECT_EQ(ini.GetKeyCount("FOLDER"), round == 0 ? 5 : 6);
    ini.SetInt("FOLDER", "ROUND", round);
    ASSERT_TRUE(ini.Save());
  }

  // Values with "#" anywhere, backslashes before it and every printable
  // character come back as they were written.
  std::string printable;
  for (char c = 32; c < 127; ++c) printable += c;
  std::vector<std::vector<std::string>> items = {
      {"ESC", "all", printable},          {"ESC", "lead", "#start"}, {"ESC", "blank", "a #b # c"},
      {"ESC", "slash", "a\\#b \\\\# \\"}, {"ESC", "only", "#"},      {"ESC", "tail", "ends with #"},
      {"ESC", "tabs", "a\t#b\t\tc"},
  };
  for (char c = 32; c < 127; ++c) {
    std::string key = "k" + std::to_string(static_cast<int>(c));
    items.push_back({"EACH", key, std::string(1, c) + "#" + c + " #" + c + "\\#" + c});
  }
  ExpectRoundTrip(items, tmp.File("escape.ini"));
  IniFile back;
  ASSERT_TRUE(back.Load(tmp.File("escape.ini")));
  std::string v;
  back.GetString("ESC", "all", "", v);
  EXPECT_EQ(v, printable.substr(1));  // only the leading blank is trimmed
  back.GetString("ESC", "slash", "", v);
  EXPECT_EQ(v, "a\\#b \\\\# \\");
  back.GetString("ESC", "tabs", "", v);
  EXPECT_EQ(v, "a #b  c");  // tabs are blanks once written
}

TEST(IniFileTest, RandomDocumentsRoundTrip) {
  TempFolder tmp;
  std::mt19937 rng(20261209);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string nameChars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.:/";
  for (int doc = 0; doc < 40; ++doc) {
    std::vector<std::vector<std::string>> items;
    const int sections = 1 + pick(5);
    for (int s = 0; s < sections; ++s) {
      std::string section(2 + pick(8), 'S');
      for (char& c : section) c = nameChars[pick(static_cast<int>(nameChars.size()))];
      const int keys = pick(12);
      for (int k = 0; k < keys; ++k) {
        std::string key(1 + pick(10), 'K');
        for (char& c : key) c = nameChars[pick(static_cast<int>(nameChars.size()))];
        std::string value(pick(60), 'v');
        // Any byte but the line breaks and NUL: blanks, tabs, "#", "\",
        // "=", brackets and bytes of other encodings.
        for (char& c : value) {
          do c = static_cast<char>(1 + pick(255));
          while (c == '\n' || c == '\r');
          if (pick(4) == 0) c = "# \t\\=[]"[pick(7)];
        }
        items.push_back({section, key, value});
      }
    }
    ExpectRoundTrip(items, tmp.File("fuzz" + std::to_string(doc) + ".ini"));
  }
}

// Limits the size of files this process may write while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  struct rlimit old_ {};
  sighandler_t oldHandler_;
};

TEST(IniFileTest, FailedSaveKeepsOldFileAndTellsWhy) {
  TempFolder tmp;
  const std::string path = tmp.File("qmr.ini");
  const std::string bak = path + ".bak";
  const std::string old = "\n[SET]\nK=old\n";
  WriteWhole(path, old);
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  std::vector<std::string> reasons;
  ini.SetSaveFailureHandler([&](const std::string& why) { reasons.push_back(why); });
  ini.SetString("SET", "K", std::string(4096, 'x'));
  {
    FileSizeLimit full(1024);  // as good as a full disk for this process
    EXPECT_FALSE(ini.Save());
  }
  EXPECT_TRUE(ini.Modified());
  EXPECT_EQ(ReadWhole(path), old);
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_NE(reasons[0].find("File too large"), std::string::npos) << reasons[0];
  EXPECT_EQ(ini.LastSaveError(), reasons[0]);
  struct stat st;
  EXPECT_NE(stat(bak.c_str(), &st), 0);  // the failed save made no backup
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.Path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);  // and left no temporary file behind

  // Once space is back the save goes through; the backup holds the old
  // settings and, like the file, only its owner may read it.
  ASSERT_TRUE(ini.Save());
  EXPECT_TRUE(reasons.size() == 1 && ini.LastSaveError().empty());
  EXPECT_EQ(ReadWhole(bak), old);
  ASSERT_EQ(stat(bak.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A backup left readable by an older version is narrowed too.
  ASSERT_EQ(chmod(bak.c_str(), 0644), 0);
  ini.SetInt("SET", "K", 2);
  ASSERT_TRUE(ini.Save());
  ASSERT_EQ(stat(bak.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadWhole(bak), old);

  // A settings file reached through a symbolic link keeps the link.
  const std::string link = tmp.File("link.ini");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  IniFile linked;
  ASSERT_TRUE(linked.Load(link));
  linked.SetInt("SET", "K", 3);
  ASSERT_TRUE(linked.Save());
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadWhole(path), "\n[SET]\nK=3\n");
}

}  // namespace
}  // namespace qmr
