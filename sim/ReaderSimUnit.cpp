// ReaderSimUnit: the reader simulator's four exported functions.
//
// The open ports are a small table under a mutex (port -1 is index 0). A card
// access takes the card lock of the state folder (see CardImageUnit), loads
// card.bin, checks the address, key mode and key against the sector trailer,
// and for a write stores the changed image atomically. The state folder is
// looked up at every access, so VELIO_READER_SIM_DIR may change between
// calls. An installed library (in /usr) without VELIO_READER_SIM_DIR has no
// state folder: it answers "no card" and never creates one there. Result codes
// are listed in ReaderSimCodes.h.
#include <cstring>
#include <mutex>
#include <string>

#include "sim/CardImageUnit.h"
#include "sim/ReaderSimCodes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using readersim::TCardImage;

constexpr int32_t kFirstPort = -1;
constexpr int32_t kLastPort = 9;

std::mutex gPortMutex;
bool gOpen[kLastPort - kFirstPort + 1] = {};

bool PortInRange(int32_t port) {
  return port >= kFirstPort && port <= kLastPort;
}

bool PortOpen(int32_t port) {
  std::lock_guard<std::mutex> guard(gPortMutex);
  return PortInRange(port) && gOpen[port - kFirstPort];
}

// The directory holding this library, ending with the separator.
std::string LibraryDir() {
  std::string path;
#ifdef _WIN32
  HMODULE module = nullptr;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&StartSCard), &module)) {
    wchar_t buf[32768];
    DWORD n = GetModuleFileNameW(module, buf, 32768);
    int len =
        WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    path.resize(len);
    WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), path.data(), len, nullptr, nullptr);
  }
  const size_t slash = path.find_last_of("\\/");
#else
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&StartSCard), &info) && info.dli_fname) path = info.dli_fname;
  const size_t slash = path.find_last_of('/');
#endif
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

std::string StateDir() {
  return readersim::StateDir(LibraryDir());
}

// Checks everything a card access needs and loads the image; sets offset to
// the block's offset. Answers READER_SIM_OK or the failure code.
int32_t Authenticate(int32_t port, const uint8_t* key6, const uint8_t* block16, int32_t sector,
                     int32_t block, int32_t len, int32_t keyMode, const std::string& dir,
                     TCardImage& image, size_t& offset) {
  if (!PortOpen(port)) return READER_SIM_ERR_PORT_CLOSED;
  if (!key6 || !block16 || len != static_cast<int32_t>(readersim::kBlockSize))
    return READER_SIM_ERR_ARGUMENT;
  if (keyMode != VELIO_READER_KEY_A && keyMode != VELIO_READER_KEY_B)
    return READER_SIM_ERR_KEY_MODE;
  if (dir.empty()) return READER_SIM_ERR_NO_CARD;  // no state folder: no card
  switch (readersim::LoadCard(dir, image)) {
    case readersim::TLoadResult::Ok:
      break;
    case readersim::TLoadResult::NoCard:
      return READER_SIM_ERR_NO_CARD;
    case readersim::TLoadResult::BadImage:
      return READER_SIM_ERR_IMAGE;
    case readersim::TLoadResult::IoError:
      return READER_SIM_ERR_IO;
  }
  if (!readersim::BlockOffset(sector, block, offset)) return READER_SIM_ERR_ADDRESS;
  const uint8_t* trailer = image.data() + readersim::TrailerOffset(sector);
  const uint8_t* expected = keyMode == VELIO_READER_KEY_A ? trailer : trailer + 10;
  if (std::memcmp(expected, key6, 6) != 0) return READER_SIM_ERR_AUTH;
  return READER_SIM_OK;
}

}  // namespace

extern "C" {

VELIO_READER_API int32_t VELIO_READER_CALL StartSCard(int32_t port, int32_t* param, int32_t zero) {
  (void)zero;
  if (!PortInRange(port)) return READER_SIM_ERR_PORT_RANGE;
  if (!param || *param != VELIO_READER_START_PARAM) return READER_SIM_ERR_START_PARAM;
  std::lock_guard<std::mutex> guard(gPortMutex);
  gOpen[port - kFirstPort] = true;
  return READER_SIM_OK;
}

VELIO_READER_API int32_t VELIO_READER_CALL WriteCard(int32_t port, uint8_t* key6, uint8_t* block16,
                                                     int32_t sector, int32_t block, int32_t len,
                                                     int32_t keyMode) {
  const std::string dir = StateDir();
  readersim::TCardLock lock(dir);
  TCardImage image;
  size_t offset = 0;
  const int32_t rc =
      Authenticate(port, key6, block16, sector, block, len, keyMode, dir, image, offset);
  if (rc != READER_SIM_OK) return rc;
  if (readersim::IsTrailer(sector, block)) return READER_SIM_ERR_TRAILER;
  if (sector == 0 && block == 0) return READER_SIM_ERR_BLOCK0;
  std::memcpy(image.data() + offset, block16, readersim::kBlockSize);
  return readersim::SaveCard(dir, image) ? READER_SIM_OK : READER_SIM_ERR_IO;
}

VELIO_READER_API int32_t VELIO_READER_CALL ReadCard(int32_t port, uint8_t* key6, uint8_t* block16,
                                                    int32_t sector, int32_t block, int32_t len,
                                                    int32_t keyMode) {
  const std::string dir = StateDir();
  readersim::TCardLock lock(dir);
  TCardImage image;
  size_t offset = 0;
  const int32_t rc =
      Authenticate(port, key6, block16, sector, block, len, keyMode, dir, image, offset);
  if (rc != READER_SIM_OK) return rc;
  std::memcpy(block16, image.data() + offset, readersim::kBlockSize);
  // Key A never leaves the card.
  if (readersim::IsTrailer(sector, block)) std::memset(block16, 0, 6);
  return READER_SIM_OK;
}

VELIO_READER_API int32_t VELIO_READER_CALL EndSCard(int32_t port) {
  std::lock_guard<std::mutex> guard(gPortMutex);
  if (!PortInRange(port) || !gOpen[port - kFirstPort]) return READER_SIM_ERR_PORT_CLOSED;
  gOpen[port - kFirstPort] = false;
  return READER_SIM_OK;
}

VELIO_READER_API int32_t VELIO_READER_CALL ReaderSimCardFile(char* buffer, int32_t size) {
  const std::string dir = StateDir();
  const std::string file = dir.empty() ? std::string() : readersim::CardFile(dir);
  const auto length = static_cast<int32_t>(file.size());
  if (buffer && size > length) std::memcpy(buffer, file.c_str(), file.size() + 1);
  return length;
}

}  // extern "C"
