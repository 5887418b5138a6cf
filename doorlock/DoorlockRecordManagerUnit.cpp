// DoorlockRecordManagerUnit: the record store on one database connection.
//
// The statements are written here once, with named markers, and run by the
// engine MakeRecordStore gives for the source (TRecordStore: SQLite's own
// library on Client.db, or ODBC). The connection is opened once and kept
// while it works. One that the engine reports lost (the database server went
// away) is dropped after the operation has logged its failure, and the next
// operation opens a new one, as does every operation while the store is
// unconnected: once the database is back the store works again by itself.
// Every operation takes the store's lock and hands its statement with its
// values to the engine, which prepares it afresh, binds, runs and frees it, so
// a failure anywhere leaves nothing open and the next operation starts clean.
// Failures travel inside as EDatabaseError carrying the database's own message
// and are caught at the edge of each public operation, where the text is
// written to the operation log, the passwords of an ODBC connection string
// shown as "***" wherever the driver's text repeats them. Under --verbose the
// failures of a thread are also kept until the request handler takes them.
//
// UpdateLastCheckInTime runs its update and the fallback insert under one hold
// of the lock, so two requests for a new room cannot both insert it. Servers
// sharing one database are kept apart by T_Room's unique key on RoomNo: an
// insert the key refuses means another server inserted the room first, and
// the row is read (or updated) again instead. Each statement commits by
// itself; the key, not a transaction, decides which insert wins (under the
// read-committed isolation the engines default to, a transaction around the
// select and the insert would not keep another server from inserting between
// them). A database made before the key keeps working as before.
#include "doorlock/DoorlockRecordManagerUnit.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "doorlock/OdbcStoreUnit.h"
#include "doorlock/RecordStoreUnit.h"
#include "server/VerboseUnit.h"
#include "services/LogFileUnit.h"

TDoorlockRecordManager* DoorlockRecordManager = nullptr;

namespace {

const char kSelectLastCheckIn[] = "select LastCheckInTime from T_Room where RoomNo=:RoomNo";
const char kUpdateRoom[] =
    "update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo";
const char kInsertRoom[] =
    "insert into T_Room(RoomNo, LastCheckInTime) Values(:RoomNo, :LastCheckInTime)";
// A room another server inserted without a time gets this one's.
const char kSetRoomTimeIfNull[] =
    "update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo and "
    "LastCheckInTime is null";
const char kInsertIssueRecord[] =
    "insert into T_IssueCardRecord(RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, "
    "CheckInTime, CheckOutTime, IsCopy, GuestName, OpratingTime)\r\n"
    " Values(:RegisterId, :CardNo, :RoomNo, :CardType, :LastCheckInTime, :CheckInTime, "
    ":CheckOutTime, :IsCopy, :GuestName, :OpratingTime)";

// This thread's failures, kept only under --verbose (TakeThreadFailures).
thread_local std::string tFailures;

}  // namespace

class TDoorlockRecordManager::TImpl {
 public:
  TImpl(TStoreEngine e, const std::string& source)
      : engine(e),
        store(MakeRecordStore(e, source)),
        secrets(e == TStoreEngine::Odbc || (e == TStoreEngine::Sqlite && !kNativeSqlite)
                    ? Utf8ToAnsi(source)
                    : std::string()) {}

#ifdef _WIN32
  static constexpr bool kNativeSqlite = false;
#else
  static constexpr bool kNativeSqlite = true;
#endif

  const TStoreEngine engine;
  std::mutex lock;
  const std::unique_ptr<TRecordStore> store;
  // The connection string (code page 936) whose passwords no line may show;
  // empty for a database file.
  const AnsiString secrets;
  bool connected = false;

  // A database's text as it may be shown: without the connection's passwords.
  AnsiString Shown(const AnsiString& text) const {
    return secrets.empty() ? text : TextWithoutSecrets(text, secrets);
  }

  // Logs the failure of an operation (what it was doing) and, under
  // --verbose, keeps it for the thread's request.
  void Failed(const char* what, const AnsiString& reason) {
    const AnsiString shown = Shown(reason);
    WriteLog(shown);
    // A thread that serves no request (the test window's) never takes them:
    // a bound keeps that from growing.
    if (Verbose() && tFailures.size() < 4096) {
      if (!tFailures.empty()) tFailures += "; ";
      tFailures += std::string(what) + ": " + AnsiToUtf8(shown);
    }
  }

  // Runs op with the lock held and the connection open; logs any failure.
  // Answers whether op ran through.
  template <typename Op>
  bool Run(const char* what, Op&& op) {
    std::lock_guard<std::mutex> guard(lock);
    return RunLocked(what, op);
  }

  // As Run, for a caller that holds the lock already (several steps under
  // one hold, each logging its own failure). An unconnected store is opened
  // first; a connection the engine reports lost is dropped.
  template <typename Op>
  bool RunLocked(const char* what, Op&& op) {
    try {
      if (!connected) Reopen();
      op();
      return true;
    } catch (const EDatabaseError& e) {
      if (e.Kind() == EDatabaseError::LinkLost) connected = false;
      Failed(what, e.what());
      return false;
    } catch (const std::exception& e) {
      Failed(what, e.what());
      return false;
    }
  }

  // Opens the store; the caller holds the lock. Raises EDatabaseError with
  // the reason.
  void Reopen() {
    store->Open();
    connected = true;
  }

