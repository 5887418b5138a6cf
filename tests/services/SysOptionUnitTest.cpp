// Tests of the system options in Option.ini.
#include <gtest/gtest.h>

#include <string>

#include "platform/ErrorsUnit.h"
#include "platform/ProfileUnit.h"
#include "services/SysOptionUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

namespace {

using velio_test::ReadFile;
using velio_test::TTempDir;
using velio_test::WriteFile;

TEST(SysOption, MissingFileGivesDefaultsAndCreatesNothing) {
  TTempDir dir;
  TSysOption opt(dir.File("Option.ini"));
  EXPECT_EQ(opt.Password, "");
  EXPECT_EQ(opt.MemberPortNo, 0);
  opt.Load();
  EXPECT_EQ(opt.DoorlockPortNo, 8886);
  EXPECT_EQ(opt.PolicePortNo, 8885);
  EXPECT_EQ(opt.MemberPortNo, 8883);
  EXPECT_EQ(opt.ScanPortNo, 8881);
  EXPECT_EQ(opt.Password, "qelvan");
  EXPECT_EQ(opt.DelayMinutes, 0);
  EXPECT_EQ(opt.DelayMinutes2, 0);
  EXPECT_FALSE(opt.UseNativeDoorlockDb);
  EXPECT_FALSE(opt.SaveDoorlockRecord);
  EXPECT_FALSE(velio_test::Exists(opt.FileName));
}

TEST(SysOption, LoadsValuesAndEdgeCases) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  WriteFile(path,
            "[SysOption]\r\n"
            "Password = \" pass word \"\r\n"
            "DoorlockPortNo=abc\r\n"
            "PolicePortNo=$22B5\r\n"
            "MemberPortNo=0x22B3\r\n"
            "ScanPortNo= 9000 \r\n"
            "[DoorlockOption]\r\n"
            "DelayMinutes=-5\r\n"
            "DelayMinutes2=99999999999\r\n"
            "UseNativeDoorlockDb=2\r\n"
            "SaveDoorlockRecord=yes\r\n");
  TSysOption opt(path);
  opt.Load();
  EXPECT_EQ(opt.Password, " pass word ");
  EXPECT_EQ(opt.DoorlockPortNo, 8886);  // abc: the default
  EXPECT_EQ(opt.PolicePortNo, 8885);
  EXPECT_EQ(opt.MemberPortNo, 8883);
  EXPECT_EQ(opt.ScanPortNo, 9000);
  EXPECT_EQ(opt.DelayMinutes, -5);
  EXPECT_EQ(opt.DelayMinutes2, 0);  // too large for 32 bits: the default
  EXPECT_TRUE(opt.UseNativeDoorlockDb);
  EXPECT_FALSE(opt.SaveDoorlockRecord);  // yes: the default

  // Saved by an editor as UTF-8 with a byte-order mark: [SysOption] is still found.
  WriteFile(path, "\xEF\xBB\xBF[SysOption]\r\nMemberPortNo=9123\r\n");
  TSysOption marked(path);
  marked.Load();
  EXPECT_EQ(marked.MemberPortNo, 9123);
}

