// BaseMemberUnit: the current member device and the test window's card types.
#include "member/BaseMemberUnit.h"

std::atomic<TBaseMember*> MemberDevice{nullptr};

int32_t ChannelForCardType(const AnsiString& text) {
  static const AnsiString kHotelMemberCard = Lit("酒店会员卡");
  return text == kHotelMemberCard ? -1 : 11;
}
