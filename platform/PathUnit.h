// PathUnit: where the system's files live.
//
// The home directory stands for "beside the executable": Option.ini, the daily
// .LOG file and the door-lock database live there. By default it is the
// executable's directory; the entries' --home DIR replaces it before any module
// starts. Directories returned here always end with the path separator.
#ifndef VELIO_PLATFORM_PATHUNIT_H_
#define VELIO_PLATFORM_PATHUNIT_H_

#include <string>

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

// The absolute form of path (relative paths are taken from the working directory).
std::string AbsolutePath(const std::string& path);

// Sets the environment variable name to value unless it is already set to
// non-empty text; programs and libraries loaded later see it. REQUIRES: no
// other thread is running.
void SetEnvironmentDefault(const std::string& name, const std::string& value);

// The path separator of the platform.
#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

#endif  // VELIO_PLATFORM_PATHUNIT_H_
