// ZentaMemberUnit: the reader binding and the two card operations.
//
// The library is opened once, in the constructor, through TDynLib; the four
// functions are looked up by name and kept as plain function pointers. A card
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
#include <cstdlib>
#include <cstring>

#include "member/OptionUnit.h"
#include "platform/ConvertUnit.h"
#include "platform/DynLibUnit.h"
#include "platform/PathUnit.h"
#include "server/VerboseUnit.h"
#include "services/LogFileUnit.h"
#include "services/UiHooksUnit.h"

namespace {

constexpr int32_t kStartParameter = 4113;  // 0x1011
constexpr int32_t kBlockSize = 16;
constexpr int32_t kKeyModeA = 4;
constexpr int32_t kKeyModeB = 5;

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
  return keyFlag == "KEY_A" ? kKeyModeA : kKeyModeB;
}

// Opens a reader port for one operation and closes it when destroyed, also
// when opening failed.
class TReaderPort {
 public:
  TReaderPort(const TReaderLibrary& lib, int32_t port) : lib_(lib), port_(port) {
    int32_t parameter = kStartParameter;
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
                " answered status " + std::to_string(static_cast<uint32_t>(status)) + " (0x" +
                Hex8(status) + ")");
}

// --verbose: the status a failed ReadCard or WriteCard answered.
void SayCardFailure(const char* function, int32_t result) {
  if (Verbose())
    VerboseLine(std::string("card operation failed: ") + function + " answered status 0x" +
                Hex8(result) + " (" + std::to_string(static_cast<uint32_t>(result)) + ")");
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

#if defined(_WIN32) && defined(__i386__)
// int32_t velio_reader_call(const void* fn, const int32_t* args, int32_t count):
// pushes the count arguments (args[0] last, so it lies lowest), calls fn and
// puts the stack pointer back from the frame pointer, whatever fn did to it.
extern "C" int32_t VelioReaderCall(const void* fn, const int32_t* args,
                                   int32_t count) __asm__("velio_reader_call");
__asm__(R"(
    .text
    .globl velio_reader_call
    .p2align 4
velio_reader_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    leal 0(,%ecx,4), %eax
    subl %eax, %esp
    andl $-16, %esp
    movl %esp, %edi
    cld
    rep movsl
    call *8(%ebp)
    leal -8(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

// Every argument of the four functions is one 32-bit word: an integer or a pointer.
inline intptr_t AsWord(int32_t v) {
  return v;
}
template <typename T>
intptr_t AsWord(T* p) {
  return reinterpret_cast<intptr_t>(p);
}
#define VELIO_CALL_READER(fnptr, type, ...) CallWords(fnptr, __VA_ARGS__)
template <typename... TArgs>
int32_t CallWords(const void* fn, TArgs... args) {
  const int32_t values[] = {static_cast<int32_t>(AsWord(args))...};
  return VelioReaderCall(fn, values, static_cast<int32_t>(sizeof...(TArgs)));
}
#else
// One calling convention per platform elsewhere: a plain call.
#define VELIO_CALL_READER(fnptr, type, ...) reinterpret_cast<type>(fnptr)(__VA_ARGS__)
#endif

}  // namespace

int32_t TReaderLibrary::StartSCard(int32_t port, int32_t* param, int32_t zero) const {
  return VELIO_CALL_READER(start_, TStartSCardFn, port, param, zero);
}

int32_t TReaderLibrary::WriteCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector,
                                  int32_t block, int32_t len, int32_t keyMode) const {
  return VELIO_CALL_READER(write_, TWriteCardFn, port, key6, block16, sector, block, len, keyMode);
}

int32_t TReaderLibrary::ReadCard(int32_t port, uint8_t* key6, uint8_t* block16, int32_t sector,
                                 int32_t block, int32_t len, int32_t keyMode) const {
  return VELIO_CALL_READER(read_, TReadCardFn, port, key6, block16, sector, block, len, keyMode);
}

int32_t TReaderLibrary::EndSCard(int32_t port) const {
  return VELIO_CALL_READER(end_, TEndSCardFn, port);
}

std::string TReaderLibrary::DefaultPath() {
  const char* env = std::getenv("VELIO_READER_LIBRARY");
  if (env && *env) return env;
#ifdef _WIN32
  return ExecutableDir() + SharedLibraryName("Reader");  // Reader.dll
#else
  std::string beside = ExecutableDir() + "libReader.so";
#ifdef VELIO_PACKAGE_LIBDIR
  // Installed from the package: programs in /usr/bin, libraries in the package's folder.
  if (!FileExists(beside)) {
    std::string installed = std::string(VELIO_PACKAGE_LIBDIR) + "/libReader.so";
    if (FileExists(installed)) return installed;
  }
#endif
  return beside;
#endif
}

TReaderLibrary::TReaderLibrary(std::string path) : path_(std::move(path)) {
  // The loader's message may begin with the file's name, which the caller
  // already names: keep only the reason.
  auto reasonOnly = [this] {
    if (error_.rfind(path_ + ": ", 0) == 0) error_.erase(0, path_.size() + 2);
  };
  lib_ = TDynLib::Open(path_, error_);
  if (!lib_) {
    reasonOnly();
    return;
  }
  // The plain name, else the stdcall-decorated names (argument bytes after '@').
  auto find = [this](const char* name, int argBytes) -> void* {
    if (!error_.empty()) return nullptr;
    const std::string bytes = std::to_string(argBytes);
    for (const std::string& candidate : {std::string(name), "_" + std::string(name) + "@" + bytes,
                                         std::string(name) + "@" + bytes}) {
      std::string ignored;
      if (void* p = lib_->Symbol(candidate.c_str(), ignored)) {
        if (!foundNames_.empty()) foundNames_ += ' ';
        foundNames_ += candidate;
        return p;
      }
    }
    lib_->Symbol(name, error_);  // the system's words for the plain name
    if (error_.empty()) error_ = std::string("missing function ") + name;
    if (error_.find(name) == std::string::npos) error_ += std::string(": ") + name;
    return nullptr;
  };
  start_ = find("StartSCard", 12);
  write_ = find("WriteCard", 28);
  read_ = find("ReadCard", 28);
  end_ = find("EndSCard", 4);
  loaded_ = start_ && write_ && read_ && end_;
  if (loaded_) {
    // Only the reader simulator has it; a missing one is no error.
    std::string ignored;
    SimCardFile = reinterpret_cast<TSimCardFileFn>(lib_->Symbol("ReaderSimCardFile", ignored));
  } else {
    reasonOnly();
    start_ = write_ = read_ = end_ = nullptr;
    foundNames_.clear();
    lib_.reset();
  }
}

TReaderLibrary::~TReaderLibrary() = default;

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
