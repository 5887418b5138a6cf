// PathUnit: where the system's files live.
//
// The home directory stands for "beside the executable": Option.ini, the daily
// .LOG file and the door-lock database live there. By default it is the
// executable's directory; the entries' --home DIR replaces it before any module
// starts. Directories returned here always end with the path separator.
//
// Paths are UTF-8 text on every system. On Windows they reach the system only
// through its wide-character functions (NativePath, WidePath), so a folder
// with Chinese characters works whatever the ANSI code page.
#ifndef VELIO_PLATFORM_PATHUNIT_H_
#define VELIO_PLATFORM_PATHUNIT_H_

#include <filesystem>
#include <string>
#include <vector>

// The directory of the running executable, ending with the separator.
std::string ExecutableDir();

// The home directory, ending with the separator.
std::string HomeDir();

// Replaces the home directory. REQUIRES: called before the modules start.
void SetHomeDir(const std::string& dir);

// True when path names an existing directory.
bool DirectoryExists(const std::string& path);

// True when path names an existing file (of any kind).
bool FileExists(const std::string& path);

// True when this process may create files in the directory path (its
// effective rights; root may write anywhere that is not mounted read-only).
// Otherwise false with error set to the system's reason. On Windows, where
// folder permissions decide, a probe file is created there and removed at once.
bool DirectoryWritable(const std::string& path, std::string& error);

// True when the file path may be opened for writing by this process; false
// with error set otherwise. Opens nothing (on Windows: opens it for writing,
// sharing everything, and closes it; nothing is written).
bool FileWritable(const std::string& path, std::string& error);

// Creates path as an empty file readable and writable by its owner and
// readable by its group only (0640 on Linux, whatever the umask; Windows
// keeps the folder's rights). A file that exists already is left as it is,
// its mode included. False with error set when it cannot be created.
bool CreateGroupReadableFile(const std::string& path, std::string& error);

// Reads the whole file into contents. False with error set when it cannot be
// opened or read.
bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error);

// The absolute form of path (relative paths are taken from the working directory).
std::string AbsolutePath(const std::string& path);

// Sets the environment variable name to value unless it is already set to
// non-empty text; programs and libraries loaded later see it. REQUIRES: no
// other thread is running.
void SetEnvironmentDefault(const std::string& name, const std::string& value);

// The file-system form of a UTF-8 path, and back.
std::filesystem::path NativePath(const std::string& utf8);
std::string PathUtf8(const std::filesystem::path& path);

#ifdef _WIN32
// UTF-8 to UTF-16 for the wide-character API, and back.
std::wstring WidePath(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);
#endif

// Reads the whole file; false when it cannot be opened. On Windows the file
// is opened sharing read, write and delete, so a writer may replace it (write
// a new file and rename it over this one) while it is being read.
bool ReadWholeFileShared(const std::string& path, std::string& contents);

// The program's arguments as UTF-8 (on Windows taken from the wide command
// line, since argv holds ANSI text there).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// The path separator of the platform.
#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

#endif  // VELIO_PLATFORM_PATHUNIT_H_
