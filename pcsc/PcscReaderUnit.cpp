// PcscReaderUnit: contexts, reader lists, card states and card connections.
//
// The reader list comes from SCardListReaders with SCARD_AUTOALLOCATE (the
// service allocates, SCardFreeMemory frees) on both systems. Card states come
// from SCardGetStatusChange with a timeout of 0 and every reader "unaware", so
// the call answers the present state at once and nothing waits for a card.
#include "pcsc/PcscReaderUnit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pcsc/ReaderPcscCodes.h"

#ifdef _WIN32
// The ANSI forms: reader names are plain 8-bit text in the library.
#define PCSC_LIST_READERS SCardListReadersA
#define PCSC_GET_STATUS_CHANGE SCardGetStatusChangeA
#define PCSC_CONNECT SCardConnectA
#define PCSC_STATUS SCardStatusA
using TScardReaderState = SCARD_READERSTATEA;
#else
#define PCSC_LIST_READERS SCardListReaders
#define PCSC_GET_STATUS_CHANGE SCardGetStatusChange
#define PCSC_CONNECT SCardConnect
#define PCSC_STATUS SCardStatus
using TScardReaderState = SCARD_READERSTATE;
#endif

namespace pcsc {

namespace {

constexpr size_t kMaxAtr = 36;

int32_t Code(LONG rc) {
  return static_cast<int32_t>(static_cast<uint32_t>(rc));
}

bool ServiceGone(LONG rc) {
  return rc == static_cast<LONG>(SCARD_E_NO_SERVICE) ||
         rc == static_cast<LONG>(SCARD_E_SERVICE_STOPPED);
}

}  // namespace

std::vector<std::string> FilterReaders(const std::vector<std::string>& all, const char* filter) {
  if (!filter || !*filter) return all;
  std::vector<std::string> kept;
  for (const std::string& name : all)
    if (name.find(filter) != std::string::npos) kept.push_back(name);
  return kept;
}

TContext::~TContext() {
  if (established_) SCardReleaseContext(context_);
}

int32_t TContext::Establish() {
  const LONG rc = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_);
  if (rc == SCARD_S_SUCCESS) {
    established_ = true;
    return READER_PCSC_OK;
  }
  if (ServiceGone(rc)) return READER_PCSC_ERR_NO_SERVICE;
  return Code(rc);
}

int32_t TContext::ListReaders(std::vector<std::string>& names) {
  names.clear();
  char* list = nullptr;
  DWORD size = SCARD_AUTOALLOCATE;
  const LONG rc = PCSC_LIST_READERS(context_, nullptr, reinterpret_cast<LPSTR>(&list), &size);
  if (rc == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE)) return READER_PCSC_OK;
  if (ServiceGone(rc)) return READER_PCSC_ERR_NO_SERVICE;
  if (rc != SCARD_S_SUCCESS) return Code(rc);
  std::vector<std::string> all;
  // A multi-string: names ended by NUL, the list by an empty name.
  for (const char* p = list; p && *p && p < list + size; p += std::strlen(p) + 1)
    all.emplace_back(p);
  SCardFreeMemory(context_, list);
  names = FilterReaders(all, std::getenv("VELIO_PCSC_READER"));
  return READER_PCSC_OK;
}

int32_t TContext::States(const std::vector<std::string>& names, std::vector<TReaderState>& states) {
  states.clear();
  if (names.empty()) return READER_PCSC_OK;
  std::vector<TScardReaderState> query(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    std::memset(&query[i], 0, sizeof query[i]);
    query[i].szReader = names[i].c_str();
    query[i].dwCurrentState = SCARD_STATE_UNAWARE;
  }
  const LONG rc =
      PCSC_GET_STATUS_CHANGE(context_, 0, query.data(), static_cast<DWORD>(query.size()));
  if (ServiceGone(rc)) return READER_PCSC_ERR_NO_SERVICE;
  if (rc != SCARD_S_SUCCESS && rc != static_cast<LONG>(SCARD_E_TIMEOUT)) return Code(rc);
  for (size_t i = 0; i < names.size(); ++i) {
    TReaderState state;
    state.Name = names[i];
    const DWORD event = query[i].dwEventState;
    state.CardPresent = (event & SCARD_STATE_PRESENT) != 0;
    state.Exclusive = (event & SCARD_STATE_EXCLUSIVE) != 0;
    const size_t atrSize = query[i].cbAtr < sizeof query[i].rgbAtr ? query[i].cbAtr : 0;
    if (state.CardPresent) state.Atr.assign(query[i].rgbAtr, query[i].rgbAtr + atrSize);
    states.push_back(std::move(state));
  }
  return READER_PCSC_OK;
}

int32_t TContext::SelectReader(int32_t port, std::string& name) {
  if (port < -1 || port > 9) return READER_PCSC_ERR_PORT_RANGE;
  std::vector<std::string> names;
  int32_t rc = ListReaders(names);
  if (rc != READER_PCSC_OK) return rc;
  if (names.empty()) return READER_PCSC_ERR_NO_READER;
  if (port >= 0) {
    if (static_cast<size_t>(port) >= names.size()) return READER_PCSC_ERR_NO_READER;
    name = names[static_cast<size_t>(port)];
    return READER_PCSC_OK;
  }
  std::vector<TReaderState> states;
  rc = States(names, states);
  if (rc != READER_PCSC_OK) return rc;
  for (const TReaderState& state : states) {
    if (state.CardPresent) {
      name = state.Name;
      return READER_PCSC_OK;
    }
  }
  return READER_PCSC_ERR_NO_CARD;
}

TConnection::~TConnection() {
  Disconnect();
}

void TConnection::Disconnect() {
  if (connected_) SCardDisconnect(card_, SCARD_LEAVE_CARD);
  connected_ = false;
}

