// PcscReaderUnit: the PC/SC calls of the reader library and of velio-readers.
//
// A thin layer over the PC/SC API (pcsc-lite's winscard.h on Linux, winscard
// on Windows, whose ANSI functions are used): a context, the list of readers
// with their card states, the choice of a reader by port number, and one card
// connection that sends command APDUs. Every failure is answered as a code of
// ReaderPcscCodes.h. Objects are not thread-safe; a thread uses its own.
#ifndef VELIO_PCSC_PCSCREADERUNIT_H_
#define VELIO_PCSC_PCSCREADERUNIT_H_

#ifdef _WIN32
#include <windows.h>
#endif
#include <winscard.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pcsc/PcscCardUnit.h"

namespace pcsc {

// One reader as PC/SC lists it.
struct TReaderState {
  std::string Name;
  bool CardPresent = false;
  bool Exclusive = false;    // another program holds the card exclusively
  std::vector<uint8_t> Atr;  // the card's ATR when the reader reports it
};

// The readers that count: VELIO_PCSC_READER, when set and not empty, keeps the
// names that contain its text. Exposed for tests.
std::vector<std::string> FilterReaders(const std::vector<std::string>& all, const char* filter);

// A PC/SC context, released on destruction. Not copyable.
class TContext {
 public:
  TContext() = default;
  ~TContext();
  TContext(const TContext&) = delete;
  TContext& operator=(const TContext&) = delete;

  // Establishes the context; 0, READER_PCSC_ERR_NO_SERVICE or a PC/SC code.
  int32_t Establish();
  // The readers that count, in PC/SC's order (none is not an error).
  int32_t ListReaders(std::vector<std::string>& names);
  // The state of each named reader, without waiting.
  int32_t States(const std::vector<std::string>& names, std::vector<TReaderState>& states);
  // The reader that port selects: -1 the first reader with a card, 0..9 the
  // reader at that index. 0, READER_PCSC_ERR_NO_READER, READER_PCSC_ERR_NO_CARD
  // (port -1 with readers but no card), READER_PCSC_ERR_PORT_RANGE or a PC/SC code.
  int32_t SelectReader(int32_t port, std::string& name);
  SCARDCONTEXT Handle() const { return context_; }

 private:
  SCARDCONTEXT context_ = 0;
  bool established_ = false;
};

// A shared connection to the card in one reader; disconnects leaving the card
// in place on destruction. REQUIRES: the context outlives the connection.
class TConnection : public TApduChannel {
 public:
  TConnection() = default;
  ~TConnection() override;
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  // Connects to the card; 0, READER_PCSC_ERR_NO_CARD, READER_PCSC_ERR_SHARING,
  // READER_PCSC_ERR_NO_READER or a PC/SC code. Then reads the ATR.
  int32_t Connect(TContext& context, const std::string& reader);
  const std::vector<uint8_t>& Atr() const { return atr_; }
  int32_t Transmit(const std::vector<uint8_t>& command, std::vector<uint8_t>& response) override;
  void Disconnect();
  // Holds the card for this connection alone (other connections' commands
  // wait), so the card's authentication is not changed between our commands.
  // 0 or a PC/SC code. REQUIRES: connected; EndTransaction follows.
  int32_t BeginTransaction();
  void EndTransaction();

 private:
  SCARDHANDLE card_ = 0;
  bool connected_ = false;
  DWORD protocol_ = 0;
  std::vector<uint8_t> atr_;
};

// The installer's check of one port (see ReaderDiagnose): the code and a
// one-line ASCII description.
int32_t Diagnose(int32_t port, std::string& text);

}  // namespace pcsc

#endif  // VELIO_PCSC_PCSCREADERUNIT_H_
