// Tests of the profile (INI) functions against hand-made files.
#include <gtest/gtest.h>

#include <string>

#include "platform/ErrorsUnit.h"
#include "platform/ProfileUnit.h"
#include "tests/platform/TestFiles.h"

namespace {

using velio_test::ReadFile;
using velio_test::TTempDir;
using velio_test::WriteFile;

const char kFile[] =
    "; hand-made\r\n"
    "[SysOption]\r\n"
    "Password=qelvan\r\n"
    "Key2=second\r\n"
    "Key=first\r\n"
    "  Spaced  =   padded value   \r\n"
    "Dq=\"  quoted  \"\r\n"
    "Sq='single'\r\n"
    "Mixed=\"half'\r\n"
    "Inner=a \"b\" c\r\n"
    "OnlyQuote=\"\r\n"
    "Empty=\r\n"
    "Eq=a=b\r\n"
    "\r\n"
    "[ DoorlockOption ]\r\n"
    "DelayMinutes=-5\r\n"
    "[sysoption]\r\n"
    "Password=shadowed\r\n";

TEST(ProfileRead, LookupRules) {
  struct {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"SysOption", "Password", "qelvan"},
      {"SYSOPTION", "password", "qelvan"},  // letter case of names does not count
      {"SysOption", "Key", "first"},        // Key2 is another key
      {"SysOption", "Key2", "second"},
      {"SysOption", "Spaced", "padded value"},
      {"SysOption", "Dq", "  quoted  "},  // blanks inside the quotes stay
      {"SysOption", "Sq", "single"},
      {"SysOption", "Mixed", "\"half'"},  // quotes that do not pair stay
      {"SysOption", "Inner", "a \"b\" c"},
      {"SysOption", "OnlyQuote", "\""},
      {"SysOption", "Empty", ""},
      {"SysOption", "Eq", "a=b"},
      {"DoorlockOption", "DelayMinutes", "-5"},  // blanks around a section name
      {"SysOption", "Ke", "<def>"},
      {"SysOption", "DelayMinutes", "<def>"},
      {"MemberOption", "Key", "<def>"},
      {"", "Password", "<def>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadProfileStringFromText(kFile, c.section, c.key, "<def>"), c.value)
        << c.section << "/" << c.key;
}

// The one-pass section read gives every key what the single-key lookup gives
// it (the first key line of a name decides), and holds no key the lookup
// would not find.
TEST(ProfileRead, SectionReadAgreesWithLookups) {
  const std::string files[] = {
      kFile,
      "[A]\nx=1\n[B]\nx=2\ny=3",
      "[A]\rx=1\r[a]\rx=2\r",
      "k=outside\r\n[S]\r\nK=\"q\"\r\nk=second\r\nno equals\r\n=empty key\r\n",
      "[\x81\x61s]\n\x81\x61k=1\n[\x81\x41s]\n\x81\x41k=2\n",
      "",
      "\xEF\xBB\xBF[A]\r\nx=1\r\n[B]\r\ny=2\r\n",  // a UTF-8 mark does not hide [A]
      "\xEF\xBB\xBFx=outside\r\n[S]\r\nk=1\r\n",
  };
  const char* sections[] = {"SysOption", "DoorlockOption", "A",       "B", "S",
                            "\x81\x61S", "\x81\x41s",      "Missing", ""};
  const char* keys[] = {"Password", "Key", "Dq", "Eq", "x", "y", "k", "", "\x81\x61K", "none"};
  for (const std::string& text : files) {
    for (const char* section : sections) {
      bool found = false;
      const auto entries = ReadProfileSectionFromText(text, section, found);
      EXPECT_TRUE(found || entries.empty());
      for (const char* key : keys) {
        std::string expected = "<def>";
        for (const auto& [k, v] : entries) {
          if (AnsiSameText(k, key)) {
            expected = v;
            break;
          }
        }
        EXPECT_EQ(ReadProfileStringFromText(text, section, key, "<def>"), expected)
            << "[" << section << "] " << key << " in " << text.substr(0, 20);
      }
    }
  }
  bool found = false;
  const auto sys = ReadProfileSectionFromText(kFile, "sysoption", found);
  ASSERT_TRUE(found);
  ASSERT_EQ(sys.size(), 11u);  // the first [SysOption] only
  EXPECT_EQ(sys[0], (std::pair<AnsiString, AnsiString>{"Password", "qelvan"}));
  EXPECT_EQ(sys[3], (std::pair<AnsiString, AnsiString>{"Spaced", "padded value"}));
  EXPECT_EQ(sys[4], (std::pair<AnsiString, AnsiString>{"Dq", "  quoted  "}));
  EXPECT_TRUE(ReadProfileSectionFromText("[Empty]\r\n", "empty", found).empty());
  EXPECT_TRUE(found);
  EXPECT_TRUE(ReadProfileSectionFromText(kFile, "MemberOption", found).empty());
  EXPECT_FALSE(found);
  EXPECT_EQ(ReadProfileSectionFromText("\xEF\xBB\xBF[A]\nx=1\n", "A", found).size(), 1u);
  EXPECT_TRUE(found);
}

TEST(ProfileRead, FromFileAndMissingFile) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  EXPECT_EQ(ReadProfileString(path, "SysOption", "Password", "dflt"), "dflt");
  EXPECT_FALSE(velio_test::Exists(path));
  WriteFile(path, kFile);
  EXPECT_EQ(ReadProfileString(path, "SysOption", "Password", "dflt"), "qelvan");
  EXPECT_EQ(ReadProfileString(path, "SysOption", "Missing", "dflt"), "dflt");
  EXPECT_FALSE(ProfileStartsWithUtf8Bom(path));
  // Saved by an editor as UTF-8: the mark is skipped, the first section found.
  WriteFile(path,
            std::string("\xEF\xBB\xBF") + std::string(kFile).substr(std::string(kFile).find('[')));
  EXPECT_EQ(ReadProfileString(path, "SysOption", "Password", "dflt"), "qelvan");
  EXPECT_TRUE(ProfileStartsWithUtf8Bom(path));
  WriteFile(path, "\xEF\xBB");  // a cut-off mark is no mark
  EXPECT_FALSE(ProfileStartsWithUtf8Bom(path));
  EXPECT_FALSE(ProfileStartsWithUtf8Bom(dir.File("missing.ini")));
}

TEST(ProfileRead, LineEnds) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    std::string text = std::string("[A]") + eol + "x=1" + eol + "[B]" + eol + "x=2" + eol + "y=3";
    EXPECT_EQ(ReadProfileStringFromText(text, "A", "x", ""), "1");
    EXPECT_EQ(ReadProfileStringFromText(text, "B", "x", ""), "2");
    EXPECT_EQ(ReadProfileStringFromText(text, "B", "y", ""), "3");  // no line end at the end
    EXPECT_EQ(ReadProfileStringFromText(text, "A", "y", "-"), "-");
  }
}

