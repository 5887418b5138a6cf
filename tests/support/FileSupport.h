// FileSupport: temporary folders, whole-file reads and writes, and running a
// piece of code without root's right to write anywhere, for every test.
#ifndef VELIO_TESTS_SUPPORT_FILESUPPORT_H_
#define VELIO_TESTS_SUPPORT_FILESUPPORT_H_

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace velio_test {

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction. Its path ends with '/'.
class TTempDir {
 public:
  TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velio-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl + "/";
  }
  ~TTempDir() {
    std::error_code ec;
    // Give everything back its write bit so that removal works.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
#ifdef _WIN32
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
#else
      ::chmod(it->path().c_str(), 0755);
    ::chmod(path_.c_str(), 0755);
#endif
    std::filesystem::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const {
    return path_;
  }
  std::string File(const std::string& name) const {
    return path_ + name;
  }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// Runs body where files without a write bit cannot be written: directly for an
// ordinary user; for root, in a child process that has become user "nobody"
// (root writes any file). Returns body's result, or -1 when the child failed.
// body must not use test assertions; it reports through its result.
inline int RunUnprivileged(const std::function<int()>& body) {
#ifdef _WIN32
  return body();  // the read-only attribute binds every user
#else
  if (::geteuid() != 0) return body();
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(120);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}

// Makes the file path read-only, and its folder dir reachable by everyone, so
// that RunUnprivileged code can read the file but not write it.
inline void MakeReadOnly(const std::string& dir, const std::string& path) {
#ifdef _WIN32
  ::_chmod(path.c_str(), _S_IREAD);
  (void)dir;
#else
  ::chmod(path.c_str(), 0444);
  ::chmod(dir.c_str(), 0755);
#endif
}

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_FILESUPPORT_H_
