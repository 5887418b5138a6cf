// ZentaMemberUnit: the two card operations on the reader library.
//
// The library is loaded once, in the constructor, as a TReaderLibrary
// (ReaderLibraryUnit), which finds and calls its four functions. A card
// operation first lets the window process its pending events (before taking
// the device's lock, so that a click processed there cannot wait on a lock its
// own thread holds), then, under the lock:
//
//   1. checks what needs no reader: the card number's length (writing), the
//      library, the settings and the port name;
//   2. opens the port; a TReaderPort object calls EndSCard when the operation
//      ends, however it ends (a failed StartSCard and a key that does not
//      convert included);
//   3. converts the key, builds the block and calls WriteCard or ReadCard;
//   4. logs the outcome.
//
// The settings are one snapshot of MemberOptions, so the port opened, used and
// closed is always the same port even while the options dialog saves.
#include "member/ZentaMemberUnit.h"

#include <cstdio>
#include <cstring>

#include "member/OptionUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/ReaderApi.h"
#include "platform/ReaderCodesUnit.h"
#include "server/VerboseUnit.h"
#include "services/LogFileUnit.h"
#include "services/UiHooksUnit.h"

namespace {

constexpr int32_t kBlockSize = 16;

// Paths and system messages are UTF-8 on every system.
AnsiString NativeToAnsi(const std::string& text) {
  return Utf8ToAnsi(text);
}

// The same texts for stderr (--verbose), which takes UTF-8.
std::string NativeToUtf8(const std::string& text) {
#ifdef _WIN32
  return AnsiToUtf8(text);
#else
  return text;
#endif
}

AnsiString Hex8(int32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(static_cast<uint32_t>(code)));
  return buf;
}

const AnsiString& WriteFailed() {
  static const AnsiString k = Lit("写卡失败:");
  return k;
}
const AnsiString& ReadFailed() {
  static const AnsiString k = Lit("读卡失败:");
  return k;
}

// The 6 key bytes: byte i is the hexadecimal number of characters 2i+1 and
// 2i+2 (counting from 1). A pair that is no hexadecimal number (or is empty)
// raises EConvertError "'$<pair>' is not a valid integer value".
void ConvertKey(const AnsiString& key, uint8_t (&bytes)[6]) {
  for (size_t i = 0; i < 6; ++i) {
    AnsiString pair = 2 * i < key.size() ? key.substr(2 * i, 2) : AnsiString();
    bytes[i] = static_cast<uint8_t>(StrToInt("$" + pair));
  }
}

int32_t KeyMode(const AnsiString& keyFlag) {
  return keyFlag == "KEY_A" ? VELIO_READER_KEY_A : VELIO_READER_KEY_B;
}

// Opens a reader port for one operation and closes it when destroyed, also
// when opening failed.
class TReaderPort {
 public:
  TReaderPort(const TReaderLibrary& lib, int32_t port) : lib_(lib), port_(port) {
    int32_t parameter = VELIO_READER_START_PARAM;
    status_ = lib_.StartSCard(port_, &parameter, 0);
  }
  ~TReaderPort() { lib_.EndSCard(port_); }
  TReaderPort(const TReaderPort&) = delete;
  TReaderPort& operator=(const TReaderPort&) = delete;

  int32_t Status() const { return status_; }

 private:
  const TReaderLibrary& lib_;
  const int32_t port_;
  int32_t status_ = 0;
};

void LogPortFailure(const AnsiString& portName, int32_t status) {
  static const AnsiString kPortFailed = Lit("端口打开失败");
  WriteLog(kPortFailed + portName + "lStatus=" + std::to_string(static_cast<uint32_t>(status)));
  if (Verbose())
    VerboseLine("card operation failed: StartSCard on " + AnsiToUtf8(portName) +
                " answered status " + ReaderCodeText(status));
}

// --verbose: the status a failed ReadCard or WriteCard answered.
void SayCardFailure(const char* function, int32_t result) {
  if (Verbose())
    VerboseLine(std::string("card operation failed: ") + function + " answered status " +
                ReaderCodeText(result));
}

void LogBadPortName(const AnsiString& portName) {
  static const AnsiString kPortFailed = Lit("端口打开失败");
  static const AnsiString kBadName = Lit(":端口名无效");
  WriteLog(kPortFailed + portName + kBadName);
  if (Verbose())
    VerboseLine("card operation failed: PortName \"" + AnsiToUtf8(portName) +
                "\" is not USB or COM0 to COM9");
}

