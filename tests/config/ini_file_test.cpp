#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

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
  EXPECT_EQ(v, "value \t\t");
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
            "\n[CD]\nt=a b\tc\ntail=value \t\t\t\t\t#c\ne=still CD\n"
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

}  // namespace
}  // namespace qmr
