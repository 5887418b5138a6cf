// PmsRequestUnit: the request documents the property-management system sends.
//
// Each builder returns one XML document as UTF-8 text (no NUL): a root element
// "Request" carrying the attribute type, and one child element per value, in
// the order the handlers read them by position. Values are escaped (&amp;,
// &lt;, &gt;, &quot;, &apos;), so any text arrives at the handler unchanged.
// Pure functions; thread-safe.
#ifndef VELIO_TOOLS_PMSREQUESTUNIT_H_
#define VELIO_TOOLS_PMSREQUESTUNIT_H_

#include <optional>
#include <string>
#include <string_view>

// value with the five XML special characters replaced by their entities.
std::string XmlEscape(std::string_view value);

// type "WriteMemberCard": 0 RequestID (empty), 1 card number, 2..4 the three
// extra values, 5 the channel when given.
std::string BuildWriteMemberCard(std::string_view card_no, std::optional<int> channel,
                                 std::string_view extra1 = {}, std::string_view extra2 = {},
                                 std::string_view extra3 = {});

// type "ReadMemberCard": 0 RequestID (empty), 1 flag (0 or 1), 2 the channel
// when given.
std::string BuildReadMemberCard(int flag, std::optional<int> channel);

struct TIssueCardRequest {
  std::string register_id;
  std::string building;
  std::string floor;
  std::string room;
  std::string guest_name;
  std::string check_in;   // "yyyy-MM-dd hh:mm:ss"
  std::string check_out;  // "yyyy-MM-dd hh:mm:ss"
  bool copy = false;
};

// type "IssueCard", positions 0..10: RequestID (empty), register id, building,
// floor, room, guest name, check-in date, check-in time, check-out date,
// check-out time, copy flag ("1" or "0"). A date-time is split at its first
// blank into the date and the time; without a blank the time is empty.
std::string BuildIssueCard(const TIssueCardRequest& request);

// A request of the given type with no values: "ReadCard", "EraseCard", or the
// police interface's "ReadGuest" (which answers any request).
std::string BuildBareRequest(std::string_view type);

#endif  // VELIO_TOOLS_PMSREQUESTUNIT_H_
