// Fuzz target for the profile (INI) functions.
//
// Input: a section name line, a key line, a value line, then the file contents.
// Reads the key from the contents, writes the value with UpdateProfileText and
// checks that the key reads back as written (trimmed, one pair of enclosing
// quotes dropped, cut to the longest value) whenever the names can be written
// at all, and that every other key that could be read before reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ProfileUnit.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Takes the text up to the next LF off the front of s.
std::string TakeLine(std::string_view& s) {
  size_t lf = s.find('\n');
  std::string line(s.substr(0, lf));
  s.remove_prefix(lf == std::string_view::npos ? s.size() : lf + 1);
  return line;
}

bool HasBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// What a read returns for a value written as value.
std::string Expected(std::string_view value) {
  std::string_view v = Trim(value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() > kMaxProfileValue) v = v.substr(0, kMaxProfileValue);
  return std::string(v);
}

// Section and key names of the contents, as a reader would see them.
std::vector<std::pair<std::string, std::string>> Probes(std::string_view contents) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string section;
  size_t i = 0;
  while (i < contents.size() && out.size() < 64) {
    size_t j = contents.find_first_of("\r\n", i);
    if (j == std::string_view::npos) j = contents.size();
    std::string_view line = Trim(contents.substr(i, j - i));
    i = j + 1;
    if (!line.empty() && line[0] == '[') {
      size_t close = line.find(']');
      section = std::string(
          Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1)));
    } else if (size_t eq = line.find('='); eq != std::string_view::npos) {
      out.emplace_back(section, std::string(Trim(line.substr(0, eq))));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string section = TakeLine(in);
  const std::string key = TakeLine(in);
  const std::string value = TakeLine(in);
  const std::string contents(in);
  const std::string kDef =
      "\x01"
      "default";

  (void)ReadProfileStringFromText(contents, section, key, kDef);
  std::vector<std::pair<std::string, std::string>> probes = Probes(contents);
  std::vector<std::string> before;
  for (const auto& [s, k] : probes)
    before.push_back(ReadProfileStringFromText(contents, s, k, kDef));

  const std::string updated = UpdateProfileText(contents, section, key, value);

  // Names that a line-based file can hold: no line breaks, no blanks at the
  // ends, no "]" in a section name, no "=" in a key, no key looking like a header.
  const bool writable = !HasBreak(section) && !HasBreak(key) && !HasBreak(value) &&
                        Trim(section) == section && Trim(key) == key &&
                        section.find(']') == std::string::npos &&
                        key.find('=') == std::string::npos && (key.empty() || key[0] != '[');
  if (!writable) return 0;
  Check(ReadProfileStringFromText(updated, section, key, kDef) == Expected(value));
  for (size_t i = 0; i < probes.size(); ++i) {
    const auto& [s, k] = probes[i];
    if (AnsiSameText(s, section) && AnsiSameText(k, key)) continue;
    Check(ReadProfileStringFromText(updated, s, k, kDef) == before[i]);
  }
  // Writing the same value again changes nothing.
  Check(UpdateProfileText(updated, section, key, value) == updated);
  return 0;
}
