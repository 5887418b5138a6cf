// ConventionReaderLib: a reader library for the 32-bit Windows binding tests,
// built twice: with stdcall functions (VELIO_CONVENTION_STDCALL: the library
// cleans up its arguments) and with cdecl ones (the caller does). Each build
// exports StartSCard and EndSCard by their plain names and WriteCard and
// ReadCard by decorated names only (ConventionStdcall.def: "_WriteCard@28",
// as Windows compilers decorate; ConventionCdecl.def: "WriteCard@28"), so the
// binding has to fall back to the decorated look-up for two of the four.
//
// The card is a block array in memory; every call checks the arguments it was
// given, so arguments taken from the wrong stack slots show as failures.
#include <cstdint>
#include <cstring>
#include <mutex>

#ifdef VELIO_CONVENTION_STDCALL
#define CC __stdcall
#else
#define CC __cdecl
#endif

namespace {
std::mutex gLock;
uint8_t gCard[40][16][16];
bool gOpen[11];

constexpr int32_t kBadPort = 0x01, kBadParam = 0x02, kClosed = 0x03, kBadArgument = 0x04,
                  kBadAddress = 0x11, kBadKeyMode = 0x12;

bool PortOk(int32_t port) {
  return port >= -1 && port <= 9;
}

int32_t Check(int32_t port, const uint8_t* key6, const uint8_t* block16, int32_t sector,
              int32_t block, int32_t len, int32_t keyMode) {
  if (!PortOk(port)) return kBadPort;
  if (!gOpen[port + 1]) return kClosed;
  if (!key6 || !block16 || len != 16) return kBadArgument;
  if (sector < 0 || sector >= 40 || block < 0 || block >= 16) return kBadAddress;
  if (keyMode != 4 && keyMode != 5) return kBadKeyMode;
  return 0;
}
}  // namespace

extern "C" {

int32_t CC StartSCard(int32_t port, int32_t* param, int32_t zero) {
  std::lock_guard<std::mutex> guard(gLock);
  if (!PortOk(port)) return kBadPort;
  if (!param || *param != 4113 || zero != 0) return kBadParam;
  gOpen[port + 1] = true;
  return 0;
}

int32_t CC WriteCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector, int32_t block,
                     int32_t len, int32_t keyMode) {
  std::lock_guard<std::mutex> guard(gLock);
  if (int32_t rc = Check(port, key6, block16, sector, block, len, keyMode)) return rc;
  std::memcpy(gCard[sector][block], block16, 16);
  return 0;
}

int32_t CC ReadCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector, int32_t block,
                    int32_t len, int32_t keyMode) {
  std::lock_guard<std::mutex> guard(gLock);
  if (int32_t rc = Check(port, key6, block16, sector, block, len, keyMode)) return rc;
  std::memcpy(block16, gCard[sector][block], 16);
  return 0;
}

int32_t CC EndSCard(int32_t port) {
  std::lock_guard<std::mutex> guard(gLock);
  if (!PortOk(port)) return kBadPort;
  if (!gOpen[port + 1]) return kClosed;
  gOpen[port + 1] = false;
  return 0;
}

}  // extern "C"
