// DoorlockTestSupport: what the door-lock tests share: a fake encoder and
// direct SQL access to the record store's database file.
#ifndef VELIO_TESTS_DOORLOCK_DOORLOCKTESTSUPPORT_H_
#define VELIO_TESTS_DOORLOCK_DOORLOCKTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "doorlock/BaseDoorlockUnit.h"
#include "doorlock/RecordStoreUnit.h"
#include "platform/CodePageUnit.h"

namespace doorlock_test {

struct TIssueCall {
  AnsiString RegisterId, BuildingCode, FloorCode, RoomNo, GuestName;
  TDateTime StartTime = 0, StartTime2 = 0, EndTime = 0, EndTime2 = 0;
  bool IsCopy = false;
  int64_t CardNoIn = 0;
};

// An encoder that records its calls and answers as told.
class TFakeDoorlock : public TBaseDoorlock {
 public:
  void ShowOptions() override {
    ++options;
    if (onOptions) onOptions();
  }
  void OpenPort() override { ++opens; }
  void Beep() override { ++beeps; }
  void ClosePort() override { ++closes; }
  bool IssueCard(const AnsiString& RegisterId, const AnsiString& BuildingCode,
                 const AnsiString& FloorCode, const AnsiString& RoomNo, const AnsiString& GuestName,
                 TDateTime StartTime, TDateTime StartTime2, TDateTime EndTime, TDateTime EndTime2,
                 bool IsCopy, int64_t& CardNo) override {
    issues.push_back({RegisterId, BuildingCode, FloorCode, RoomNo, GuestName, StartTime, StartTime2,
                      EndTime, EndTime2, IsCopy, CardNo});
    if (onIssue) onIssue();
    if (throwError) throw std::runtime_error("encoder jammed");
    if (cardNo != 0) CardNo = cardNo;
    return result;
  }
  bool ReadCard(int64_t& CardNo) override {
    ++reads;
    if (throwError) throw std::runtime_error("encoder jammed");
    if (cardNo != 0) CardNo = cardNo;
    return result;
  }
  bool EraseCard() override {
    ++erases;
    if (throwError) throw std::runtime_error("encoder jammed");
    return result;
  }

  bool result = true;
  bool throwError = false;
  int64_t cardNo = 0;  // given to the caller when not 0
  std::function<void()> onIssue;
  std::function<void()> onOptions;  // stands for the modal settings dialog
  std::vector<TIssueCall> issues;
  std::atomic<int> options{0};
  int opens = 0, beeps = 0, closes = 0, reads = 0, erases = 0;
};

// Installs a fresh fake encoder and answers it (owned by the installation).
inline TFakeDoorlock* InstallFakeDoorlock() {
  auto device = std::make_unique<TFakeDoorlock>();
  TFakeDoorlock* raw = device.get();
  InstallDoorlockDevice(std::move(device));
  return raw;
}

// Direct access to a database file, for checking and arranging rows.
class TSql {
 public:
  explicit TSql(const std::string& fileName) {
    if (sqlite3_open_v2(fileName.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
      ADD_FAILURE() << "cannot open " << fileName;
  }
  ~TSql() { sqlite3_close(db_); }
  TSql(const TSql&) = delete;
  TSql& operator=(const TSql&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
      ADD_FAILURE() << sql << ": " << (error ? error : "?");
    sqlite3_free(error);
  }

  // Every row, each column as text ("NULL" for null).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const unsigned char* text = sqlite3_column_text(st, c);
        row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return rows;
  }

  // The first column of the first row as a double (NaN when there is none).
  double Real(const std::string& sql) {
    double value = std::nan("");
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return value;
    }
    if (sqlite3_step(st) == SQLITE_ROW) {
      // A date-time stored as text reads as its day number.
      TDateTime date = 0;
      const unsigned char* text = sqlite3_column_text(st, 0);
      if (sqlite3_column_type(st, 0) == SQLITE_TEXT &&
          ParseStoredDateTime(reinterpret_cast<const char*>(text), date))
        value = date;
      else
        value = sqlite3_column_double(st, 0);
    }
    sqlite3_finalize(st);
    return value;
  }

  int Count(const std::string& table) {
    auto rows = Rows("select count(*) from " + table);
    return rows.empty() ? -1 : std::stoi(rows[0][0]);
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace doorlock_test

#endif  // VELIO_TESTS_DOORLOCK_DOORLOCKTESTSUPPORT_H_
