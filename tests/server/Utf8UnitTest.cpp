// Tests of the wire conversions DecodeUtf8 and EncodeUtf8.
#include <gtest/gtest.h>

#include <string>

#include "server/Utf8Unit.h"
#include "tests/TestRowNames.h"

namespace {

struct TDecodeCase {
  const char* name;
  std::string bytes;
  std::u16string text;
};

class Utf8Decode : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(Utf8Decode, Decodes) {
  const TDecodeCase& c = GetParam();
  EXPECT_EQ(DecodeUtf8(c.bytes), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    ::testing::Values(
        TDecodeCase{"Empty", "", u""}, TDecodeCase{"Ascii", "A\r\n<x/>", u"A\r\n<x/>"},
        TDecodeCase{"NulByteIsAUnit", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        TDecodeCase{"ThreeBytes", "\xE5\x86\x99", u"\x5199"},
        TDecodeCase{"TwoBytes", "\xC3\xA9", u"\x00E9"},
        TDecodeCase{"Mixed", "x\xC3\xA9y\xE5\x86\x99z", u"x\x00E9y\x5199z"},
        TDecodeCase{"CutShortThree", "\x41\xE5\x86", u""},
        TDecodeCase{"CutShortTwo", "abc\xC3", u""}, TDecodeCase{"BadFollower", "\xC3\x41", u""},
        TDecodeCase{"BadThirdByte", "\xE5\x86\x41", u""},
        TDecodeCase{"FollowerTooHigh", "\xC3\xC0", u""},
        TDecodeCase{"MalformedLateDropsAll", "good text \xC3", u""},
        // Overlong forms are accepted.
        TDecodeCase{"OverlongNulTwo", "\xC0\x80", std::u16string(1, u'\0')},
        TDecodeCase{"OverlongNulThree", "\xE0\x80\x80", std::u16string(1, u'\0')},
        TDecodeCase{"OverlongSlash", "\xC0\xAF", u"/"},
        TDecodeCase{"OverlongDel", "\xC1\xBF", u"\x7F"},
        // Bit 0x20 of the lead byte alone decides the length, whatever else is set.
        TDecodeCase{"LeadContinuationByteTwo", "\x85\x81", u"\x0141"},
        TDecodeCase{"LeadContinuationByteThree", "\xA5\x81\x82", u"\x5042"},
        TDecodeCase{"LeadF5IsThree", "\xF5\x81\x82", u"\x5042"},
        TDecodeCase{"LeadFFIsThree", "\xFF\xBF\xBF", u"\xFFFF"},
        TDecodeCase{"LeadDFIsTwo", "\xDF\xBF", u"\x07FF"},
        // Surrogate halves decode as plain units.
        TDecodeCase{"LoneSurrogate", "\xED\xA0\x80", u"\xD800"},
        // A four-byte sequence: three bytes, then a new lead byte with nothing after it.
        TDecodeCase{"FourByteFails", "\xF0\x9F\x98\x80", u""},
        TDecodeCase{"FourByteThenAsciiFails", "\xF0\x9F\x98\x80!", u""},
        // ...or, should the next byte happen to be a follower, a two-byte unit.
        TDecodeCase{"FourByteThenFollower", "\xF0\x9F\x98\x80\x80",
                    std::u16string{u'\x07D8', u'\0'}}),
    velio_test::RowName());

TEST(Utf8Encode, EachUnitByItself) {
  struct {
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {u"", ""},
      {u"A", "A"},
      {std::u16string(1, u'\0'), std::string(1, '\0')},
      {u"\x007F", "\x7F"},
      {u"\x0080", "\xC2\x80"},
      {u"\x00E9", "\xC3\xA9"},
      {u"\x07FF", "\xDF\xBF"},
      {u"\x0800", "\xE0\xA0\x80"},
      {u"\x5199", "\xE5\x86\x99"},
      {u"\xFFFF", "\xEF\xBF\xBF"},
      // A surrogate pair is not combined: each half is its own sequence.
      {u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},
      {u"a\x00E9\x5199", "a\xC3\xA9\xE5\x86\x99"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUtf8(c.text), c.bytes);
}

TEST(Utf8RoundTrip, EveryCodeUnitSurvives) {
  std::u16string all;
  for (uint32_t u = 0; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
  EXPECT_EQ(DecodeUtf8(EncodeUtf8(all)), all);
  for (uint32_t u = 1; u <= 0xFFFF; u += 97) {
    std::u16string one(1, static_cast<char16_t>(u));
    ASSERT_EQ(DecodeUtf8(EncodeUtf8(one)), one) << u;
  }
}

}  // namespace
