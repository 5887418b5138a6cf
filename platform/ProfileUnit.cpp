// ProfileUnit: reading and atomically rewriting profile files.
//
// The file is split into lines, each remembered with its own line end, so a
// rewrite reproduces every untouched byte. A line is a section header when its
// first non-blank character is '['; the name runs to the next ']'. A line in a
// section is a key line when it holds '='; its key is the text before the first
// '=', trimmed. A UTF-8 byte-order mark at the very start of the file (as
// some editors write one) is not part of the first line: reads skip it, and a
// rewrite keeps it in front.
#include "platform/ProfileUnit.h"

#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/ConvertUnit.h"
#include "platform/ErrorsUnit.h"
#include "platform/FileWriteUnit.h"
#include "platform/PathUnit.h"

#ifdef _WIN32
#include <windows.h>
// windows.h names its own profile function so; ours is the one declared here.
#undef WriteProfileString
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::mutex gWriteLock;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The length of a UTF-8 byte-order mark at the start of s: 3 or 0.
size_t BomLength(std::string_view s) {
  return s.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
}

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

enum class TFileRead { Read, Missing, Unreadable };

// What a read of the file found; contents holds the bytes when Read.
#ifdef _WIN32
TFileRead ReadWholeFile(const std::string& fileName, std::string& contents) {
  contents.clear();
  HANDLE h = CreateFileW(WidePath(fileName).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? TFileRead::Missing
                                                                  : TFileRead::Unreadable;
  }
  char buf[16384];
  TFileRead result = TFileRead::Read;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      result = TFileRead::Unreadable;
      break;
    }
    if (got == 0) break;
    contents.append(buf, got);
  }
  CloseHandle(h);
  if (result != TFileRead::Read) contents.clear();
  return result;
}
#else
TFileRead ReadWholeFile(const std::string& fileName, std::string& contents) {
  contents.clear();
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ENOTDIR ? TFileRead::Missing : TFileRead::Unreadable;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    contents.reserve(static_cast<size_t>(st.st_size));
  char buf[16384];
  TFileRead result = TFileRead::Read;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = TFileRead::Unreadable;  // a folder, an I/O error
      break;
    }
    if (n == 0) break;
    contents.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (result != TFileRead::Read) contents.clear();
  return result;
}

// The file a write must replace: path itself, or the final target of the
// symbolic links it names (a relative link counts from the link's folder). A
// dangling link gives the path it points at, which the write then creates.
std::string WriteTarget(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<size_t>(n) >= link.size()) return target;
    link.resize(static_cast<size_t>(n));
    if (!link.empty() && link[0] != '/') {
      const size_t slash = target.rfind('/');
      link = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
    }
    target = link;
  }
  return target;  // a loop of links: the write below fails on it
}
#endif

}  // namespace

AnsiString ReadProfileStringFromText(const std::string& contents, const AnsiString& section,
                                     const AnsiString& key, const AnsiString& def) {
  bool inSection = false;
  size_t next = BomLength(contents);
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
  size_t next = BomLength(contents);
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

// CR and LF would end the key line early and start lines of their own; NUL
// would cut the text short for readers.
bool IsProfileText(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool ReadProfileFile(const std::string& fileName, std::string& contents) {
  switch (ReadWholeFile(fileName, contents)) {
    case TFileRead::Read:
      return true;
    case TFileRead::Missing:
      return false;
    case TFileRead::Unreadable:
      break;
  }
  CannotRead(fileName);
}

AnsiString ReadProfileString(const std::string& fileName, const AnsiString& section,
                             const AnsiString& key, const AnsiString& def) {
  std::string contents;
  if (!ReadProfileFile(fileName, contents)) return def;
  return ReadProfileStringFromText(contents, section, key, def);
}

std::string UpdateProfileText(const std::string& text, const AnsiString& section,
                              const AnsiString& key, const AnsiString& value) {
  // One byte-order mark is kept in front and is no part of the first line, as
  // for a read; a second one belongs to the first line.
  const size_t bom = BomLength(text);
  const std::string_view contents = std::string_view(text).substr(bom);
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
      std::string out(text.substr(0, bom));
      out.reserve(text.size() + keyLine.size());
      for (size_t j = 0; j < lines.size(); ++j) {
        out.append(j == i ? std::string_view(keyLine) : lines[j].text);
        out.append(lines[j].end);
      }
      return out;
    }
    if (!Trim(lines[i].text).empty()) lastContent = i;
  }

  std::string out(text.substr(0, bom));
  out.reserve(text.size() + keyLine.size() + section.size() + 8);
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
  out.append(contents);
  if (!contents.empty()) {
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
  if (!IsProfileText(section) || !IsProfileText(key) || !IsProfileText(value))
    CannotWrite(fileName);
  std::lock_guard<std::mutex> lock(gWriteLock);
#ifdef _WIN32
  const std::string& target = fileName;
#else
  const std::string target = WriteTarget(fileName);
#endif
  std::string contents;
  const TFileRead read = ReadWholeFile(target, contents);
  // A file that cannot be read must not be replaced by one holding one section.
  if (read == TFileRead::Unreadable) CannotWrite(fileName);
  const bool exists = read == TFileRead::Read;
  std::string updated = UpdateProfileText(contents, section, key, value);
  if (exists && updated == contents) return;

  // The old file's permission bits, owner and group (POSIX) or security
  // descriptor and attributes (Windows) stay; a new file is created 0644 less
  // the umask. A reader that has the file open makes the replacement on
  // Windows fail with a sharing violation: it is tried again for a while.
  TReplaceOptions options;
  options.NewFileMode = 0644;
  options.KeepOld = exists;
  options.FreshTemporary = true;
  options.RetryWhileInUse = true;
  if (!ReplaceFileAtomically(target, updated, options)) CannotWrite(fileName);
}

bool ProfileStartsWithUtf8Bom(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  char head[3] = {};
  return in.read(head, sizeof head) && BomLength(std::string_view(head, sizeof head)) != 0;
}

int32_t ReadProfileInteger(const std::string& fileName, const AnsiString& section,
                           const AnsiString& key, int32_t def) {
  const AnsiString text = ReadProfileString(fileName, section, key, "");
  int32_t value;
  return TryOptionStrToInt(text, value) ? value : def;
}

bool ReadProfileBool(const std::string& fileName, const AnsiString& section, const AnsiString& key,
                     bool def) {
  return ReadProfileInteger(fileName, section, key, def ? 1 : 0) != 0;
}
