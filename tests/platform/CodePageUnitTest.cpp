// Tests of the code page 936 conversions, letter-case folding and the integer
// syntax.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/CodePageUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/ErrorsUnit.h"

namespace {

TEST(CodePage, ChineseTextHasItsGbkBytes) {
  // 写卡成功 in GBK.
  const std::string gbk = "\xD0\xB4\xBF\xA8\xB3\xC9\xB9\xA6";
  EXPECT_EQ(Utf8ToAnsi("写卡成功"), gbk);
  EXPECT_EQ(Lit("写卡成功"), gbk);
  EXPECT_EQ(WideToAnsi(u"写卡成功"), gbk);
  EXPECT_EQ(AnsiToWide(gbk), u"写卡成功");
  EXPECT_EQ(AnsiToUtf8(gbk), "写卡成功");
  EXPECT_EQ(Utf8ToAnsi("TarvikVelio会员卡接口"),
            "TarvikVelio\xBB\xE1\xD4\xB1\xBF\xA8\xBD\xD3\xBF\xDA");
}

TEST(CodePage, EuroSignIs0x80) {
  EXPECT_EQ(WideToAnsi(u"\u20AC"), "\x80");
  EXPECT_EQ(Utf8ToAnsi("€5"),
            "\x80"
            "5");
  EXPECT_EQ(AnsiToWide("\x80"), u"\u20AC");
  EXPECT_EQ(AnsiToUtf8("\x80"), "€");
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
  // Thai letter, a lone surrogate and an emoji (two UTF-16 units) are not in code page 936.
  EXPECT_EQ(WideToAnsi(u"a\u0E01b"), "a?b");
  EXPECT_EQ(WideToAnsi(std::u16string{u'x', char16_t(0xD800), u'y'}), "x?y");
  EXPECT_EQ(WideToAnsi(u"\U0001F600"), "??");
  EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");  // malformed UTF-8
  EXPECT_EQ(Utf8ToAnsi("\xE0\xB8\x81"
                       "z"),
            "?z");                        // Thai again, as UTF-8
  EXPECT_EQ(AnsiToWide("a\x81"), u"a?");  // a lead byte cut off
  EXPECT_EQ(WideToAnsi(u"中文\u0E01中文"), Lit("中文") + "?" + Lit("中文"));
}

TEST(CodePage, PlainAsciiAndEmpty) {
  EXPECT_EQ(WideToAnsi(u""), "");
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(WideToAnsi(u"abc\r\n"), "abc\r\n");
  EXPECT_EQ(AnsiToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(CodePage, LongMixedTextRoundTrips) {
  std::u16string text;
  for (int i = 0; i < 3000; ++i)
    text += u"会员卡 card 第" + std::u16string(1, char16_t(u'0' + i % 10));
  AnsiString ansi = WideToAnsi(text);
  EXPECT_EQ(AnsiToWide(ansi), text);
}

TEST(CodePage, ConversionsOnSeveralThreads) {
  auto work = [] {
    for (int i = 0; i < 200; ++i) {
      if (WideToAnsi(u"写卡成功\u0E01") != Lit("写卡成功") + "?") return false;
      if (AnsiToWide(Lit("读卡失败")) != u"读卡失败") return false;
    }
    return true;
  };
  bool ok1 = false, ok2 = false;
  std::thread t1([&] { ok1 = work(); });
  std::thread t2([&] { ok2 = work(); });
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

#ifndef _WIN32
// A converter that fails to open (no descriptor left for its module) raises
// instead of giving '?' for every character, and is opened again by the same
// thread once descriptors are back (tests/platform/CodePageProbe.cpp).
TEST(CodePage, ConverterThatFailsToOpenIsNotKeptForTheThread) {
  const std::string probe = std::string(VELIO_BIN_DIR) + "/velio_codepage_probe";
  const int status = std::system(probe.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << probe;
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "20: the converter opened without descriptors, so nothing was tested; 21: text came "
         "back unconverted; 22, 23: the thread could not convert again";
}
#endif  // !_WIN32

TEST(CodePage, LetterCaseSkipsTrailBytes) {
  EXPECT_EQ(AnsiUpperCase("abcXyz09"), "ABCXYZ09");
  // The trail byte 0x61 of 0x81 0x61 looks like 'a' and must stay.
  EXPECT_EQ(AnsiUpperCase("a\x81\x61z"), "A\x81\x61Z");
  EXPECT_EQ(AnsiUpperCase(Lit("会员a")), Lit("会员") + "A");
  EXPECT_TRUE(AnsiSameText("Password", "PASSWORD"));
  EXPECT_TRUE(AnsiSameText("x\x81\x61y", "X\x81\x61Y"));
  EXPECT_FALSE(AnsiSameText("\x81\x61", "\x81\x41"));
  EXPECT_FALSE(AnsiSameText("Key", "Key2"));
  EXPECT_TRUE(AnsiSameText("", ""));
  EXPECT_FALSE(AnsiSameText("\xE4", "\xC4"));  // bytes above 0x7F never fold
  EXPECT_EQ(AnsiUpperCase("z\x81"), "Z\x81");  // a lead byte at the end
}

// AnsiSameText compares without building upper-case copies; it must agree with
// comparing AnsiUpperCase of both sides for every pair of short strings over
// letters, lead bytes and other bytes (the two sides may be out of step about
// which bytes are trail bytes).
TEST(CodePage, SameTextAgreesWithUpperCase) {
  const char alphabet[] = {'a', 'A', 'z', 'Z', '1', '{', '\x81', '\xFE', '\xE4'};
  std::vector<std::string> words{""};
  for (size_t length = 1, begin = 0; length <= 3; ++length) {
    const size_t end = words.size();
    for (size_t w = begin; w < end; ++w)
      for (char c : alphabet) words.push_back(words[w] + c);
    begin = end;
  }
  int mismatches = 0;
  for (const std::string& a : words)
    for (const std::string& b : words)
      if (a.size() == b.size() && AnsiSameText(a, b) != (AnsiUpperCase(a) == AnsiUpperCase(b)) &&
          ++mismatches < 5)
        ADD_FAILURE() << "AnsiSameText disagrees on [" << a << "] and [" << b << "]";
  EXPECT_EQ(mismatches, 0);
}

TEST(Convert, IntegerSyntax) {
  // option: the option files' stricter syntax (TryOptionStrToInt) accepts the
  // text too, with the same value; it never accepts what TryStrToInt refuses.
  struct {
    const char* text;
    bool ok;
    int32_t value;
    bool option;
  } cases[] = {
      {"0", true, 0, true},
      {"  42", true, 42, true},
      {"-42", true, -42, true},
      {"+42", true, 42, true},
      {"$2A", true, 42, true},
      {"0x22B3", true, 8883, true},
      {"0X1f", true, 31, true},
      {" $10", true, 16, true},
      {"x2a", true, 42, false},
      {"x1F90", true, 8080, false},
      {"X10", true, 16, false},
      {"-0x10", true, -16, false},
      {"+0x10", true, 16, false},
      {"+$10", true, 16, false},
      {"-$10", true, -16, false},
      {"42 ", false, 0, false},
      {"4 2", false, 0, false},
      {"", false, 0, false},
      {" ", false, 0, false},
      {"-", false, 0, false},
      {"+", false, 0, false},
      {"0x", false, 0, false},
      {"$", false, 0, false},
      {"$G", false, 0, false},
      {"0xG1", false, 0, false},
      {"$-5", false, 0, false},
      {"abc", false, 0, false},
      {"1e3", false, 0, false},
      {"2147483647", true, INT32_MAX, true},
      {"-2147483648", true, INT32_MIN, true},
      {"2147483648", false, 0, false},
      {"$7FFFFFFF", true, INT32_MAX, true},
      {"$80000000", false, 0, false},
      {"-$80000000", true, INT32_MIN, false},
      {"$FFFFFFFF", false, 0, false},
  };
  for (const auto& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    EXPECT_EQ(StrToIntDef(c.text, -99), c.ok ? c.value : -99) << c.text;
    int32_t o = 12345;
    EXPECT_EQ(TryOptionStrToInt(c.text, o), c.option) << c.text;
    if (c.option) {
      EXPECT_EQ(o, c.value) << c.text;
    }
  }
  try {
    StrToInt("abc");
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(IntToStr(8883), "8883");
}

}  // namespace
