// SelfCheckReaderLib: a reader library for the self-check tests
// (libVelioCheckReader.so). The four reader functions succeed at once; the
// optional ReaderDiagnose answers the number in VELIO_CHECK_DIAGNOSE (0 when
// unset) with the text "reader <port> present" for 0, "no reader <port>"
// otherwise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/ReaderApi.h"

#define CHECK_READER_API extern "C" VELIO_READER_API

CHECK_READER_API int32_t VELIO_READER_CALL StartSCard(int32_t, int32_t*, int32_t) {
  return 0;
}
CHECK_READER_API int32_t VELIO_READER_CALL WriteCard(int32_t, uint8_t*, uint8_t*, int32_t, int32_t,
                                                     int32_t, int32_t) {
  return 0;
}
CHECK_READER_API int32_t VELIO_READER_CALL ReadCard(int32_t, uint8_t*, uint8_t*, int32_t, int32_t,
                                                    int32_t, int32_t) {
  return 0;
}
CHECK_READER_API int32_t VELIO_READER_CALL EndSCard(int32_t) {
  return 0;
}
CHECK_READER_API int32_t VELIO_READER_CALL ReaderDiagnose(int32_t port, char* text, int32_t size) {
  const char* env = std::getenv("VELIO_CHECK_DIAGNOSE");
  int rc = env ? std::atoi(env) : 0;
  std::snprintf(text, static_cast<size_t>(size), rc == 0 ? "reader %d present" : "no reader %d",
                static_cast<int>(port));
  return rc;
}
