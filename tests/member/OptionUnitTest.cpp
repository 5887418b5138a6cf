// The member card options: defaults, integer rules, port numbers, saving.
#include <gtest/gtest.h>

#include <filesystem>

#include "member/OptionUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"
#include "platform/ProfileUnit.h"
#include "tests/support/FileSupport.h"
#include "tests/support/TempDirSupport.h"

using velio_test::ReadFile;
using velio_test::TTempDir;
using velio_test::WriteFile;

namespace {

TEST(TOptionTest, MissingFileGivesDefaultsAndCreatesNothing) {
  TTempDir dir;
  TOption o(dir.Path() + "Option.ini");
  o.Load();
  EXPECT_EQ(o.PortName(), "COM1");
  EXPECT_EQ(o.Sector(), 4);
  EXPECT_EQ(o.Block(), 0);
  EXPECT_EQ(o.Key(), "7D2A9C41E6B3");
  EXPECT_EQ(o.KeyFlag(), "KEY_A");
  EXPECT_EQ(o.PortNumber(), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "Option.ini"));
}

TEST(TOptionTest, ReadsIntegersByTheOptionFileRules) {
  struct Case {
    const char* text;
    int32_t sector;
  } cases[] = {{"0x10", 16}, {"0X1f", 31}, {"$10", 16},  {"abc", 4}, {"12", 12},
               {"-3", -3},   {"0x", 4},    {"", 4},      {"7 x", 4}, {"99999999999", 4},
               {"x10", 4},   {"X10", 4},   {"-0x10", 4}, {"+$10", 4}};
  TTempDir dir;
  const std::string file = dir.Path() + "Option.ini";
  for (const Case& c : cases) {
    WriteFile(file, std::string("[MemberOption]\r\nSector=") + c.text + "\r\nBlock=2\r\n");
    TOption o(file);
    o.Load();
    EXPECT_EQ(o.Sector(), c.sector) << c.text;
    EXPECT_EQ(o.Block(), 2);
  }
}

TEST(TOptionTest, ReadsTextValuesAsWritten) {
  TTempDir dir;
  const std::string file = dir.Path() + "Option.ini";
  WriteFile(file, "[MemberOption]\r\nPortName=com1\r\nKey=c05e83f19a27\r\nKeyFlag=key_b\r\n");
  TOption o(file);
  o.Load();
  EXPECT_EQ(o.PortName(), "com1");
  EXPECT_EQ(o.PortNumber(), std::nullopt);  // exact, case-sensitive
  EXPECT_EQ(o.Key(), "c05e83f19a27");
  EXPECT_EQ(o.KeyFlag(), "key_b");
}

TEST(TOptionTest, PortNumbers) {
  EXPECT_EQ(TOption::PortNumberOf("USB"), -1);
  for (int i = 0; i <= 9; ++i) EXPECT_EQ(TOption::PortNumberOf("COM" + std::to_string(i)), i);
  for (const char* name : {"", "usb", "COM", "COM10", "com1", "COM1 ", " COM1", "LPT1", "COMA"})
    EXPECT_EQ(TOption::PortNumberOf(name), std::nullopt) << name;
}

