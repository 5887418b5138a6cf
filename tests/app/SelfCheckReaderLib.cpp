// SelfCheckReaderLib: a reader library for the self-check tests
// (libVelioCheckReader.so). The four reader functions succeed at once; the
// optional ReaderDiagnose answers the number in VELIO_CHECK_DIAGNOSE (0 when
// unset) with the text "reader <port> present" for 0, "no reader <port>"
// otherwise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define CHECK_READER_API extern "C" __attribute__((visibility("default")))

CHECK_READER_API int32_t StartSCard(int32_t, int32_t*, int32_t) {
  return 0;
}
CHECK_READER_API int32_t WriteCard(int32_t, uint8_t*, uint8_t*, int32_t, int32_t, int32_t,
                                   int32_t) {
  return 0;
}
CHECK_READER_API int32_t ReadCard(int32_t, uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t) {
  return 0;
}
CHECK_READER_API int32_t EndSCard(int32_t) {
  return 0;
}
CHECK_READER_API int ReaderDiagnose(int port, char* text, int size) {
  const char* env = std::getenv("VELIO_CHECK_DIAGNOSE");
  int rc = env ? std::atoi(env) : 0;
  std::snprintf(text, static_cast<size_t>(size), rc == 0 ? "reader %d present" : "no reader %d",
                port);
  return rc;
}
