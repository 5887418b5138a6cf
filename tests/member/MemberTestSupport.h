// MemberTestSupport: what the member card tests share: a temporary home with
// its own log and member options, installed as OperationLog and MemberOptions
// for the life of the object; a fake member device that records its calls;
// and the control functions of the recording reader library (FakeReader.h).
#ifndef VELIO_TESTS_MEMBER_MEMBERTESTSUPPORT_H_
#define VELIO_TESTS_MEMBER_MEMBERTESTSUPPORT_H_

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "member/BaseMemberUnit.h"
#include "member/OptionUnit.h"
#include "platform/DynLibUnit.h"
#include "platform/ErrorsUnit.h"
#include "services/LogFileUnit.h"
#include "tests/member/FakeReader.h"
#include "tests/support/LogSupport.h"
#include "tests/support/TempDirSupport.h"
#include "platform/PathUnit.h"

namespace membertest {

// A temporary home: its log installed as OperationLog and its Option.ini
// loaded into MemberOptions (all defaults until the test changes them).
class TMemberEnv {
 public:
  TMemberEnv() : log_(dir_.File("test.LOG")), options_(dir_.File("Option.ini")) {
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

  // Ends with the path separator.
  const std::string& Dir() const { return dir_.Path(); }
  TOption& Options() { return options_; }
  // The log's entries without their stamps (velio_test::LogEntries).
  std::vector<std::string> Log() const { return velio_test::LogEntries(log_.FileName()); }
  // Forgets the entries written so far.
  void ClearLog() { std::filesystem::remove(log_.FileName()); }

 private:
  velio_test::TTempDir dir_;
  TLogFile log_;
  TOption options_;
};

// A member device that records the calls it gets and answers as told.
class TFakeMember : public TBaseMember {
 public:
  void ShowOptions() override {
    ++shown;
    if (failOptions) throw EVelioError("device failed");
  }
  bool WriteMemberCard(AnsiString CardNo, AnsiString Extra1, AnsiString Extra2, AnsiString Extra3,
                       int32_t Channel) override {
    ++writes;
    cardNo = CardNo;
    extras = {Extra1, Extra2, Extra3};
    channel = Channel;
    return answer;
  }
  bool ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password, AnsiString& ExpireDate,
                      AnsiString& GuestName, AnsiString& Score, int32_t Channel) override {
    ++reads;
    flag = Flag;
    channel = Channel;
    outputsEmpty = CardNo.empty() && Password.empty() && ExpireDate.empty() && GuestName.empty() &&
                   Score.empty();
    CardNo = out[0];
    Password = out[1];
    ExpireDate = out[2];
    GuestName = out[3];
    Score = out[4];
    return answer;
  }

  bool answer = true;             // what the card operations return
  bool failOptions = false;       // ShowOptions raises EVelioError
  std::array<AnsiString, 5> out;  // CardNo, Password, ExpireDate, GuestName, Score
  int shown = 0, writes = 0, reads = 0;
  AnsiString cardNo;
  std::vector<AnsiString> extras;
  int32_t channel = 12345;
  bool flag = false;
  bool outputsEmpty = false;  // the read's output arguments came in empty
};

// The recording reader library, complete and lacking EndSCard.
inline const std::string kFakePath =
    std::string(VELIO_BIN_DIR) + "/" + SharedLibraryName("VelioFakeReader");
inline const std::string kPartialPath =
    std::string(VELIO_BIN_DIR) + "/" + SharedLibraryName("VelioFakeReaderNoEnd");

// The recording library's control functions, reached through the same file
// (one copy of the recorded state per process). Raises std::runtime_error
// when the library cannot be loaded.
class TFakeReader {
 public:
  TFakeReader() {
    std::string error;
    lib_ = TDynLib::Open(kFakePath, error);
    if (!lib_) throw std::runtime_error(error);
    reset_ = reinterpret_cast<FakeReaderResetFn>(lib_->Symbol("FakeReaderReset", error));
    program_ = reinterpret_cast<FakeReaderProgramFn>(lib_->Symbol("FakeReaderProgram", error));
    count_ = reinterpret_cast<FakeReaderCallCountFn>(lib_->Symbol("FakeReaderCallCount", error));
    get_ = reinterpret_cast<FakeReaderGetCallFn>(lib_->Symbol("FakeReaderGetCall", error));
    overlaps_ = reinterpret_cast<FakeReaderOverlapsFn>(lib_->Symbol("FakeReaderOverlaps", error));
    if (!reset_ || !program_ || !count_ || !get_ || !overlaps_) throw std::runtime_error(error);
    reset_();
  }
  // Forgets the calls and programs success.
  void Reset() { reset_(); }
  void Program(int32_t start, int32_t write, int32_t read, const std::string& data = "") {
    uint8_t bytes[16] = {};
    std::memcpy(bytes, data.data(), std::min<size_t>(16, data.size()));
    program_(start, write, read, bytes);
  }
  std::vector<FakeReaderCall> Calls() const {
    std::vector<FakeReaderCall> calls(static_cast<size_t>(count_()));
    for (size_t i = 0; i < calls.size(); ++i) get_(static_cast<int32_t>(i), &calls[i]);
    return calls;
  }
  std::vector<std::string> Functions() const {
    std::vector<std::string> names;
    for (const FakeReaderCall& c : Calls()) names.push_back(c.function);
    return names;
  }
  // How often a session began while another was still open.
  int32_t Overlaps() const { return overlaps_(); }

 private:
  std::unique_ptr<TDynLib> lib_;
  FakeReaderResetFn reset_ = nullptr;
  FakeReaderProgramFn program_ = nullptr;
  FakeReaderCallCountFn count_ = nullptr;
  FakeReaderGetCallFn get_ = nullptr;
  FakeReaderOverlapsFn overlaps_ = nullptr;
};

}  // namespace membertest

#endif  // VELIO_TESTS_MEMBER_MEMBERTESTSUPPORT_H_
