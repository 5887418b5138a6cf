// ProfileUnit: the platform's profile ("INI") functions.
//
// A profile file is code page 936 text: "[Section]" lines open sections, and
// "Key=Value" lines hold values. Section and key names match without letter
// case (code-page aware). Reading trims the value of blanks, drops one pair of
// enclosing single or double quotes and cuts it to 2047 characters; a missing
// file, section or key gives the default. A UTF-8 byte-order mark at the start
// of the file is skipped (and kept by writes).
//
// A file that exists but cannot be read (no permission, no descriptor left, a
// folder of that name) is never taken for a missing one: a read raises
// EInOutError "Unable to read %s" and a write refuses with "Unable to write to
// %s", so neither a default nor a fresh one-section file takes its place.
//
// Writing replaces the key's line in its section, or adds the line (after the
// section's last non-blank line), the section (at the end, after a blank line)
// or the file; every other byte stays as it was. A section, key or value
// holding CR, LF or NUL is never written (it would plant lines of its own).
// Each write replaces the file atomically: a temporary file in the same
// directory is written, flushed and renamed over the old one, so a failed write
// leaves the old file whole. The new file keeps the old one's permission bits
// and, as far as the process may set them, its owner and group; a symbolic link
// is written through, its target replaced and the link kept.
//
// Thread-safe: writes to one process are serialised; reads see either the old
// or the new file, never a half-written one.
#ifndef VELIO_PLATFORM_PROFILEUNIT_H_
#define VELIO_PLATFORM_PROFILEUNIT_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePageUnit.h"

// windows.h, when included before, names its own function WriteProfileString.
#ifdef WriteProfileString
#undef WriteProfileString
#endif

// Longest value a read returns, in bytes.
inline constexpr size_t kMaxProfileValue = 2047;

// The value of key in section of the file, or def (also for a missing file).
// Raises EInOutError "Unable to read %s" (the file's full path) when the file
// exists but cannot be read.
AnsiString ReadProfileString(const std::string& fileName, const AnsiString& section,
                             const AnsiString& key, const AnsiString& def);

// The integer rules of the option files (TryOptionStrToInt): signed decimal;
// hexadecimal after a leading "0x"/"0X" (text of three characters or more) or
// "$", with no sign before either; anything else gives def.
// Both raise EInOutError as ReadProfileString does for a file that exists but
// cannot be read.
int32_t ReadProfileInteger(const std::string& fileName, const AnsiString& section,
                           const AnsiString& key, int32_t def);
bool ReadProfileBool(const std::string& fileName, const AnsiString& section, const AnsiString& key,
                     bool def);

// The same lookup on file contents already in memory (used by the fuzz target).
AnsiString ReadProfileStringFromText(const std::string& contents, const AnsiString& section,
                                     const AnsiString& key, const AnsiString& def);

// Every key line of section (the first section of that name, as the lookups
// above) in file order: the key and its value as ReadProfileStringFromText
// gives it. found tells whether the section exists. One pass over contents,
// for callers that read many keys of one section.
std::vector<std::pair<AnsiString, AnsiString>> ReadProfileSectionFromText(
    const std::string& contents, const AnsiString& section, bool& found);

// The whole file in contents: true when it was read, false (contents empty)
// when there is no such file. Raises EInOutError "Unable to read %s" when the
// file exists but cannot be read.
bool ReadProfileFile(const std::string& fileName, std::string& contents);

// True when text may stand in a profile file as a section, key or value: it
// holds no CR, LF or NUL.
bool IsProfileText(std::string_view text);

// Sets key in section to value. Raises EInOutError "Unable to write to %s"
// (the file's full path) when the file cannot be read or written, or when
// section, key or value holds CR, LF or NUL; the old file is then left intact.
void WriteProfileString(const std::string& fileName, const AnsiString& section,
                        const AnsiString& key, const AnsiString& value);

// True when the file starts with a UTF-8 byte-order mark: an editor saved it
// as UTF-8, while profile files are read as code page 936 (the mark itself is
// skipped, text beyond ASCII is misread).
bool ProfileStartsWithUtf8Bom(const std::string& fileName);

// Pure form of the write: the new contents of a file that held text.
std::string UpdateProfileText(const std::string& text, const AnsiString& section,
                              const AnsiString& key, const AnsiString& value);

#endif  // VELIO_PLATFORM_PROFILEUNIT_H_