// What every operation checks before it touches the reader: the library, the
// settings and the port name. Logs why and answers false when one is missing.
bool Prepare(const TReaderLibrary& lib, const AnsiString& failPrefix, TMemberSettings& settings,
             int32_t& port) {
  static const AnsiString kNoLibrary = Lit("读卡器库不可用");
  static const AnsiString kNoOptions = Lit("会员卡参数未加载");
  if (!lib.Loaded()) {
    WriteLog(failPrefix + kNoLibrary);
    if (Verbose())
      VerboseLine("card operation failed: the reader library " + NativeToUtf8(lib.Path()) +
                  " is not loaded: " + NativeToUtf8(lib.Error()));
    return false;
  }
  TOption* options = MemberOptions;
  if (!options) {
    WriteLog(failPrefix + kNoOptions);
    return false;
  }
  settings = options->Settings();
  std::optional<int32_t> number = TOption::PortNumberOf(settings.PortName);
  if (!number) {
    LogBadPortName(settings.PortName);
    return false;
  }
  port = *number;
  return true;
}

}  // namespace

TZentaMember::TZentaMember() : TZentaMember(TReaderLibrary::DefaultPath()) {}

TZentaMember::TZentaMember(const std::string& libraryPath)
    : lib_(std::make_unique<TReaderLibrary>(libraryPath)) {
  static const AnsiString kLoaded = Lit("读卡器库: ");
  static const AnsiString kNotLoaded = Lit("读卡器库加载失败: ");
  if (lib_->Loaded())
    WriteLog(kLoaded + NativeToAnsi(lib_->Path()));
  else
    WriteLog(kNotLoaded + NativeToAnsi(lib_->Path()) + ": " + NativeToAnsi(lib_->Error()));
}

TZentaMember::~TZentaMember() = default;

void TZentaMember::ShowOptions() {
  UiHooks().ShowMemberOptions();
}

bool TZentaMember::OpenPort() {
  return true;
}

bool TZentaMember::ClosePort() {
  return true;
}

bool TZentaMember::Probe() {
  return true;
}

bool TZentaMember::WriteMemberCard(AnsiString CardNo, AnsiString /*Extra1*/, AnsiString /*Extra2*/,
                                   AnsiString /*Extra3*/, int32_t /*Channel*/) {
  static const AnsiString kTooLong = Lit("卡号超过16字节");
  static const AnsiString kWritten = Lit("写卡成功, 卡号为:");
  UiHooks().ProcessMessages();
  std::lock_guard<std::mutex> guard(lock_);
  // A longer number would be cut short on the card while the reply says it
  // was written: refuse it before the reader is touched.
  if (CardNo.size() > static_cast<size_t>(kBlockSize)) {
    WriteLog(WriteFailed() + kTooLong);
    if (Verbose())
      VerboseLine("card operation failed: the card number has " + std::to_string(CardNo.size()) +
                  " bytes in code page 936, a card block holds 16");
    return false;
  }
  TMemberSettings settings;
  int32_t port = 0;
  if (!Prepare(*lib_, WriteFailed(), settings, port)) return false;

  TReaderPort session(*lib_, port);
  if (session.Status() != 0) {
    LogPortFailure(settings.PortName, session.Status());
    return false;
  }
  uint8_t key[6];
  ConvertKey(settings.Key, key);
  uint8_t block[kBlockSize];
  std::memset(block, 0xFF, sizeof block);
  std::memcpy(block, CardNo.data(), CardNo.size());
  const int32_t mode = KeyMode(settings.KeyFlag);
  const int32_t result =
      lib_->WriteCard(port, key, block, settings.Sector, settings.Block, kBlockSize, mode);
  if (result != 0) {
    WriteLog(WriteFailed() + Hex8(result));
    SayCardFailure("WriteCard", result);
    return false;
  }
  WriteLog(kWritten + CardNo);
  return true;
}

bool TZentaMember::ReadMemberCard(bool /*Flag*/, AnsiString& CardNo, AnsiString& /*Password*/,
                                  AnsiString& /*ExpireDate*/, AnsiString& /*GuestName*/,
                                  AnsiString& /*Score*/, int32_t /*Channel*/) {
  static const AnsiString kRead = Lit("读卡成功, 卡号为:");
  UiHooks().ProcessMessages();
  std::lock_guard<std::mutex> guard(lock_);
  TMemberSettings settings;
  int32_t port = 0;
  if (!Prepare(*lib_, ReadFailed(), settings, port)) return false;

  TReaderPort session(*lib_, port);
  if (session.Status() != 0) {
    LogPortFailure(settings.PortName, session.Status());
    return false;
  }
  uint8_t key[6];
  ConvertKey(settings.Key, key);
  const int32_t mode = KeyMode(settings.KeyFlag);
  uint8_t block[kBlockSize] = {};
  const int32_t result =
      lib_->ReadCard(port, key, block, settings.Sector, settings.Block, kBlockSize, mode);
  if (result != 0) {
    WriteLog(ReadFailed() + Hex8(result));
    SayCardFailure("ReadCard", result);
    return false;
  }
  size_t length = 0;
  while (length < sizeof block && block[length] != 0xFF && block[length] != 0x00) ++length;
  AnsiString text(reinterpret_cast<const char*>(block), length);
  CardNo = text;
  WriteLog(kRead + text);
  Beep();
  return true;
}
