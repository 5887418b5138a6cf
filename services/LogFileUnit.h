// LogFileUnit: the operation log.
//
// Every request, device result and record-store error is written, one call per
// entry, to the file "yyyymmdd.LOG" in the home directory, named once from the
// start-up date. Each entry is the stamp "yyyy-mm-dd hh:nn:ss " followed by the
// text and CR LF, in code page 936. The file is opened, appended and closed for
// every entry, so others may read, copy or delete it while the program runs.
// The log holds guests' names and identity numbers: on POSIX a new file is
// created with mode 0640 (owner and group, such as the administrators' group
// of a service, may read it; other users not), and an existing file keeps its
// mode.
//
// TLogFile has internal synchronization and may be safely accessed
// concurrently: entries are written whole, one after another, never
// interleaved. WriteLog never reports an input/output failure: the entry is
// dropped (a partly written entry is cut off again) and the next entry tries
// afresh.
#ifndef VELIO_SERVICES_LOGFILEUNIT_H_
#define VELIO_SERVICES_LOGFILEUNIT_H_

#include <mutex>
#include <string>

#include "platform/CodePageUnit.h"

class TLogFile {
 public:
  // Stores the full path of the log file; touches no file.
  explicit TLogFile(std::string fileName);
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Appends one entry holding text (code page 936).
  void WriteLog(const AnsiString& text);

  const std::string& FileName() const { return fileName_; }

 private:
  const std::string fileName_;
  std::mutex lock_;
};

// The process-wide log; null before start-up and after shut-down.
extern TLogFile* OperationLog;

// Writes text to OperationLog when it exists; otherwise does nothing.
void WriteLog(const AnsiString& text);

// The log file name for a program started now: home directory + "yyyymmdd.LOG".
std::string DailyLogFileName();

#endif  // VELIO_SERVICES_LOGFILEUNIT_H_
