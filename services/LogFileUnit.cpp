// LogFileUnit: one entry per call, the file opened and closed each time.
//
// The entry is assembled in memory and handed to the file whole (WriteAll,
// platform/FileWriteUnit.h). When the disk takes only part of it, the file is
// cut back to its earlier length, so a reader never sees a broken line; the
// entry is lost, as the contract allows.
// On POSIX the lock covers the stamp, the write and the cut only; the file is
// opened and closed outside it.
#include "services/LogFileUnit.h"

#include <atomic>

#include "platform/DateTimeUnit.h"
#include "platform/FileWriteUnit.h"
#include "platform/PathUnit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TLogFile* OperationLog = nullptr;

TLogFile::TLogFile(std::string fileName) : fileName_(std::move(fileName)) {}

void TLogFile::WriteLog(const AnsiString& text) {
  // Step 1: open for appending, creating the file when it is missing.
#ifdef _WIN32
  std::lock_guard<std::mutex> guard(lock_);
  HANDLE h =
      CreateFileW(WidePath(fileName_).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER before;
  GetFileSizeEx(h, &before);
#else
  // Opening and closing the file cost more than the rest of an entry and need
  // no lock (every descriptor appends at the end, whoever opened first): only
  // the stamp, the write and its undo are serialised, so entries stay whole
  // and in stamp order while threads open and close side by side.
  // A new log is readable by its owner and group only: it carries guests'
  // names and identity numbers. An existing log keeps its mode.
  int fd = ::open(fileName_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return;
  std::unique_lock<std::mutex> guard(lock_);
#endif
  // Steps 2 and 3: the stamp, the text, CR LF.
  AnsiString entry = FormatDateTime("yyyy-mm-dd hh:nn:ss ", Now());
  entry.reserve(entry.size() + text.size() + 2);
  entry += text;
  entry += "\r\n";
#ifdef _WIN32
  const size_t written = WriteAll(h, entry);
  if (written > 0 && written < entry.size()) {
    SetFilePointerEx(h, before, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
  }
  CloseHandle(h);
#else
  const size_t written = WriteAll(fd, entry);
  if (written > 0 && written < entry.size()) {
    // Only a partial write pays for the file's size: under the lock no other
    // entry of this process has been appended since, so the entry began at
    // the end of the file less what was written of it.
    struct stat st;
    const off_t cut = static_cast<off_t>(written);
    if (::fstat(fd, &st) == 0 && st.st_size >= cut && ::ftruncate(fd, st.st_size - cut) != 0) {
      // Nothing more can be done for this entry.
    }
  }
  guard.unlock();
  ::close(fd);
#endif
}

void WriteLog(const AnsiString& text) {
  if (TLogFile* log = OperationLog) log->WriteLog(text);
}

std::string DailyLogFileName() {
  return HomeDir() + FormatDateTime("yyyymmdd", Now()) + ".LOG";
}
