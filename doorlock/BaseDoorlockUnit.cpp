// BaseDoorlockUnit: the installed door-lock device and its serialising wrapper.
//
// TSerialDoorlock owns the real device and forwards every card and port
// operation under one lock, so connection threads and the test window take
// turns at the encoder. ShowOptions alone is forwarded without the lock.
// The lock is recursive: a device that lets the window process its events in
// the middle of an operation (UiHooks().ProcessMessages) may see the window
// call it again on the same thread, which must not deadlock.
#include "doorlock/BaseDoorlockUnit.h"

#include <mutex>

std::atomic<TBaseDoorlock*> DoorlockDevice{nullptr};

namespace {

class TSerialDoorlock final : public TBaseDoorlock {
 public:
  explicit TSerialDoorlock(std::unique_ptr<TBaseDoorlock> device) : device_(std::move(device)) {}

  // The settings dialog is modal and may stay open for minutes: it runs
  // outside the lock, so requests go on being served meanwhile.
  void ShowOptions() override { device_->ShowOptions(); }
  void OpenPort() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    device_->OpenPort();
  }
  void Beep() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    device_->Beep();
  }
  void ClosePort() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    device_->ClosePort();
  }
  bool IssueCard(const AnsiString& RegisterId, const AnsiString& BuildingCode,
                 const AnsiString& FloorCode, const AnsiString& RoomNo, const AnsiString& GuestName,
                 TDateTime StartTime, TDateTime StartTime2, TDateTime EndTime, TDateTime EndTime2,
                 bool IsCopy, int64_t& CardNo) override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return device_->IssueCard(RegisterId, BuildingCode, FloorCode, RoomNo, GuestName, StartTime,
                              StartTime2, EndTime, EndTime2, IsCopy, CardNo);
  }
  bool ReadCard(int64_t& CardNo) override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return device_->ReadCard(CardNo);
  }
  bool EraseCard() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return device_->EraseCard();
  }

 private:
  std::recursive_mutex lock_;
  const std::unique_ptr<TBaseDoorlock> device_;
};

std::mutex gInstallLock;
std::unique_ptr<TSerialDoorlock> gInstalled;

}  // namespace

void InstallDoorlockDevice(std::unique_ptr<TBaseDoorlock> device) {
  std::unique_ptr<TSerialDoorlock> old;
  {
    std::lock_guard<std::mutex> guard(gInstallLock);
    old = std::move(gInstalled);
    if (device) gInstalled = std::make_unique<TSerialDoorlock>(std::move(device));
    DoorlockDevice.store(gInstalled.get());
  }
  // The old device is freed here, after nobody can reach it any more.
}
