// FileWriteUnit: writing a whole buffer to an open file, and replacing a file
// atomically.
//
// WriteAll hands the bytes to the system until every one is written: a write
// that takes only part of them is followed by one for the rest, and one that a
// signal interrupts before it wrote anything is tried again. It answers how
// many bytes were written, so a caller that appends can take back a partial
// write.
//
// ReplaceFileAtomically never lets the file be seen half written: the new
// contents go to a temporary file beside it (path + ".tmp"), which is flushed
// to the disk (fsync, FlushFileBuffers) and then renamed over the old file
// (rename, MoveFileExW or ReplaceFileW), so the file is at every moment the old
// one or the new one, whole. TReplaceOptions says how the old file's identity
// and a left-over temporary file are treated.
//
// Header only, on the standard library and the system alone: the reader
// simulator library (sim/) uses it and links nothing of the core. Paths are
// UTF-8; on Windows they reach the system as UTF-16. Neither function locks:
// the temporary file has a fixed name, so the caller keeps other writers of
// the same file out.
#ifndef VELIO_PLATFORM_FILEWRITEUNIT_H_
#define VELIO_PLATFORM_FILEWRITEUNIT_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

// An open file: a HANDLE on Windows, a descriptor elsewhere.
#ifdef _WIN32
using TFileHandle = HANDLE;
#else
using TFileHandle = int;
#endif

// Writes bytes to file at its position (at its end when it was opened for
// appending). Answers the number of bytes written: bytes.size(), or fewer when
// the system refused a write (errno or GetLastError() says why).
inline size_t WriteAll(TFileHandle file, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
#ifdef _WIN32
    const size_t left = bytes.size() - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
      done += n;
      break;
    }
#else
    const ssize_t n = ::write(file, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
#endif
    done += static_cast<size_t>(n);
  }
  return done;
}

// What ReplaceFileAtomically does besides writing and renaming.
struct TReplaceOptions {
  // POSIX: the permission bits the temporary file is created with (the umask
  // applies); they are the new file's unless KeepOld gives it the old one's.
  unsigned NewFileMode = 0666;
  // The caller found the old file in place (it has just read it), and the new
  // file is to take its place as that file: when the old file is gone or this
  // process may not write to it, nothing is replaced; the new file takes the
  // old one's owner and group (as far as the process may give them) and its
  // permission bits (POSIX), its security descriptor and attributes (Windows,
  // through ReplaceFileW, else a plain rename).
  bool KeepOld = false;
  // POSIX: a temporary file left over from an earlier write, or a link planted
  // under its name, is removed and a new one created in its place; otherwise
  // an existing temporary file is truncated and written.
  bool FreshTemporary = false;
  // Windows: a rename that another process's open handle on the file blocks
  // (a sharing violation, access denied) is tried again every 5 ms, 200 times.
  bool RetryWhileInUse = false;
};

namespace file_write_detail {

#ifdef _WIN32
inline std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}
#endif

}  // namespace file_write_detail

// Replaces the file at path by one holding bytes, through path + ".tmp".
// Answers true when path holds bytes; false when a step failed: the old file
// is then as it was, and the temporary file is removed (if it was created).
inline bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                                  const TReplaceOptions& options = {}) {
  const std::string temp = path + ".tmp";
#ifdef _WIN32
  const std::wstring widePath = file_write_detail::Wide(path);
  const std::wstring wideTemp = file_write_detail::Wide(temp);
  if (options.KeepOld) {
    // A file we can read but not write must not be replaced behind its back.
    HANDLE probe = CreateFileW(widePath.c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
  }
  HANDLE h = CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, bytes) == bytes.size();
  ok = ok && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  // ReplaceFileW keeps the old file's security descriptor and attributes;
  // where it cannot be used, the plain rename still replaces the file whole.
  const int attempts = options.RetryWhileInUse ? 200 : 1;
  bool moved = false;
  for (int attempt = 0; ok && !moved && attempt < attempts; ++attempt) {
    moved = options.KeepOld && ReplaceFileW(widePath.c_str(), wideTemp.c_str(), nullptr,
                                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!moved)
      moved = MoveFileExW(wideTemp.c_str(), widePath.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    const DWORD error = moved ? 0 : GetLastError();
    if (!moved && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    if (!moved && options.RetryWhileInUse) Sleep(5);
  }
  if (!ok || !moved) {
    DeleteFileW(wideTemp.c_str());
    return false;
  }
  return true;
#else
  struct stat old {};
  if (options.KeepOld) {
    // A file we can read but not write must not be replaced behind its back.
    const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (probe < 0 || ::fstat(probe, &old) != 0) {
      if (probe >= 0) ::close(probe);
      return false;
    }
    ::close(probe);
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (options.FreshTemporary) {
    ::unlink(temp.c_str());
    flags |= O_EXCL;
  } else {
    flags |= O_TRUNC;
  }
  const int fd = ::open(temp.c_str(), flags, static_cast<mode_t>(options.NewFileMode));
  if (fd < 0) return false;
  bool ok = true;
  if (options.KeepOld) {
    // The owner first: changing it may clear the set-id bits that the mode
    // then puts back. Where the process may not give the file away, it keeps
    // at least the group.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      // The file will belong to this process's user; its mode is still kept.
    }
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, bytes) == bytes.size();
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
#endif
}

#endif  // VELIO_PLATFORM_FILEWRITEUNIT_H_
