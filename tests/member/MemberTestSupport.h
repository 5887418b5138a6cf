// MemberTestSupport: a temporary home with its own log and member options,
// installed as OperationLog and MemberOptions for the life of the object.
#ifndef VELIO_TESTS_MEMBER_MEMBERTESTSUPPORT_H_
#define VELIO_TESTS_MEMBER_MEMBERTESTSUPPORT_H_

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "member/OptionUnit.h"
#include "platform/PathUnit.h"
#include "services/LogFileUnit.h"

namespace membertest {

class TTempDir {
 public:
  TTempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    path_ = (std::filesystem::temp_directory_path() /
             ("velio-member-" + std::to_string(random()) + "-" + std::to_string(counter++)))
                .string() +
            kPathDelim;
    std::filesystem::create_directories(path_);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // Ends with '/'.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The texts of the log's entries, each without its 20-character time stamp.
// An entry that spans lines keeps its inner CR LF.
inline std::vector<std::string> LogEntries(const std::string& file) {
  const std::string bytes = ReadFileBytes(file);
  std::vector<std::string> entries;
  size_t pos = 0;
  auto isStamp = [](const std::string& line) {
    if (line.size() < 20) return false;
    for (size_t i : {4u, 7u}) {
      if (line[i] != '-') return false;
    }
    return line[10] == ' ' && line[13] == ':' && line[16] == ':' && line[19] == ' ';
  };
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(pos, end - pos);
    if (isStamp(line) || entries.empty())
      entries.push_back(isStamp(line) ? line.substr(20) : line);
    else
      entries.back() += "\r\n" + line;
    pos = end + 2;
  }
  return entries;
}

// A temporary home: its log installed as OperationLog and its Option.ini
// loaded into MemberOptions (all defaults until the test changes them).
class TMemberEnv {
 public:
  TMemberEnv() : log_(dir_.Path() + "test.LOG"), options_(dir_.Path() + "Option.ini") {
    options_.Load();
    OperationLog = &log_;
    MemberOptions = &options_;
  }
  ~TMemberEnv() {
    OperationLog = nullptr;
    MemberOptions = nullptr;
  }
  TMemberEnv(const TMemberEnv&) = delete;
  TMemberEnv& operator=(const TMemberEnv&) = delete;

  const std::string& Dir() const { return dir_.Path(); }
  TOption& Options() { return options_; }
  std::vector<std::string> Log() const { return LogEntries(log_.FileName()); }
  // Forgets the entries written so far.
  void ClearLog() { std::filesystem::remove(log_.FileName()); }

 private:
  TTempDir dir_;
  TLogFile log_;
  TOption options_;
};

}  // namespace membertest

#endif  // VELIO_TESTS_MEMBER_MEMBERTESTSUPPORT_H_
