// BaseMemberUnit: the member card device abstraction.
//
// TBaseMember declares every operation the system asks of a membership-card
// reader, in this order: ShowOptions, OpenPort, ClosePort, Probe, Beep,
// WriteMemberCard, ReadMemberCard. None is abstract: a bare TBaseMember is a
// valid device that fails every card operation. Every user reaches the device
// through MemberDevice, installed before the server starts and not replaced
// while it runs.
#ifndef VELIO_MEMBER_BASEMEMBERUNIT_H_
#define VELIO_MEMBER_BASEMEMBERUNIT_H_

#include <atomic>
#include <cstdint>

#include "platform/CodePageUnit.h"

class TBaseMember {
 public:
  TBaseMember() = default;
  virtual ~TBaseMember() = default;
  TBaseMember(const TBaseMember&) = delete;
  TBaseMember& operator=(const TBaseMember&) = delete;

  virtual void ShowOptions() {}
  virtual bool OpenPort() { return false; }
  virtual bool ClosePort() { return false; }
  virtual bool Probe() { return false; }
  virtual void Beep() {}
  // Answers true when the card was written.
  virtual bool WriteMemberCard(AnsiString CardNo, AnsiString Extra1, AnsiString Extra2,
                               AnsiString Extra3, int32_t Channel) {
    (void)CardNo, (void)Extra1, (void)Extra2, (void)Extra3, (void)Channel;
    return false;
  }
  // Answers true when the card was read; then CardNo (and, for devices that
  // know them, the other outputs) are set. Callers set every output empty first.
  virtual bool ReadMemberCard(bool Flag, AnsiString& CardNo, AnsiString& Password,
                              AnsiString& ExpireDate, AnsiString& GuestName, AnsiString& Score,
                              int32_t Channel) {
    (void)Flag, (void)CardNo, (void)Password, (void)ExpireDate, (void)GuestName, (void)Score,
        (void)Channel;
    return false;
  }
};

// The current member device; null when none is installed.
extern std::atomic<TBaseMember*> MemberDevice;

// The card type of the test window's type box: -1 for exactly "酒店会员卡",
// 11 for any other text.
int32_t ChannelForCardType(const AnsiString& text);

#endif  // VELIO_MEMBER_BASEMEMBERUNIT_H_
