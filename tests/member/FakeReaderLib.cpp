// FakeReaderLib: the recording reader library behind FakeReader.h. Built twice:
// complete, and (FAKE_READER_WITHOUT_END_SCARD) lacking EndSCard.
#include <cstring>
#include <mutex>
#include <vector>

#include "tests/member/FakeReader.h"

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {
std::mutex gLock;
std::vector<FakeReaderCall> gCalls;
constexpr size_t kMaxRecorded = 256;
int32_t gStartResult = 0, gWriteResult = 0, gReadResult = 0;
uint8_t gReadData[16] = {};
int32_t gOpenSessions = 0;
int32_t gOverlaps = 0;

FakeReaderCall& Record(const char* function, int32_t port) {
  static FakeReaderCall dropped;
  if (gCalls.size() >= kMaxRecorded) return dropped = FakeReaderCall{};
  gCalls.push_back(FakeReaderCall{});
  FakeReaderCall& c = gCalls.back();
  std::strncpy(c.function, function, sizeof c.function - 1);
  c.port = port;
  return c;
}

void RecordCard(FakeReaderCall& c, const uint8_t* key6, const uint8_t* block16, int32_t sector,
                int32_t block, int32_t len, int32_t keyMode) {
  if (key6) std::memcpy(c.key, key6, 6);
  if (block16) std::memcpy(c.block, block16, 16);
  c.sector = sector;
  c.blockNo = block;
  c.len = len;
  c.keyMode = keyMode;
}
}  // namespace

FAKE_API void FakeReaderReset() {
  std::lock_guard<std::mutex> g(gLock);
  gCalls.clear();
  gStartResult = gWriteResult = gReadResult = 0;
  std::memset(gReadData, 0, sizeof gReadData);
  gOpenSessions = 0;
  gOverlaps = 0;
}

FAKE_API void FakeReaderProgram(int32_t startResult, int32_t writeResult, int32_t readResult,
                                const uint8_t* readData16) {
  std::lock_guard<std::mutex> g(gLock);
  gStartResult = startResult;
  gWriteResult = writeResult;
  gReadResult = readResult;
  if (readData16) std::memcpy(gReadData, readData16, 16);
}

FAKE_API int32_t FakeReaderCallCount() {
  std::lock_guard<std::mutex> g(gLock);
  return static_cast<int32_t>(gCalls.size());
}

FAKE_API int32_t FakeReaderGetCall(int32_t index, FakeReaderCall* out) {
  std::lock_guard<std::mutex> g(gLock);
  if (index < 0 || static_cast<size_t>(index) >= gCalls.size()) return 0;
  *out = gCalls[static_cast<size_t>(index)];
  return 1;
}

FAKE_API int32_t FakeReaderOverlaps() {
  std::lock_guard<std::mutex> g(gLock);
  return gOverlaps;
}

FAKE_API int32_t StartSCard(int32_t port, int32_t* param, int32_t zero) {
  std::lock_guard<std::mutex> g(gLock);
  FakeReaderCall& c = Record("StartSCard", port);
  c.param = param ? *param : -999;
  c.zero = zero;
  if (gOpenSessions > 0) ++gOverlaps;
  ++gOpenSessions;
  return gStartResult;
}

FAKE_API int32_t WriteCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector,
                           int32_t block, int32_t len, int32_t keyMode) {
  std::lock_guard<std::mutex> g(gLock);
  RecordCard(Record("WriteCard", port), key6, block16, sector, block, len, keyMode);
  return gWriteResult;
}

FAKE_API int32_t ReadCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector,
                          int32_t block, int32_t len, int32_t keyMode) {
  std::lock_guard<std::mutex> g(gLock);
  RecordCard(Record("ReadCard", port), key6, block16, sector, block, len, keyMode);
  if (gReadResult == 0 && block16) std::memcpy(block16, gReadData, 16);
  return gReadResult;
}

#ifndef FAKE_READER_WITHOUT_END_SCARD
FAKE_API int32_t EndSCard(int32_t port) {
  std::lock_guard<std::mutex> g(gLock);
  Record("EndSCard", port);
  --gOpenSessions;
  return 0;
}
#endif
