// CardImageUnit: layout arithmetic, the card lock and atomic image writes.
//
// The lock is two-level: a mutex for the threads of this process (flock alone
// would serialise them too on Linux, but not on every platform), then the file
// lock for other processes. SaveCard writes card.bin.tmp under the lock, so a
// fixed temporary name is safe, flushes it to disk and renames it over
// card.bin (ReplaceFileAtomically, platform/FileWriteUnit.h).
#include "sim/CardImageUnit.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/FileWriteUnit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace readersim {

namespace {

std::mutex gCardMutex;

#ifdef _WIN32
constexpr char kDelim = '\\';
#else
constexpr char kDelim = '/';
#endif

// Paths are UTF-8 text; on Windows they reach the system as UTF-16.
std::filesystem::path Fs(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}
#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}
#endif

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(Fs(path), ec);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t BlocksInSector(int32_t sector) {
  if (sector < 0 || sector >= kSectorCount) return 0;
  return sector < 32 ? 4 : 16;
}

bool BlockOffset(int32_t sector, int32_t block, size_t& offset) {
  const int32_t blocks = BlocksInSector(sector);
  if (block < 0 || block >= blocks) return false;
  const size_t start = sector < 32 ? static_cast<size_t>(sector) * 64
                                   : 2048 + static_cast<size_t>(sector - 32) * 256;
  offset = start + static_cast<size_t>(block) * kBlockSize;
  return true;
}

size_t TrailerOffset(int32_t sector) {
  size_t offset = 0;
  BlockOffset(sector, BlocksInSector(sector) - 1, offset);
  return offset;
}

bool IsTrailer(int32_t sector, int32_t block) {
  return BlocksInSector(sector) > 0 && block == BlocksInSector(sector) - 1;
}

bool IsSystemFolder(const std::string& dir) {
#ifdef _WIN32
  (void)dir;
  return false;
#else
  for (const char* top : {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/"}) {
    const std::string prefix(top);
    if (dir.compare(0, prefix.size(), prefix) == 0 || dir + "/" == prefix) return true;
  }
  return false;
#endif
}

std::string StateDir(const std::string& besideDir) {
  const char* env = std::getenv("VELIO_READER_SIM_DIR");
  if (!(env && *env) && IsSystemFolder(besideDir)) return std::string();
  std::string dir = env && *env ? std::string(env) : besideDir + "ReaderSim";
  if (dir.back() != kDelim && dir.back() != '/') dir.push_back(kDelim);
  return dir;
}

std::string CardFile(const std::string& stateDir) {
  return stateDir + "card.bin";
}

TCardLock::TCardLock(const std::string& stateDir) : processLock_(gCardMutex) {
  if (!IsDirectory(stateDir)) return;
  const std::string path = stateDir + "card.lock";
#ifdef _WIN32
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  OVERLAPPED ov = {};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &ov)) {
    CloseHandle(h);
    return;
  }
  handle_ = h;
  held_ = true;
#else
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  held_ = true;
#endif
}

TCardLock::~TCardLock() {
#ifdef _WIN32
  if (handle_) {
    OVERLAPPED ov = {};
    UnlockFileEx(static_cast<HANDLE>(handle_), 0, MAXDWORD, MAXDWORD, &ov);
    CloseHandle(static_cast<HANDLE>(handle_));
  }
#else
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
#endif
}

TLoadResult LoadCard(const std::string& stateDir, TCardImage& image) {
  const std::string path = CardFile(stateDir);
  std::error_code ec;
  if (!std::filesystem::exists(Fs(path), ec))
    return ec ? TLoadResult::IoError : TLoadResult::NoCard;
  std::ifstream in(Fs(path), std::ios::binary);
  if (!in) return TLoadResult::IoError;
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (static_cast<size_t>(in.gcount()) != image.size()) return TLoadResult::BadImage;
  char extra;
  if (in.read(&extra, 1); in.gcount() != 0) return TLoadResult::BadImage;
  return TLoadResult::Ok;
}

bool SaveCard(const std::string& stateDir, const TCardImage& image) {
  // card.bin.tmp is truncated when left over; a new card.bin is created 0666
  // less the umask and replaces the old one whatever its mode.
  return ReplaceFileAtomically(
      CardFile(stateDir),
      std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

bool RemoveCard(const std::string& stateDir) {
  std::error_code ec;
  std::filesystem::remove(Fs(CardFile(stateDir)), ec);
  return !std::filesystem::exists(Fs(CardFile(stateDir)), ec);
}

TCardImage NewCardImage(const TKey& key, const std::array<uint8_t, 4>& serial) {
  TCardImage image{};
  static constexpr uint8_t kAccessBits[4] = {0xFF, 0x07, 0x80, 0x69};
  for (int32_t sector = 0; sector < kSectorCount; ++sector) {
    uint8_t* trailer = image.data() + TrailerOffset(sector);
    for (size_t i = 0; i < 6; ++i) {
      trailer[i] = key[i];
      trailer[10 + i] = key[i];
    }
    for (size_t i = 0; i < 4; ++i) trailer[6 + i] = kAccessBits[i];
  }
  uint8_t* block0 = image.data();
  uint8_t check = 0;
  for (size_t i = 0; i < 4; ++i) {
    block0[i] = serial[i];
    check ^= serial[i];
  }
  block0[4] = check;
  static constexpr uint8_t kManufacturer[11] = {0x08, 0x04, 0x00, 0x62, 0x63, 0x64,
                                                0x65, 0x66, 0x67, 0x68, 0x69};
  for (size_t i = 0; i < sizeof kManufacturer; ++i) block0[5 + i] = kManufacturer[i];
  return image;
}

bool ParseKey(const std::string& text, TKey& key) {
  if (text.size() != 12) return false;
  for (size_t i = 0; i < 6; ++i) {
    const int hi = HexDigit(text[2 * i]);
    const int lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    key[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

}  // namespace readersim