TEST(TOptionTest, SaveWritesTheSectionAndKeepsTheOthers) {
  TTempDir dir;
  const std::string file = dir.Path() + "Option.ini";
  const std::string others =
      "[SysOption]\r\nPassword=secret\r\nMemberPortNo=9000\r\n\r\n"
      "[DoorlockOption]\r\nDelayMinutes=5\r\n";
  WriteFile(file, others + "\r\n[MemberOption]\r\nPortName=COM2\r\nUnknown=keep\r\n");
  TOption o(file);
  o.Load();
  o.SetPortName("USB");
  o.SetSector(16);
  o.SetBlock(2);
  o.SetKey("C05E83F19A27");
  o.SetKeyFlag("KEY_B");
  o.Save();

  const std::string after = ReadFile(file);
  EXPECT_EQ(after.substr(0, others.size()), others);
  EXPECT_EQ(ReadProfileString(file, "SysOption", "Password", ""), "secret");
  EXPECT_EQ(ReadProfileString(file, "MemberOption", "Unknown", ""), "keep");
  // New keys follow in the order PortName, Sector, Block, Key, KeyFlag.
  const size_t p = after.find("PortName=USB"), s = after.find("Sector=16"),
               b = after.find("Block=2"), k = after.find("Key=C05E83F19A27"),
               f = after.find("KeyFlag=KEY_B");
  ASSERT_NE(f, std::string::npos);
  EXPECT_LT(p, s);
  EXPECT_LT(s, b);
  EXPECT_LT(b, k);
  EXPECT_LT(k, f);

  TOption reread(file);
  reread.Load();
  const TMemberSettings st = reread.Settings();
  EXPECT_EQ(st.PortName, "USB");
  EXPECT_EQ(st.Sector, 16);
  EXPECT_EQ(st.Block, 2);
  EXPECT_EQ(st.Key, "C05E83F19A27");
  EXPECT_EQ(st.KeyFlag, "KEY_B");
}

TEST(TOptionTest, SaveToAnUnwritablePlaceRaises) {
  TTempDir dir;
  TOption o(dir.Path() + "missing-folder/Option.ini");
  o.Load();
  EXPECT_THROW(o.Save(), EInOutError);
}

TEST(TOptionTest, DialogShowsThePortEntryWhateverItsCaseAndTheNumbersInDecimal) {
  struct Case {
    const char* stored;
    const char* shown;
  } cases[] = {{"com9", "COM9"}, {"Usb", "USB"}, {"COM10", ""}, {"", ""}, {"COM 1", ""}};
  for (const auto& c : cases) {
    const TMemberOptionInput shown = MemberOptionInputOf({c.stored, 16, -2, "not a key", "KEY_C"});
    EXPECT_EQ(shown.PortName, c.shown) << c.stored;
    EXPECT_EQ(shown.Sector, "16");
    EXPECT_EQ(shown.Block, "-2");
    EXPECT_EQ(shown.Key, "not a key");
    EXPECT_EQ(shown.KeyFlag, "KEY_C");
  }
}

TEST(TOptionTest, DialogInputIsAssignedInOrderUpToTheFirstBadNumber) {
  struct Case {
    const char* block;
    const char* sector;
    int32_t blockAfter, sectorAfter;
    bool saved;
  } cases[] = {{"$2", "12", 2, 12, true},
               {"x", "12", 0, 4, false},    // nothing after the port
               {"3", "abc", 3, 4, false}};  // the block stays assigned
  for (const auto& c : cases) {
    TTempDir dir;
    TOption o(dir.Path() + "Option.ini");
    o.Load();
    const TMemberOptionInput input{"COM4", c.block, c.sector, "C05E83F19A27", "KEY_B"};
    if (c.saved) {
      ApplyMemberOptionInput(o, input);
    } else {
      EXPECT_THROW(ApplyMemberOptionInput(o, input), EConvertError) << c.block;
    }
    EXPECT_EQ(o.PortName(), "COM4");
    EXPECT_EQ(o.Block(), c.blockAfter) << c.block;
    EXPECT_EQ(o.Sector(), c.sectorAfter) << c.sector;
    EXPECT_EQ(o.KeyFlag(), c.saved ? "KEY_B" : "KEY_A");
    EXPECT_EQ(std::filesystem::exists(dir.Path() + "Option.ini"), c.saved);
  }
}

TEST(TOptionTest, InitLoadsFromTheHomeDirectory) {
  TTempDir dir;
  WriteFile(dir.Path() + "Option.ini", "[MemberOption]\r\nBlock=3\r\n");
  SetHomeDir(dir.Path());
  InitMemberOptions();
  ASSERT_NE(MemberOptions, nullptr);
  EXPECT_EQ(MemberOptions->FileName, dir.Path() + "Option.ini");
  EXPECT_EQ(MemberOptions->Block(), 3);
  EXPECT_EQ(MemberOptions->Sector(), 4);
  FinalizeMemberOptions();
  EXPECT_EQ(MemberOptions, nullptr);
  SetHomeDir("");
}

}  // namespace