TEST(ProfileRead, LongValuesAreCutTo2047) {
  const std::string longValue(3000, 'v');
  std::string text = "[S]\nLong=" + longValue + "\nQuoted=\"" + longValue +
                     "\"\nExact=" + std::string(2047, 'e') + "\n";
  EXPECT_EQ(ReadProfileStringFromText(text, "S", "Long", ""), std::string(2047, 'v'));
  EXPECT_EQ(ReadProfileStringFromText(text, "S", "Quoted", ""), std::string(2047, 'v'));
  EXPECT_EQ(ReadProfileStringFromText(text, "S", "Exact", ""), std::string(2047, 'e'));
}

TEST(ProfileRead, GbkNamesCompareByCharacter) {
  // 0x81 0x61 and 0x81 0x41 differ although their trail bytes look like a and A.
  const std::string text = "[\x81\x61s]\n\x81\x61k=1\n[\x81\x41s]\n\x81\x41k=2\n";
  EXPECT_EQ(ReadProfileStringFromText(text, "\x81\x61S", "\x81\x61K", ""), "1");
  EXPECT_EQ(ReadProfileStringFromText(text, "\x81\x41S", "\x81\x41K", ""), "2");
  EXPECT_EQ(ReadProfileStringFromText(text, "\x81\x41s", "\x81\x61k", "-"), "-");
}

