// TestRowNames: readable names for the rows of table-driven tests.
//
// GoogleTest names each row of INSTANTIATE_TEST_SUITE_P by its index, and
// ctest then lists it with a dump of the row's bytes. Passing one of these as
// the name generator makes ctest -N list every row by what it holds:
//
//   INSTANTIATE_TEST_SUITE_P(Cases, Utf8Decode, ::testing::Values(...),
//                            velio_test::RowName());          // row.name
//   INSTANTIATE_TEST_SUITE_P(Cases, XmlPositions, ::testing::Values(...),
//                            velio_test::RowTextName<&TPositionCase::text>());
#ifndef VELIO_TESTS_TESTROWNAMES_H_
#define VELIO_TESTS_TESTROWNAMES_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace velio_test {

// text as a test name: ASCII letters and digits kept, every run of other bytes
// one '_', no '_' at either end, at most maxLength characters.
inline std::string TestNameText(std::string_view text, size_t maxLength = 40) {
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= maxLength) break;
    const bool keep = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else if (!out.empty() && out.back() != '_') {
      out.push_back('_');
    }
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

// The row's own field `name`, which must be a valid, unique test name.
struct RowName {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return std::string(info.param.name);
  }
};

// The row's index and the text of one of its fields: "r03_R_A_1_A" (unique
// through the index, readable through the text).
template <auto Field>
struct RowTextName {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    std::string index = std::to_string(info.index);
    if (index.size() < 2) index.insert(0, "0");
    const std::string text = TestNameText(info.param.*Field);
    return "r" + index + (text.empty() ? std::string() : "_" + text);
  }
};

}  // namespace velio_test

#endif  // VELIO_TESTS_TESTROWNAMES_H_
