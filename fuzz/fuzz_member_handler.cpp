// Fuzz target: one membership-card request through TMemberMessageHandler.
//
// The bytes are decoded as the server decodes a request (DecodeUtf8) and
// handled with a fake member device whose answers depend on the input, with
// the log in a temporary home. Errors that abandon a request are expected;
// a reply, when written, must be one write that starts with the reply's root
// and ends with its only NUL byte.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <random>
#include <string>

#include "member/BaseMemberUnit.h"
#include "member/MemberMessageHandlerUnit.h"
#include "server/Utf8Unit.h"
#include "services/LogFileUnit.h"

namespace {

class TFuzzMember : public TBaseMember {
 public:
  bool WriteMemberCard(AnsiString CardNo, AnsiString Extra1, AnsiString, AnsiString,
                       int32_t Channel) override {
    return (CardNo.size() + Extra1.size() + static_cast<uint32_t>(Channel)) % 3 != 0;
  }
  bool ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password, AnsiString& ExpireDate,
                      AnsiString& GuestName, AnsiString& Score, int32_t Channel) override {
    CardNo = seed.substr(0, 24);
    Password = seed.substr(seed.size() / 2, 8);
    ExpireDate = Flag ? "2030-01-01" : "";
    GuestName = seed.substr(0, 4);
    Score = std::to_string(Channel);
    return seed.size() % 4 != 1;
  }
  std::string seed;
};

class TFuzzConnection : public TConnection {
 public:
  void WriteBytes(std::string_view b) override {
    ++writes;
    bytes.append(b);
  }
  std::string bytes;
  int writes = 0;
};

struct TFuzzHome {
  TFuzzHome() {
    dir = std::filesystem::temp_directory_path() /
          ("velio-fuzz-member-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir);
    log = new TLogFile((dir / "fuzz.LOG").string());
    OperationLog = log;
  }
  std::filesystem::path dir;
  TLogFile* log;
  TFuzzMember device;
  unsigned runs = 0;
};

TFuzzHome* gHome = nullptr;

// Removes the temporary home when the run ends.
void RemoveHome() {
  OperationLog = nullptr;
  std::error_code ec;
  std::filesystem::remove_all(gHome->dir, ec);
}

TFuzzHome& Home() {
  if (!gHome) {
    gHome = new TFuzzHome();  // lives for the whole run
    std::atexit(RemoveHome);
  }
  return *gHome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzHome& home = Home();
  if (++home.runs % 1000 == 0) {
    std::error_code ec;
    std::filesystem::remove(home.log->FileName(), ec);  // keep the log small
  }
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  home.device.seed = bytes;
  MemberDevice.store(size % 7 == 3 ? nullptr : &home.device);

  TFuzzConnection connection;
  try {
    TMemberMessageHandler handler(nullptr);
    handler.HandleMessage(connection, DecodeUtf8(bytes));
  } catch (const std::exception&) {
    // An abandoned request: the server closes the connection without a reply.
  }
  MemberDevice.store(nullptr);

  if (connection.writes > 1) std::abort();
  if (connection.writes == 1) {
    const std::string& r = connection.bytes;
    if (r.rfind("<DoorResponse><RequestID></RequestID><ResultCode>", 0) != 0) std::abort();
    if (r.find('\0') != r.size() - 1) std::abort();
  }
  return 0;
}
