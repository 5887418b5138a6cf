// ProfileUnit: reading and atomically rewriting profile files.
//
// The file is split into lines, each remembered with its own line end, so a
// rewrite reproduces every untouched byte. A line is a section header when its
// first non-blank character is '['; the name runs to the next ']'. A line in a
// section is a key line when it holds '='; its key is the text before the first
// '=', trimmed.
#include "platform/ProfileUnit.h"

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/ErrorsUnit.h"
#include "platform/PathUnit.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// windows.h names its own profile function so; ours is the one declared here.
#undef WriteProfileString
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::mutex gWriteLock;

struct TLine {
  std::string_view text;  // without its line end
  std::string_view end;   // "\r\n", "\n", "\r" or "" for the last line
};

// The line of s that starts at i, with its end; advances i past it. False when
// i is at the end of s.
bool NextLine(std::string_view s, size_t& i, TLine& line) {
  if (i >= s.size()) return false;
  size_t j = i;
  while (j < s.size() && s[j] != '\n' && s[j] != '\r') ++j;
  size_t k = j;
  if (k < s.size() && s[k] == '\r') ++k;
  if (k < s.size() && s[k] == '\n' && (k == j || s[j] == '\r')) ++k;
  if (k == j && j < s.size()) ++k;
  line = {s.substr(i, j - i), s.substr(j, k - j)};
  i = k;
  return true;
}

std::vector<TLine> SplitLines(std::string_view s) {
  std::vector<TLine> lines;
  size_t i = 0;
  TLine line;
  while (NextLine(s, i, line)) lines.push_back(line);
  return lines;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// The section name of a header line, or false when the line is no header.
bool SectionName(std::string_view line, std::string_view& name) {
  std::string_view t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  name = Trim(close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1));
  return true;
}

bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = line.substr(eq + 1);
  return true;
}

// A key line's value as a read returns it: trimmed, one pair of enclosing
// quotes dropped, cut to kMaxProfileValue.
std::string_view ValueText(std::string_view v) {
  v = Trim(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() > kMaxProfileValue) v = v.substr(0, kMaxProfileValue);
  return v;
}

std::string ReadWholeFile(const std::string& fileName, bool& exists) {
#ifdef _WIN32
  std::string contents;
  exists = ReadWholeFileShared(fileName, contents);  // a writer may replace it meanwhile
  return contents;
#else
  std::ifstream in(fileName, std::ios::binary);
  exists = static_cast<bool>(in);
  if (!in) return std::string();
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
#endif
}

[[noreturn]] void CannotWrite(const std::string& fileName) {
  throw EInOutError("Unable to write to " + fileName);
}

}  // namespace