  // Inserts the room; the caller holds the lock. Logs on success. Answers
  // false, logging nothing, when the unique key refused the row: another
  // server inserted the room first.
  bool InsertRoomLocked(const AnsiString& roomKey, TDateTime time) {
    try {
      store->Execute(kInsertRoom, {TDbParam::OfText(":RoomNo", roomKey),
                                   TDbParam::OfDate(":LastCheckInTime", time)});
    } catch (const EDatabaseError& e) {
      if (e.Kind() == EDatabaseError::DuplicateKey) return false;
      throw;
    }
    static const AnsiString kNewRoom = Lit("新建房间");
    WriteLog(kNewRoom + roomKey);
    return true;
  }

  TDateTime SelectRoomTime(const AnsiString& roomKey) {
    return store->SelectDate(kSelectLastCheckIn, {TDbParam::OfText(":RoomNo", roomKey)});
  }
};

TDoorlockRecordManager::TDoorlockRecordManager(std::string databaseFileName)
    : TDoorlockRecordManager(std::move(databaseFileName), kDefaultStoreEngine) {}

TDoorlockRecordManager::TDoorlockRecordManager(std::string source, TStoreEngine engine)
    : DatabaseFileName(std::move(source)),
      impl_(std::make_unique<TImpl>(engine, DatabaseFileName)) {}

TDoorlockRecordManager::~TDoorlockRecordManager() = default;

TStoreEngine TDoorlockRecordManager::Engine() const {
  return impl_->engine;
}

bool TDoorlockRecordManager::Open() {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->connected = false;
  try {
    impl_->Reopen();
  } catch (const EDatabaseError& e) {
    WriteLog(impl_->Shown(e.what()));
    return false;
  }
  return true;
}

TDateTime TDoorlockRecordManager::GetLastCheckInTime(const AnsiString& roomKey) {
  TDateTime result = 0;
  impl_->Run("reading the room's time", [&] { result = impl_->SelectRoomTime(roomKey); });
  return result;
}

void TDoorlockRecordManager::UpdateLastCheckInTime(const AnsiString& roomKey, TDateTime time) {
  impl_->Run("storing the room's time", [&] {
    const std::vector<TDbParam> params = {TDbParam::OfDate(":LastCheckInTime", time),
                                          TDbParam::OfText(":RoomNo", roomKey)};
    // A room another server inserted meanwhile is updated after all.
    if (impl_->store->Execute(kUpdateRoom, params) == 0 && !impl_->InsertRoomLocked(roomKey, time))
      impl_->store->Execute(kUpdateRoom, params);
  });
}

void TDoorlockRecordManager::InsertRoom(const AnsiString& roomKey, TDateTime time) {
  impl_->Run("storing the room", [&] { impl_->InsertRoomLocked(roomKey, time); });
}

// The select and the fallback insert under one hold of the lock, as in
// UpdateLastCheckInTime; each logs its own failure, as the separate calls do.
TDateTime TDoorlockRecordManager::GetOrInsertLastCheckInTime(const AnsiString& roomKey,
                                                             TDateTime time) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  TDateTime stored = 0;
  impl_->RunLocked("reading the room's time", [&] { stored = impl_->SelectRoomTime(roomKey); });
  if (stored != 0) return stored;
  impl_->RunLocked("storing the room", [&] {
    if (impl_->InsertRoomLocked(roomKey, time)) return;
    // Another server inserted the room first: its time is the stay's.
    stored = impl_->SelectRoomTime(roomKey);
    if (stored != 0) return;
    impl_->store->Execute(kSetRoomTimeIfNull, {TDbParam::OfDate(":LastCheckInTime", time),
                                               TDbParam::OfText(":RoomNo", roomKey)});
    stored = impl_->SelectRoomTime(roomKey);
  });
  return stored != 0 ? stored : time;
}

void TDoorlockRecordManager::InsertIssueCardRecord(
    const AnsiString& RegisterId, const AnsiString& CardNo, const AnsiString& RoomNo,
    int32_t CardType, TDateTime LastCheckInTime, TDateTime CheckInTime, TDateTime CheckOutTime,
    bool IsCopy, const AnsiString& GuestName, TDateTime OpratingTime) {
  impl_->Run("storing the issue record", [&] {
    impl_->store->Execute(
        kInsertIssueRecord,
        {TDbParam::OfText(":RegisterId", RegisterId), TDbParam::OfText(":CardNo", CardNo),
         TDbParam::OfText(":RoomNo", RoomNo), TDbParam::OfInteger(":CardType", CardType),
         TDbParam::OfDate(":LastCheckInTime", LastCheckInTime),
         TDbParam::OfDate(":CheckInTime", CheckInTime),
         TDbParam::OfDate(":CheckOutTime", CheckOutTime), TDbParam::OfBoolean(":IsCopy", IsCopy),
         TDbParam::OfText(":GuestName", GuestName),
         TDbParam::OfDate(":OpratingTime", OpratingTime)});
  });
}

std::string TDoorlockRecordManager::TakeThreadFailures() {
  return std::exchange(tFailures, std::string());
}

void InitDoorlockRecordStore(const std::string& odbcConnection) {
  DoorlockRecordManager = odbcConnection.empty()
                              ? new TDoorlockRecordManager(DefaultDoorlockDatabase())
                              : new TDoorlockRecordManager(odbcConnection, TStoreEngine::Odbc);
  DoorlockRecordManager->Open();
}

void FinalizeDoorlockRecordStore() {
  delete DoorlockRecordManager;
  DoorlockRecordManager = nullptr;
}
