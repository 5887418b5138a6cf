// Fuzz target: request bytes through the door-lock handler.
//
// The bytes are decoded as the server does (DecodeUtf8) and handed to a fresh
// TDoorlockMessageHandler, with an in-memory encoder, a real record store and a
// log in a temporary home folder, and every door-lock option switched on.
// Errors that end a request are expected; crashes and sanitizer reports are not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/DoorlockMessageHandlerUnit.h"
#include "doorlock/DoorlockRecordManagerUnit.h"
#include "server/MessageHandlerUnit.h"
#include "server/Utf8Unit.h"
#include "services/LogFileUnit.h"
#include "services/SysOptionUnit.h"

namespace {

class TMemoryDoorlock : public TBaseDoorlock {
 public:
  void ShowOptions() override {}
  void OpenPort() override {}
  void Beep() override {}
  void ClosePort() override {}
  bool IssueCard(const AnsiString&, const AnsiString&, const AnsiString&, const AnsiString& room,
                 const AnsiString&, TDateTime, TDateTime, TDateTime, TDateTime, bool,
                 int64_t& CardNo) override {
    // Rooms ending in '9' fail, so both outcomes are reached.
    if (!room.empty() && room.back() == '9') return false;
    card_ = ++next_;
    CardNo = card_;
    return true;
  }
  bool ReadCard(int64_t& CardNo) override {
    CardNo = card_;
    return card_ != 0;
  }
  bool EraseCard() override {
    const bool had = card_ != 0;
    card_ = 0;
    return had;
  }

 private:
  int64_t next_ = 1000;
  int64_t card_ = 0;
};

class TNullConnection : public TConnection {
 public:
  void WriteBytes(std::string_view) override {}
};

// The process-wide objects of one fuzzing run, in a temporary home folder.
struct TFuzzHome {
  TFuzzHome() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velio-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir = tmpl + "/";
    log = std::make_unique<TLogFile>(dir + "fuzz.LOG");
    options = std::make_unique<TSysOption>(dir + "Option.ini");
    options->UseNativeDoorlockDb = true;
    options->SaveDoorlockRecord = true;
    options->DelayMinutes = 10;
    options->DelayMinutes2 = -30;
    std::string error;
    // On Windows the store is Client.mdb through the Access driver, which a
    // test machine may lack: the handler then runs with a store that only logs.
    if (!CreateDoorlockDatabase(dir + "Client.db", error) &&
        kDefaultStoreEngine == TStoreEngine::Sqlite)
      std::abort();
    store = std::make_unique<TDoorlockRecordManager>(dir + "Client.db");
    store->Open();
    OperationLog = log.get();
    SystemOptions = options.get();
    DoorlockRecordManager = store.get();
    InstallDoorlockDevice(std::make_unique<TMemoryDoorlock>());
  }
  ~TFuzzHome() {
    InstallDoorlockDevice(nullptr);
    DoorlockRecordManager = nullptr;
    SystemOptions = nullptr;
    OperationLog = nullptr;
    store.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
  std::unique_ptr<TLogFile> log;
  std::unique_ptr<TSysOption> options;
  std::unique_ptr<TDoorlockRecordManager> store;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzHome home;
  const std::u16string request =
      DecodeUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  TNullConnection connection;
  TDoorlockMessageHandler handler(nullptr);
  try {
    handler.HandleMessage(connection, request);
  } catch (const std::exception&) {
    // A request error ends the request, as on a connection thread.
  }
  // The log would otherwise grow without bound over a long run.
  if (std::filesystem::file_size(home.log->FileName()) > (4u << 20))
    std::filesystem::remove(home.log->FileName());
  return 0;
}