AnsiString ReadProfileStringFromText(const std::string& contents, const AnsiString& section,
                                     const AnsiString& key, const AnsiString& def) {
  bool inSection = false;
  size_t next = 0;
  TLine line;
  // Line by line without a line table: a lookup is one pass that stops at its key.
  while (NextLine(contents, next, line)) {
    std::string_view name;
    if (SectionName(line.text, name)) {
      if (inSection) break;  // the first matching section decides
      inSection = AnsiSameText(name, section);
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (!KeyOf(line.text, k, v) || !AnsiSameText(k, key)) continue;
    return AnsiString(ValueText(v));
  }
  return def;
}

std::vector<std::pair<AnsiString, AnsiString>> ReadProfileSectionFromText(
    const std::string& contents, const AnsiString& section, bool& found) {
  std::vector<std::pair<AnsiString, AnsiString>> entries;
  found = false;
  size_t next = 0;
  TLine line;
  while (NextLine(contents, next, line)) {
    std::string_view name;
    if (SectionName(line.text, name)) {
      if (found) break;  // the first matching section decides
      found = AnsiSameText(name, section);
      continue;
    }
    if (!found) continue;
    std::string_view k, v;
    if (KeyOf(line.text, k, v)) entries.emplace_back(AnsiString(k), AnsiString(ValueText(v)));
  }
  return entries;
}

AnsiString ReadProfileString(const std::string& fileName, const AnsiString& section,
                             const AnsiString& key, const AnsiString& def) {
  bool exists;
  std::string contents = ReadWholeFile(fileName, exists);
  if (!exists) return def;
  return ReadProfileStringFromText(contents, section, key, def);
}

std::string UpdateProfileText(const std::string& contents, const AnsiString& section,
                              const AnsiString& key, const AnsiString& value) {
  std::vector<TLine> lines = SplitLines(contents);
  // New lines take the file's own line end; CR LF for a new file.
  std::string_view eol = "\r\n";
  for (const TLine& l : lines)
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  const std::string keyLine = key + "=" + value;

  // Locate the section: its header line and the index after its last non-blank line.
  long header = -1;
  size_t lastContent = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(lines[i].text, name)) {
      if (header >= 0) break;
      if (AnsiSameText(name, section)) {
        header = static_cast<long>(i);
        lastContent = i;
      }
      continue;
    }
    if (header < 0) continue;
    std::string_view k, v;
    if (KeyOf(lines[i].text, k, v) && AnsiSameText(k, key)) {
      std::string out;
      out.reserve(contents.size() + keyLine.size());
      for (size_t j = 0; j < lines.size(); ++j) {
        out.append(j == i ? std::string_view(keyLine) : lines[j].text);
        out.append(lines[j].end);
      }
      return out;
    }
    if (!Trim(lines[i].text).empty()) lastContent = i;
  }

  std::string out;
  out.reserve(contents.size() + keyLine.size() + section.size() + 8);
  if (header >= 0) {
    for (size_t j = 0; j < lines.size(); ++j) {
      out.append(lines[j].text);
      if (j == lastContent) {
        out.append(lines[j].end.empty() ? eol : lines[j].end);
        out.append(keyLine);
        out.append(lines[j].end.empty() ? std::string_view() : eol);
        if (!lines[j].end.empty()) continue;
      }
      out.append(lines[j].end);
    }
    return out;
  }
  out = contents;
  if (!out.empty()) {
    if (out.back() != '\n' && out.back() != '\r') out.append(eol);
    out.append(eol);  // a blank line before a new section
  }
  out.append("[" + section + "]");
  out.append(eol);
  out.append(keyLine);
  out.append(eol);
  return out;
}

void WriteProfileString(const std::string& fileName, const AnsiString& section,
                        const AnsiString& key, const AnsiString& value) {
  std::lock_guard<std::mutex> lock(gWriteLock);
  bool exists;
  std::string contents = ReadWholeFile(fileName, exists);
  if (exists) {
    // A file we can read but not write must not be replaced behind its back.
    std::ofstream probe(NativePath(fileName), std::ios::binary | std::ios::app);
    if (!probe) CannotWrite(fileName);
  }
  std::string updated = UpdateProfileText(contents, section, key, value);
  if (exists && updated == contents) return;

  std::string tmp = fileName + ".tmp";
#ifdef _WIN32
  FILE* f = _wfopen(WidePath(tmp).c_str(), L"wb");
  if (!f) CannotWrite(fileName);
  bool ok = std::fwrite(updated.data(), 1, updated.size(), f) == updated.size();
  ok = std::fflush(f) == 0 && ok;
  ok = _commit(_fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  // A reader that has the file open at this moment makes the replacement
  // fail with a sharing violation: it is tried again for a while.
  bool moved = false;
  for (int attempt = 0; ok && !moved && attempt < 200; ++attempt) {
    moved = MoveFileExW(WidePath(tmp).c_str(), WidePath(fileName).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    const DWORD error = moved ? 0 : GetLastError();
    if (!moved && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    if (!moved) Sleep(5);
  }
  if (!ok || !moved) {
    DeleteFileW(WidePath(tmp).c_str());
    CannotWrite(fileName);
  }
#else
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) CannotWrite(fileName);
  const char* p = updated.data();
  size_t left = updated.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), fileName.c_str()) != 0) {
    ::unlink(tmp.c_str());
    CannotWrite(fileName);
  }
#endif
}
