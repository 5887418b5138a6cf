// PoliceTestSupport: temporary folders, log reading and a fake connection for
// the police tests.
#ifndef VELIO_TESTS_POLICE_POLICETESTSUPPORT_H_
#define VELIO_TESTS_POLICE_POLICETESTSUPPORT_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePageUnit.h"
#include "platform/PathUnit.h"
#include "server/MessageHandlerUnit.h"

namespace police_test {

using Entries = std::vector<AnsiString>;

class TTempDir {
 public:
  TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velio-police-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl + kPathDelim;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

inline std::string ReadFileBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The entries of the log, stamps removed: every entry begins with a stamp of
// 20 characters and ends with CR LF; an entry's own CR LF continues it.
inline Entries LogEntries(const std::string& fileName) {
  const std::string bytes = ReadFileBytes(fileName);
  Entries entries;
  size_t i = 0;
  while (i < bytes.size()) {
    size_t end = bytes.find("\r\n", i);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(i, end - i);
    const bool stamp = line.size() >= 20 && line[4] == '-' && line[7] == '-' && line[10] == ' ' &&
                       line[13] == ':' && line[16] == ':' && line[19] == ' ';
    if (stamp || entries.empty())
      entries.push_back(stamp ? line.substr(20) : line);
    else
      entries.back() += "\r\n" + line;
    i = end + 2;
  }
  return entries;
}

class TFakeConnection : public TConnection {
 public:
  void WriteBytes(std::string_view bytes) override {
    ++writes;
    if (fail) throw std::runtime_error("connection reset by peer");
    data.append(bytes);
  }
  std::string data;
  int writes = 0;
  bool fail = false;
};

}  // namespace police_test

#endif  // VELIO_TESTS_POLICE_POLICETESTSUPPORT_H_
