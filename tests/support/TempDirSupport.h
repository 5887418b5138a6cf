// TempDirSupport: a fresh temporary folder per test, removed with everything
// in it afterwards.
//
// The folder is made with mkdtemp (private to the user; on Windows the tests'
// compatibility header supplies mkdtemp) under the system's temporary folder
// or a given parent. Path() ends with the platform's path separator, so a file
// name is appended as it is (File). On removal every folder gets its owner's
// rights back first (and on Windows every file its write bit), so a test may
// take rights away from what it made.
#ifndef VELIO_TESTS_SUPPORT_TEMPDIRSUPPORT_H_
#define VELIO_TESTS_SUPPORT_TEMPDIRSUPPORT_H_

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/PathUnit.h"

namespace velio_test {

class TTempDir {
 public:
  TTempDir() : TTempDir(std::filesystem::temp_directory_path().string()) {}
  // Made in parent (which must exist). Raises std::runtime_error when the
  // folder cannot be made.
  explicit TTempDir(const std::string& parent) {
    std::string tmpl = (std::filesystem::path(parent) / "velio-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a folder in " + parent);
    path_ = tmpl + kPathDelim;
  }
  ~TTempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code ignored;
      if (it->is_symlink(ignored)) continue;  // its target may lie outside
#ifdef _WIN32
      // The read-only attribute keeps a file from being deleted.
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
#else
      if (it->is_directory(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
#endif
    }
    fs::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The folder; ends with kPathDelim.
  const std::string& Path() const {
    return path_;
  }
  // The path of name inside the folder.
  std::string File(const std::string& name) const {
    return path_ + name;
  }

 private:
  std::string path_;
};

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_TEMPDIRSUPPORT_H_
