// PmsRequestUnit: builds request documents by concatenation, one element per
// value, escaping every value and the type attribute.
#include "tools/PmsRequestUnit.h"

#include <utility>
#include <vector>

namespace {

using TField = std::pair<std::string_view, std::string>;  // element name, value

std::string Document(std::string_view type, const std::vector<TField>& fields) {
  std::string text = "<Request type=\"" + XmlEscape(type) + "\">";
  for (const auto& [name, value] : fields) {
    text += "<";
    text += name;
    text += ">";
    text += XmlEscape(value);
    text += "</";
    text += name;
    text += ">";
  }
  text += "</Request>";
  return text;
}

std::pair<std::string, std::string> SplitDateTime(std::string_view date_time) {
  const std::size_t blank = date_time.find(' ');
  if (blank == std::string_view::npos) return {std::string(date_time), std::string()};
  return {std::string(date_time.substr(0, blank)), std::string(date_time.substr(blank + 1))};
}

}  // namespace

std::string XmlEscape(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string BuildWriteMemberCard(std::string_view card_no, std::optional<int> channel,
                                 std::string_view extra1, std::string_view extra2,
                                 std::string_view extra3) {
  std::vector<TField> fields = {{"RequestID", ""},
                                {"CardNo", std::string(card_no)},
                                {"Extra1", std::string(extra1)},
                                {"Extra2", std::string(extra2)},
                                {"Extra3", std::string(extra3)}};
  if (channel) fields.emplace_back("Channel", std::to_string(*channel));
  return Document("WriteMemberCard", fields);
}

std::string BuildReadMemberCard(int flag, std::optional<int> channel) {
  std::vector<TField> fields = {{"RequestID", ""}, {"Flag", std::to_string(flag)}};
  if (channel) fields.emplace_back("Channel", std::to_string(*channel));
  return Document("ReadMemberCard", fields);
}

std::string BuildIssueCard(const TIssueCardRequest& request) {
  auto [in_date, in_time] = SplitDateTime(request.check_in);
  auto [out_date, out_time] = SplitDateTime(request.check_out);
  return Document("IssueCard", {{"RequestID", ""},
                                {"RegisterID", request.register_id},
                                {"Building", request.building},
                                {"Floor", request.floor},
                                {"Room", request.room},
                                {"GuestName", request.guest_name},
                                {"CheckInDate", in_date},
                                {"CheckInTime", in_time},
                                {"CheckOutDate", out_date},
                                {"CheckOutTime", out_time},
                                {"IsCopy", request.copy ? "1" : "0"}});
}

std::string BuildBareRequest(std::string_view type) {
  return Document(type, {});
}
