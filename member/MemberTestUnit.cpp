// MemberTestUnit: each button is one call of MemberDevice, when one is
// installed.
#include "member/MemberTestUnit.h"

#include "member/BaseMemberUnit.h"

void MemberTestOpenPort() {
  if (TBaseMember* device = MemberDevice.load()) device->OpenPort();
}

void MemberTestClosePort() {
  if (TBaseMember* device = MemberDevice.load()) device->ClosePort();
}

void MemberTestBeep() {
  if (TBaseMember* device = MemberDevice.load()) device->Beep();
}

std::optional<TMemberTestRead> MemberTestReadCard(const AnsiString& cardType) {
  TBaseMember* device = MemberDevice.load();
  if (!device) return std::nullopt;
  TMemberTestRead read;
  AnsiString expireDate, guestName, score;
  device->ReadMemberCard(false, read.CardNo, read.Password, expireDate, guestName, score,
                         ChannelForCardType(cardType));
  return read;
}

void MemberTestWriteCard(const AnsiString& cardNo, const AnsiString& cardType) {
  if (TBaseMember* device = MemberDevice.load())
    device->WriteMemberCard(cardNo, AnsiString(), AnsiString(), AnsiString(),
                            ChannelForCardType(cardType));
}
