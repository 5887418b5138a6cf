// BaseDoorlockUnit: the door-lock encoder abstraction.
//
// TBaseDoorlock declares what the system asks of a guest-card encoder, in this
// order: ShowOptions, OpenPort, Beep, ClosePort, IssueCard, ReadCard, EraseCard.
// DoorlockDevice is the installed device (null when none). The encoder is one
// port: InstallDoorlockDevice wraps the device so that its calls from
// connection threads and the test window run one at a time. ShowOptions, the
// device's modal settings dialog, is not serialised with them: requests go on
// while it is open, and a device whose dialog touches the port guards that
// itself.
#ifndef VELIO_DOORLOCK_BASEDOORLOCKUNIT_H_
#define VELIO_DOORLOCK_BASEDOORLOCKUNIT_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/CodePageUnit.h"
#include "platform/DateTimeUnit.h"

class TBaseDoorlock {
 public:
  TBaseDoorlock() = default;
  virtual ~TBaseDoorlock() = default;
  TBaseDoorlock(const TBaseDoorlock&) = delete;
  TBaseDoorlock& operator=(const TBaseDoorlock&) = delete;

  virtual void ShowOptions() = 0;
  virtual void OpenPort() = 0;
  virtual void Beep() = 0;
  virtual void ClosePort() = 0;
  // Writes a guest card. Sets CardNo when the encoder has a number, otherwise
  // leaves the caller's value. Answers true when a card was written.
  virtual bool IssueCard(const AnsiString& RegisterId, const AnsiString& BuildingCode,
                         const AnsiString& FloorCode, const AnsiString& RoomNo,
                         const AnsiString& GuestName, TDateTime StartTime, TDateTime StartTime2,
                         TDateTime EndTime, TDateTime EndTime2, bool IsCopy, int64_t& CardNo) = 0;
  // Answers true when a card was read; CardNo is then valid.
  virtual bool ReadCard(int64_t& CardNo) = 0;
  virtual bool EraseCard() = 0;
};

// The current door-lock device (the serialising wrapper); null when none.
extern std::atomic<TBaseDoorlock*> DoorlockDevice;

// Installs device (owned from now on) as DoorlockDevice, wrapped so that its
// calls (all but ShowOptions) never overlap. Null uninstalls and frees the installed device.
// REQUIRES: no request is being served.
void InstallDoorlockDevice(std::unique_ptr<TBaseDoorlock> device);

#endif  // VELIO_DOORLOCK_BASEDOORLOCKUNIT_H_
