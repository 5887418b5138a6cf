// LogSupport: the operation log's entries as a test compares them.
//
// Every entry of the log begins with a 20-character stamp
// "yyyy-mm-dd hh:nn:ss " and ends with CR LF; the lines of an entry that spans
// lines follow it without a stamp of their own.
#ifndef VELIO_TESTS_SUPPORT_LOGSUPPORT_H_
#define VELIO_TESTS_SUPPORT_LOGSUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/FileSupport.h"

namespace velio_test {

inline constexpr size_t kStampLength = 20;

// True when line starts with a stamp "dddd-dd-dd dd:dd:dd " (d a digit).
inline bool IsStamp(std::string_view line) {
  static const char kPattern[] = "dddd-dd-dd dd:dd:dd ";
  if (line.size() < kStampLength) return false;
  for (size_t i = 0; i < kStampLength; ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : line[i] != kPattern[i]) return false;
  }
  return true;
}

// The entries of the log file fileName (none when it is missing), each without
// its stamp and final CR LF; an entry that spans lines keeps its inner CR LF.
// Fails the test when the log does not end with CR LF or does not start with
// a stamp.
inline std::vector<std::string> LogEntries(const std::string& fileName) {
  const std::string bytes = ReadFile(fileName);
  std::vector<std::string> entries;
  if (bytes.empty()) return entries;
  EXPECT_TRUE(bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0)
      << "log does not end with CR LF";
  size_t i = 0;
  while (i < bytes.size()) {
    size_t end = bytes.find("\r\n", i);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + i, end - i);
    if (IsStamp(line)) {
      entries.emplace_back(line.substr(kStampLength));
    } else {
      EXPECT_FALSE(entries.empty()) << "log starts without a stamp";
      if (!entries.empty()) entries.back() += "\r\n" + std::string(line);
    }
    i = end + 2;
  }
  return entries;
}

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_LOGSUPPORT_H_
