// ReplySupport: the reply documents the member and door-lock handlers send, as
// the tests expect them: the elements in their fixed order, each value as it
// is (the handlers do not escape), and the framing of a reply on the wire.
#ifndef VELIO_TESTS_SUPPORT_REPLYSUPPORT_H_
#define VELIO_TESTS_SUPPORT_REPLYSUPPORT_H_

#include <string>

namespace velio_test {

// The bytes of a reply on the wire: its UTF-8 text and one NUL.
inline std::string Framed(const std::string& utf8) {
  return utf8 + std::string(1, '\0');
}

// The door-lock reply (IssueCard, ReadCard, EraseCard), unframed UTF-8.
inline std::string DoorReply(const std::string& code, const std::string& message,
                             const std::string& cardNo) {
  return "<DoorResponse><RequestID></RequestID><ResultCode>" + code +
         "</ResultCode><ResultMessage>" + message + "</ResultMessage><CardNo>" + cardNo +
         "</CardNo></DoorResponse>";
}

// The member card reply (WriteMemberCard, ReadMemberCard), unframed UTF-8.
inline std::string MemberReply(const std::string& code, const std::string& message,
                               const std::string& cardNo, const std::string& expire = "",
                               const std::string& guest = "", const std::string& score = "",
                               const std::string& password = "") {
  return "<DoorResponse><RequestID></RequestID><ResultCode>" + code +
         "</ResultCode><ResultMessage>" + message + "</ResultMessage><CardNo>" + cardNo +
         "</CardNo><ExpireDate>" + expire + "</ExpireDate><GuestName>" + guest +
         "</GuestName><Score>" + score + "</Score><Password>" + password +
         "</Password></DoorResponse>";
}

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_REPLYSUPPORT_H_
