// Tests of the profile (INI) functions against hand-made files.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <string>

#include "platform/ErrorsUnit.h"
#include "platform/ProfileUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

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
  // Only the first mark is set aside: after a second one "[S]" is no header
  // for a read, so it is none for a write either.
  EXPECT_EQ(UpdateProfileText("\xEF\xBB\xBF\xEF\xBB\xBF[S]", "S", "k", "v"),
            "\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\n\r\n[S]\r\nk=v\r\n");
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

// A section, key or value with CR, LF or NUL would plant lines of its own
// ("x\r\n[Encoder]\r\nFail=1"): the write refuses and the file stays as it was.
TEST(ProfileWrite, LineBreaksAndNulAreNeverWritten) {
  TTempDir dir;
  const std::string path = dir.File("DoorlockSim.ini");
  const std::string original = "[Card]\r\nGuestName=old\r\n";
  const std::string nul("a\0b", 3);
  struct {
    std::string section, key, value;
  } cases[] = {
      {"Card", "GuestName", "\r\n[Encoder]\r\nFail=1"},
      {"Card", "GuestName", "x\nFail=1"},
      {"Card", "GuestName", "x\rFail=1"},
      {"Card", "GuestName", nul},
      {"Card", "Guest\r\nName", "v"},
      {"Card", nul, "v"},
      {"Card]\r\n[Encoder", "Fail", "1"},
      {nul, "k", "v"},
  };
  for (const auto& c : cases) {
    WriteFile(path, original);
    try {
      WriteProfileString(path, c.section, c.key, c.value);
      ADD_FAILURE() << "written: " << c.section << "/" << c.key << "/" << c.value;
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_FALSE(velio_test::Exists(path + ".tmp"));
  }
  // Nor is a missing file created for one.
  const std::string fresh = dir.File("fresh.ini");
  EXPECT_THROW(WriteProfileString(fresh, "S", "k", "a\r\nb"), EInOutError);
  EXPECT_FALSE(velio_test::Exists(fresh));
  EXPECT_TRUE(IsProfileText("plain \t text \xB2\xE2"));
  EXPECT_FALSE(IsProfileText("a\rb"));
}

// A file that exists but cannot be read is not a missing one: the read says so
// instead of giving the default, and the write refuses instead of replacing the
// file with one holding a single section.
TEST(ProfileRead, UnreadableFileIsNotAMissingOne) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  const std::string original = "[SysOption]\r\nPassword=secret\r\n";
  auto expectRefused = [&](const std::string& where) {
    try {
      ReadProfileString(path, "SysOption", "Password", "dflt");
      ADD_FAILURE() << where << ": read gave a value";
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to read " + path) << where;
    }
    try {
      WriteProfileString(path, "SysOption", "Password", "x");
      ADD_FAILURE() << where << ": written";
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path) << where;
    }
  };

  // A folder of that name.
  std::filesystem::create_directory(path);
  expectRefused("folder");
  EXPECT_TRUE(std::filesystem::is_empty(path));
  std::filesystem::remove(path);

#ifndef _WIN32
  // No read permission (an ordinary user: root reads anything).
  WriteFile(path, original);
  ::chmod(path.c_str(), 0200);
  ::chmod(dir.Path().c_str(), 0777);
  int rc = velio_test::RunUnprivileged([&] {
    try {
      ReadProfileString(path, "SysOption", "Password", "dflt");
      return 1;
    } catch (const EInOutError&) {
    }
    try {
      WriteProfileString(path, "SysOption", "Password", "x");
      return 2;
    } catch (const EInOutError& e) {
      return std::string(e.what()) == "Unable to write to " + path ? 0 : 3;
    }
  });
  EXPECT_EQ(rc, 0) << "1: read gave the default, 2: written, 3: wrong message";
  ::chmod(path.c_str(), 0644);
  ::chmod(dir.Path().c_str(), 0755);
  EXPECT_EQ(ReadFile(path), original);

  // No descriptor left: the open fails with EMFILE. Nothing that needs a
  // descriptor runs between lowering the limit and restoring it.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::string readWhat = "(no error)", writeWhat = "(no error)";
  try {
    ReadProfileString(path, "SysOption", "Password", "dflt");
  } catch (const EInOutError& e) {
    readWhat = e.what();
  }
  try {
    WriteProfileString(path, "SysOption", "Password", "x");
  } catch (const EInOutError& e) {
    writeWhat = e.what();
  }
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(readWhat, "Unable to read " + path);
  EXPECT_EQ(writeWhat, "Unable to write to " + path);
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_EQ(ReadProfileString(path, "SysOption", "Password", "dflt"), "secret");
#endif
}

#ifndef _WIN32
// The atomic replacement keeps the file's mode and owner.
TEST(ProfileWrite, KeepsTheFilesModeAndOwner) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  for (mode_t mode : {0600, 0640, 0604, 0660, 0751}) {
    WriteFile(path, "[S]\r\nk=0\r\n");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    WriteProfileString(path, "S", "k", std::to_string(mode));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
    EXPECT_EQ(ReadProfileString(path, "S", "k", ""), std::to_string(mode));
  }
  // Root gives the new file the old one's owner and group.
  const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
  const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
  WriteFile(path, "[S]\r\nk=0\r\n");
  ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  WriteProfileString(path, "S", "k", "owned");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, owner);
  EXPECT_EQ(st.st_gid, group);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadProfileString(path, "S", "k", ""), "owned");
}

// A symbolic link is written through: its target gets the new contents and the
// link stays a link.
TEST(ProfileWrite, WritesThroughSymbolicLinks) {
  TTempDir dir;
  namespace fs = std::filesystem;
  fs::create_directory(dir.File("conf"));
  const std::string target = dir.File("conf/Option.ini");
  struct {
    const char* name;
    std::string pointsTo;  // relative to the link's folder, or absolute
    bool viaSecondLink;
  } cases[] = {
      {"relative", "conf/Option.ini", false},
      {"absolute", target, false},
      {"chain", "conf/Option.ini", true},
  };
  for (const auto& c : cases) {
    WriteFile(target, "[S]\r\nk=old\r\n");
    const std::string link = dir.File(std::string(c.name) + ".ini");
    fs::create_symlink(c.pointsTo, link);
    std::string written = link;
    if (c.viaSecondLink) {
      written = dir.File(std::string(c.name) + "2.ini");
      fs::create_symlink(std::string(c.name) + ".ini", written);
    }
    WriteProfileString(written, "S", "k", c.name);
    EXPECT_TRUE(fs::is_symlink(link)) << c.name;
    EXPECT_TRUE(fs::is_symlink(written)) << c.name;
    EXPECT_EQ(ReadFile(target), std::string("[S]\r\nk=") + c.name + "\r\n") << c.name;
    EXPECT_FALSE(velio_test::Exists(target + ".tmp")) << c.name;
  }
  // A link whose target does not exist yet: the target is created.
  const std::string dangling = dir.File("dangling.ini");
  fs::create_symlink("conf/New.ini", dangling);
  WriteProfileString(dangling, "S", "k", "v");
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(ReadFile(dir.File("conf/New.ini")), "[S]\r\nk=v\r\n");
}
#endif  // !_WIN32

}  // namespace
