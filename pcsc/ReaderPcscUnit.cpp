// ReaderPcscUnit: the PC/SC reader library's exported functions.
//
// Each port (-1..9) has a slot with its own mutex: StartSCard fills it with a
// PC/SC context, the connection to the card and the card's sector count;
// ReadCard and WriteCard use them; EndSCard empties it (disconnecting with the
// card left in place, then releasing the context). Nothing else is kept, so
// two ports work at the same time from two threads, and a call on one port
// waits only for another call on the same port. One block access runs as one
// PC/SC transaction: the card keeps a single authentication for all the
// connections to it. Codes: ReaderPcscCodes.h.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "pcsc/PcscCardUnit.h"
#include "pcsc/PcscReaderUnit.h"
#include "pcsc/ReaderPcscCodes.h"

namespace {

constexpr int32_t kFirstPort = -1;
constexpr int32_t kLastPort = 9;

struct TPortSlot {
  std::mutex Lock;
  // Both set from a successful StartSCard to EndSCard. The connection is
  // destroyed before the context.
  std::unique_ptr<pcsc::TContext> Context;
  std::unique_ptr<pcsc::TConnection> Connection;
  int Sectors = 0;

  void Close() {
    Connection.reset();
    Context.reset();
    Sectors = 0;
  }
};

TPortSlot gSlots[kLastPort - kFirstPort + 1];

bool PortInRange(int32_t port) {
  return port >= kFirstPort && port <= kLastPort;
}

TPortSlot& Slot(int32_t port) {
  return gSlots[port - kFirstPort];
}

int32_t Access(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector, int32_t block,
               int32_t len, int32_t keyMode, bool write) {
  if (!PortInRange(port)) return READER_PCSC_ERR_PORT_CLOSED;
  TPortSlot& slot = Slot(port);
  std::lock_guard<std::mutex> guard(slot.Lock);
  if (!slot.Connection) return READER_PCSC_ERR_PORT_CLOSED;
  if (!key6 || !block16 || len != 16) return READER_PCSC_ERR_ARGUMENT;
  // The card has one authentication state for all its connections: the
  // commands of one access run as one transaction.
  const int32_t rc = slot.Connection->BeginTransaction();
  if (rc != READER_PCSC_OK) return rc;
  const int32_t result =
      write
          ? pcsc::WriteBlock(*slot.Connection, slot.Sectors, key6, keyMode, sector, block, block16)
          : pcsc::ReadBlock(*slot.Connection, slot.Sectors, key6, keyMode, sector, block, block16);
  slot.Connection->EndTransaction();
  return result;
}

}  // namespace

extern "C" {

VELIO_READER_API int32_t VELIO_READER_CALL StartSCard(int32_t port, int32_t* param, int32_t zero) {
  (void)zero;
  if (!PortInRange(port)) return READER_PCSC_ERR_PORT_RANGE;
  if (!param || *param != VELIO_READER_START_PARAM) return READER_PCSC_ERR_START_PARAM;
  TPortSlot& slot = Slot(port);
  std::lock_guard<std::mutex> guard(slot.Lock);
  slot.Close();
  auto context = std::make_unique<pcsc::TContext>();
  int32_t rc = context->Establish();
  if (rc != READER_PCSC_OK) return rc;
  std::string reader;
  rc = context->SelectReader(port, reader);
  if (rc != READER_PCSC_OK) return rc;
  auto connection = std::make_unique<pcsc::TConnection>();
  rc = connection->Connect(*context, reader);
  if (rc != READER_PCSC_OK) return rc;
  const int sectors = pcsc::SectorsFromAtr(connection->Atr().data(), connection->Atr().size());
  if (sectors == 0) return READER_PCSC_ERR_CARD_TYPE;
  slot.Context = std::move(context);
  slot.Connection = std::move(connection);
  slot.Sectors = sectors;
  return READER_PCSC_OK;
}

VELIO_READER_API int32_t VELIO_READER_CALL WriteCard(int32_t port, uint8_t* key6, uint8_t* block16,
                                                     int32_t sector, int32_t block, int32_t len,
                                                     int32_t keyMode) {
  return Access(port, key6, block16, sector, block, len, keyMode, /*write=*/true);
}

VELIO_READER_API int32_t VELIO_READER_CALL ReadCard(int32_t port, uint8_t* key6, uint8_t* block16,
                                                    int32_t sector, int32_t block, int32_t len,
                                                    int32_t keyMode) {
  return Access(port, key6, block16, sector, block, len, keyMode, /*write=*/false);
}

VELIO_READER_API int32_t VELIO_READER_CALL EndSCard(int32_t port) {
  if (!PortInRange(port)) return READER_PCSC_ERR_PORT_CLOSED;
  TPortSlot& slot = Slot(port);
  std::lock_guard<std::mutex> guard(slot.Lock);
  const bool wasOpen = slot.Connection != nullptr;
  slot.Close();
  return wasOpen ? READER_PCSC_OK : READER_PCSC_ERR_PORT_CLOSED;
}

VELIO_READER_API int32_t VELIO_READER_CALL ReaderDiagnose(int32_t port, char* text, int32_t size) {
  std::string line;
  const int32_t rc = pcsc::Diagnose(port, line);
  if (text && size > 0) {
    const size_t n =
        line.size() < static_cast<size_t>(size) ? line.size() : static_cast<size_t>(size) - 1;
    std::memcpy(text, line.data(), n);
    text[n] = '\0';
  }
  return rc;
}

}  // extern "C"