TEST(SysOption, IntegerAndBooleanRules) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  struct {
    const char* text;
    int32_t value;  // read with default 77
  } ints[] = {{"0x22B3", 8883},
              {"0X10", 16},
              {"$10", 16},
              {"-5", -5},
              {"+5", 5},
              {"0x", 77},
              {"", 77},
              {"abc", 77},
              {"1 2", 77},
              {"\"12\"", 12},
              {"0xG1", 77},
              {"08", 8},
              {"2147483647", 2147483647},
              // Hexadecimal only after a leading "0x", "0X" or "$".
              {"x1F90", 77},
              {"X10", 77},
              {"-0x10", 77},
              {"+$10", 77},
              {"-$10", 77},
              {"0X1f", 31},
              {"-0", 0}};
  for (const auto& c : ints) {
    WriteFile(path, std::string("[S]\nk=") + c.text + "\n");
    EXPECT_EQ(ReadProfileInteger(path, "S", "k", 77), c.value) << c.text;
  }
  struct {
    const char* text;
    bool withTrue, withFalse;  // read with default true, with default false
  } bools[] = {{"1", true, true},  {"0", false, false},  {"2", true, true},
               {"-1", true, true}, {"yes", true, false}, {"", true, false}};
  for (const auto& c : bools) {
    WriteFile(path, std::string("[S]\nb=") + c.text + "\n");
    EXPECT_EQ(ReadProfileBool(path, "S", "b", true), c.withTrue) << c.text;
    EXPECT_EQ(ReadProfileBool(path, "S", "b", false), c.withFalse) << c.text;
  }
  EXPECT_EQ(ReadProfileInteger(dir.File("none.ini"), "S", "k", 5), 5);
}

TEST(SysOption, SaveWritesAllKeysAndKeepsMemberOption) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  const std::string member =
      "[MemberOption]\r\n"
      "Key=FFFFFFFFFFFF\r\n"
      "KeyFlag = 0 ; by hand\r\n"
      "Sector=1\r\n";
  WriteFile(path, member + "\r\n[SysOption]\r\nPassword=old\r\nMemberPortNo=0x22B3\r\n");
  TSysOption opt(path);
  opt.Load();
  opt.Password = "new";
  opt.DelayMinutes = -5;
  opt.UseNativeDoorlockDb = true;
  opt.Save();
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.substr(0, member.size()), member);
  EXPECT_EQ(text,
            member +
                "\r\n[SysOption]\r\nPassword=new\r\nMemberPortNo=8883\r\nDoorlockPortNo=8886\r\n"
                "PolicePortNo=8885\r\nScanPortNo=8881\r\n"
                "\r\n[DoorlockOption]\r\nDelayMinutes=-5\r\nDelayMinutes2=0\r\n"
                "UseNativeDoorlockDb=1\r\nSaveDoorlockRecord=0\r\n");
  TSysOption again(path);
  again.Load();
  EXPECT_EQ(again.Password, "new");
  EXPECT_EQ(again.MemberPortNo, 8883);
  EXPECT_EQ(again.DelayMinutes, -5);
  EXPECT_TRUE(again.UseNativeDoorlockDb);
  EXPECT_FALSE(again.SaveDoorlockRecord);
}

TEST(SysOption, SaveCreatesTheFile) {
  TTempDir dir;
  TSysOption opt(dir.File("Option.ini"));
  opt.Load();
  opt.Save();
  EXPECT_EQ(ReadFile(opt.FileName),
            "[SysOption]\r\nPassword=qelvan\r\nDoorlockPortNo=8886\r\nPolicePortNo=8885\r\n"
            "MemberPortNo=8883\r\nScanPortNo=8881\r\n\r\n[DoorlockOption]\r\nDelayMinutes=0\r\n"
            "DelayMinutes2=0\r\nUseNativeDoorlockDb=0\r\nSaveDoorlockRecord=0\r\n");
}

TEST(SysOption, SaveToReadOnlyFileFailsWithFullPath) {
  TTempDir dir;
  const std::string path = dir.File("Option.ini");
  const std::string original = "[SysOption]\r\nPassword=old\r\n[MemberOption]\r\nSector=1\r\n";
  WriteFile(path, original);
  velio_test::MakeReadOnly(dir.Path(), path);
  int rc = velio_test::RunUnprivileged([&] {
    TSysOption opt(path);
    opt.Load();
    opt.Password = "new";
    try {
      opt.Save();
    } catch (const EInOutError& e) {
      return std::string(e.what()) == "Unable to write to " + path ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(rc, 0) << "1: no error, 2: wrong message";
  EXPECT_EQ(ReadFile(path), original);
}

}  // namespace
