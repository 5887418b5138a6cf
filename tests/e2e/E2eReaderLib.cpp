// E2eReaderLib: reader libraries for the end-to-end fault tests, built twice.
//
// Complete (libVelioE2eGateReader.so): the four reader functions. StartSCard,
// WriteCard and EndSCard succeed at once. ReadCard answers the card number
// "GATE0001"; when the environment names a gate file (VELIO_E2E_READER_GATE)
// that exists, it first creates <gate>.entered and then waits, checking every
// millisecond, until the gate file is gone (at most 30 seconds). So a test
// can hold a request inside the device for as long as it needs.
//
// Partial (libVelioE2ePartialReader.so, E2E_READER_PARTIAL): only StartSCard
// and ReadCard, as a broken vendor library would ship them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#define E2E_READER_API extern "C" __attribute__((visibility("default")))

namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void WaitAtGate() {
  const char* gate = std::getenv("VELIO_E2E_READER_GATE");
  if (!gate || !*gate || !FileExists(gate)) return;
  const std::string entered = std::string(gate) + ".entered";
  int fd = ::open(entered.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
  for (int i = 0; i < 30000 && FileExists(gate); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

E2E_READER_API int32_t StartSCard(int32_t, int32_t*, int32_t) {
  return 0;
}

E2E_READER_API int32_t ReadCard(int32_t, uint8_t*, uint8_t* block16, int32_t, int32_t, int32_t len,
                                int32_t) {
  WaitAtGate();
  if (!block16 || len != 16) return 4;
  std::memset(block16, 0xFF, 16);
  std::memcpy(block16, "GATE0001", 8);
  return 0;
}

#ifndef E2E_READER_PARTIAL
E2E_READER_API int32_t WriteCard(int32_t, uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t) {
  return 0;
}

E2E_READER_API int32_t EndSCard(int32_t) {
  return 0;
}
#endif