int32_t TConnection::Connect(TContext& context, const std::string& reader) {
  Disconnect();
  LONG rc = PCSC_CONNECT(context.Handle(), reader.c_str(), SCARD_SHARE_SHARED,
                         SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol_);
  if (rc != SCARD_S_SUCCESS) {
    if (rc == static_cast<LONG>(SCARD_E_NO_SMARTCARD) ||
        rc == static_cast<LONG>(SCARD_W_REMOVED_CARD))
      return READER_PCSC_ERR_NO_CARD;
    if (rc == static_cast<LONG>(SCARD_E_SHARING_VIOLATION)) return READER_PCSC_ERR_SHARING;
    if (rc == static_cast<LONG>(SCARD_E_UNKNOWN_READER) ||
        rc == static_cast<LONG>(SCARD_E_READER_UNAVAILABLE))
      return READER_PCSC_ERR_NO_READER;
    if (ServiceGone(rc)) return READER_PCSC_ERR_NO_SERVICE;
    return Code(rc);
  }
  connected_ = true;
  BYTE atr[kMaxAtr];
  DWORD atrSize = sizeof atr;
  DWORD state = 0, protocol = 0;
  DWORD nameSize = 0;
  rc = PCSC_STATUS(card_, nullptr, &nameSize, &state, &protocol, atr, &atrSize);
  if (rc != SCARD_S_SUCCESS) {
    Disconnect();
    return rc == static_cast<LONG>(SCARD_W_REMOVED_CARD) ? READER_PCSC_ERR_NO_CARD : Code(rc);
  }
  atr_.assign(atr, atr + (atrSize <= sizeof atr ? atrSize : 0));
  return READER_PCSC_OK;
}

int32_t TConnection::BeginTransaction() {
  if (!connected_) return READER_PCSC_ERR_PORT_CLOSED;
  const LONG rc = SCardBeginTransaction(card_);
  return rc == SCARD_S_SUCCESS ? READER_PCSC_OK : Code(rc);
}

void TConnection::EndTransaction() {
  if (connected_) SCardEndTransaction(card_, SCARD_LEAVE_CARD);
}

int32_t TConnection::Transmit(const std::vector<uint8_t>& command, std::vector<uint8_t>& response) {
  response.clear();
  if (!connected_) return READER_PCSC_ERR_PORT_CLOSED;
  BYTE buffer[258];
  DWORD size = sizeof buffer;
  const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  const LONG rc = SCardTransmit(card_, pci, command.data(), static_cast<DWORD>(command.size()),
                                nullptr, buffer, &size);
  if (rc != SCARD_S_SUCCESS) return Code(rc);
  response.assign(buffer, buffer + (size <= sizeof buffer ? size : 0));
  return READER_PCSC_OK;
}

int32_t Diagnose(int32_t port, std::string& text) {
  if (port < -1 || port > 9) {
    text = "port " + std::to_string(port) + " is not USB (-1) or COM0-COM9 (0-9)";
    return READER_PCSC_ERR_PORT_RANGE;
  }
  TContext context;
  int32_t rc = context.Establish();
  if (rc == READER_PCSC_ERR_NO_SERVICE) {
    text = "PC/SC service not running";
    return rc;
  }
  if (rc != READER_PCSC_OK) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "PC/SC service not reachable (error %08X)",
                  static_cast<unsigned>(rc));
    text = buf;
    return rc;
  }
  std::vector<std::string> names;
  rc = context.ListReaders(names);
  if (rc != READER_PCSC_OK) {
    text = rc == READER_PCSC_ERR_NO_SERVICE ? "PC/SC service not running" : "cannot list readers";
    return rc;
  }
  const char* filter = std::getenv("VELIO_PCSC_READER");
  const std::string filterText =
      filter && *filter ? std::string(" containing '") + filter + "'" : std::string();
  if (names.empty()) {
    text = "no PC/SC reader" + filterText;
    return READER_PCSC_ERR_NO_READER;
  }
  std::vector<TReaderState> states;
  rc = context.States(names, states);
  if (rc != READER_PCSC_OK) {
    text = "cannot read the readers' states";
    return rc;
  }
  size_t index = 0;
  if (port >= 0) {
    if (static_cast<size_t>(port) >= states.size()) {
      text = "no reader " + std::to_string(port) + filterText + " (" +
             std::to_string(states.size()) + " listed)";
      return READER_PCSC_ERR_NO_READER;
    }
    index = static_cast<size_t>(port);
  } else {
    while (index < states.size() && !states[index].CardPresent) ++index;
    if (index == states.size()) {
      text = "USB: " + std::to_string(states.size()) + " reader(s)" + filterText +
             ", none with a card";
      return READER_PCSC_ERR_NO_CARD;
    }
  }
  const TReaderState& state = states[index];
  text = "reader " + std::to_string(index) + " '" + state.Name + "' present, ";
  if (state.CardPresent) {
    text += "card present (" + CardTypeName(state.Atr.data(), state.Atr.size()) + ")";
    return READER_PCSC_OK;
  }
  // No card where the port points: say where cards lie, and the port that reaches each.
  text += "no card";
  std::string where;
  for (size_t i = 0; i < states.size(); ++i) {
    if (!states[i].CardPresent) continue;
    where += where.empty() ? "; a card lies on " : ", ";
    where += "reader " + std::to_string(i) + " '" + states[i].Name + "' (" +
             (i <= 9 ? "PortName=COM" + std::to_string(i) : std::string("beyond COM9")) + ")";
  }
  text += where.empty() ? "; no reader has a card" : where;
  return READER_PCSC_ERR_NO_CARD;
}

}  // namespace pcsc
