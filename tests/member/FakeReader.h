// FakeReader: a reader library for tests that records every call and answers
// what the test programmed. Built as a shared library (libVelioFakeReader.so);
// the test reaches the control functions below through TDynLib on the same
// file, so both share one copy of the recorded state.
#ifndef VELIO_TESTS_MEMBER_FAKEREADER_H_
#define VELIO_TESTS_MEMBER_FAKEREADER_H_

#include <stdint.h>

extern "C" {

struct FakeReaderCall {
  char function[16];  // "StartSCard", "WriteCard", "ReadCard", "EndSCard"
  int32_t port;
  int32_t param;      // StartSCard: *param at the call (-999 for a null pointer)
  int32_t zero;       // StartSCard: third argument
  uint8_t key[6];     // WriteCard/ReadCard
  uint8_t block[16];  // WriteCard: the block; ReadCard: the buffer as passed in
  int32_t sector;
  int32_t blockNo;
  int32_t len;
  int32_t keyMode;
};

typedef void (*FakeReaderResetFn)(void);
// Programs the results of the next calls and the 16 bytes ReadCard fills in.
typedef void (*FakeReaderProgramFn)(int32_t startResult, int32_t writeResult, int32_t readResult,
                                    const uint8_t* readData16);
typedef int32_t (*FakeReaderCallCountFn)(void);
typedef int32_t (*FakeReaderGetCallFn)(int32_t index, FakeReaderCall* out);
// How often a StartSCard came while another port session was still open.
typedef int32_t (*FakeReaderOverlapsFn)(void);
}

#endif  // VELIO_TESTS_MEMBER_FAKEREADER_H_
