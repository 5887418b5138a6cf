// ReaderLibraryUnit: the loader, the name look-up and the calls.
//
// The file is opened through TDynLib. Each of the four functions is looked up
// by its plain name and then by the two stdcall decorations (the bytes of its
// arguments after '@'); the first name found is kept in FoundNames(). A
// library that lacks one of them is closed again at once, so a TReaderLibrary
// is either complete or holds nothing. The functions are kept as untyped
// addresses: the 32-bit Windows build hands them to the thunk below, which
// pushes the arguments as 32-bit words and resets the stack pointer from its
// frame after the call; every other build casts them to the pointer types of
// platform/ReaderApi.h and calls them.
#include "member/ReaderLibraryUnit.h"

#include <cstdlib>

#include "platform/DynLibUnit.h"
#include "platform/PathUnit.h"

namespace {

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