TEST(ProfileUpdate, ReplacesOnlyTheKeyLine) {
  const std::string text = kFile;
  std::string out = UpdateProfileText(text, "sysoption", "key", "new");
  std::string want = text;
  want.replace(want.find("Key=first"), 9, "key=new");
  EXPECT_EQ(out, want);
  EXPECT_EQ(ReadProfileStringFromText(out, "SysOption", "Key2", ""), "second");

  out = UpdateProfileText(text, "DoorlockOption", "DelayMinutes", "7");
  want = text;
  want.replace(want.find("DelayMinutes=-5"), 15, "DelayMinutes=7");
  EXPECT_EQ(out, want);
}

TEST(ProfileUpdate, AddsKeyAfterLastLineOfItsSection) {
  const std::string text = "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n";
  EXPECT_EQ(UpdateProfileText(text, "A", "x2", "v"), "[A]\r\nx=1\r\nx2=v\r\n\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(UpdateProfileText(text, "B", "z", "v"), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\nz=v\r\n");
  // A last line without a line end gets one.
  EXPECT_EQ(UpdateProfileText("[B]\ny=2", "B", "z", "v"), "[B]\ny=2\nz=v");
  EXPECT_EQ(UpdateProfileText("[B]", "B", "z", "v"), "[B]\r\nz=v");
}

TEST(ProfileUpdate, AppendsNewSectionInTheFilesLineEnds) {
  EXPECT_EQ(UpdateProfileText("", "S", "k", "v"), "[S]\r\nk=v\r\n");
  // A UTF-8 mark stays in front; the section after it is updated, not added again.
  EXPECT_EQ(UpdateProfileText("\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "2"),
            "\xEF\xBB\xBF[S]\r\nk=2\r\n");
  EXPECT_EQ(UpdateProfileText("\xEF\xBB\xBF[S]\r\n", "T", "k", "v"),
            "\xEF\xBB\xBF[S]\r\n\r\n[T]\r\nk=v\r\n");
  EXPECT_EQ(UpdateProfileText("[A]\nx=1\n", "S", "k", "v"), "[A]\nx=1\n\n[S]\nk=v\n");
  EXPECT_EQ(UpdateProfileText("[A]\r\nx=1", "S", "k", "v"), "[A]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n");
}

TEST(ProfileWrite, KeepsEveryOtherByte) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  const std::string original =
      "[SysOption]\r\nPassword=qelvan\r\n  MemberPortNo = 8883  ; port\r\n\r\n"
      "[MemberOption]\nKey=FFFFFFFFFFFF\n\xB2\xE2\xCA\xD4=\xD6\xD0\xCE\xC4\n";
  WriteFile(path, original);
  WriteProfileString(path, "SysOption", "Password", "secret");
  std::string want = original;
  want.replace(want.find("Password=qelvan"), 15, "Password=secret");
  EXPECT_EQ(ReadFile(path), want);
  EXPECT_FALSE(velio_test::Exists(path + ".tmp"));
}

TEST(ProfileWrite, CreatesMissingFile) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  WriteProfileString(path, "SysOption", "Password", "x");
  EXPECT_EQ(ReadFile(path), "[SysOption]\r\nPassword=x\r\n");
  WriteProfileString(path, "DoorlockOption", "DelayMinutes", "3");
  EXPECT_EQ(ReadFile(path),
            "[SysOption]\r\nPassword=x\r\n\r\n[DoorlockOption]\r\nDelayMinutes=3\r\n");
}

TEST(ProfileWrite, ReadOnlyFileFailsAndStaysIntact) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  const std::string original = "[SysOption]\r\nPassword=qelvan\r\n";
  WriteFile(path, original);
  velio_test::MakeReadOnly(dir.Path(), path);
  int rc = velio_test::RunUnprivileged([&] {
    try {
      WriteProfileString(path, "SysOption", "Password", "changed");
    } catch (const EInOutError& e) {
      return std::string(e.what()) == "Unable to write to " + path ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(rc, 0) << "1: no error, 2: wrong message";
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_FALSE(velio_test::Exists(path + ".tmp"));
}

TEST(ProfileWrite, UnwritableFolderFails) {
  TTempDir dir;
  const std::string path = dir.File("missing") + "/Option.ini";
  EXPECT_THROW(WriteProfileString(path, "S", "k", "v"), EInOutError);
}

}  // namespace
