// PortOwnerUnit: /proc on Linux, the IP helper's TCP tables on Windows (see
// the header). A line of /proc/net/tcp reads "sl local_address rem_address st
// tx:rx tr:when retrnsmt uid timeout inode ...", the local address as
// HEXADDR:HEXPORT and st 0A for a listening socket.
#include "platform/PortOwnerUnit.h"

#ifdef _WIN32
// winsock2.h before windows.h, windows.h before the others.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
#include <shellapi.h>
// clang-format on

#include <cstring>
#include <memory>

#include "platform/PathUnit.h"
#endif

#ifndef _WIN32
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#endif

namespace {

#ifndef _WIN32
void AddListeningInodes(const char* table, int32_t port, std::set<std::string>& inodes) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string sl, local, remote, state, txrx, trwhen, retr, uid, timeout, inode;
    if (!(fields >> sl >> local >> remote >> state >> txrx >> trwhen >> retr >> uid >> timeout >>
          inode))
      continue;
    size_t colon = local.rfind(':');
    if (colon == std::string::npos || state != "0A") continue;
    if (std::strtol(local.c_str() + colon + 1, nullptr, 16) == port && inode != "0")
      inodes.insert(inode);
  }
}

std::string Link(const std::string& path) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Whether the process pid holds one of the sockets.
bool HoldsSocket(const std::string& pid, const std::set<std::string>& inodes) {
  std::string dir = "/proc/" + pid + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  bool found = false;
  while (dirent* e = ::readdir(d)) {
    std::string target = Link(dir + "/" + e->d_name);
    if (target.rfind("socket:[", 0) == 0 && target.back() == ']' &&
        inodes.count(target.substr(8, target.size() - 9)) > 0) {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}
#else
// Whether a socket listens on port in the table of family (AF_INET or
// AF_INET6), and its process id in pid (0 where the table names none). The IPv4 and IPv6 rows share
// one layout up to the port and the owner: dwState, then the addresses, dwLocalPort and
// dwOwningPid.
bool FindListening(ULONG family, int32_t port, DWORD& pid) {
  DWORD size = 0;
  if (GetExtendedTcpTable(nullptr, &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0) !=
      ERROR_INSUFFICIENT_BUFFER)
    return false;
  std::unique_ptr<char[]> buffer;
  DWORD rc = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 3 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    size += 4096;  // the table may grow between the two calls
    buffer = std::make_unique<char[]>(size);
    rc = GetExtendedTcpTable(buffer.get(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (rc != NO_ERROR) return false;
  const u_short wanted = htons(static_cast<u_short>(port));
  if (family == AF_INET) {
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.get());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
      if (static_cast<u_short>(table->table[i].dwLocalPort) == wanted) {
        pid = table->table[i].dwOwningPid;
        return true;
      }
  } else {
    const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buffer.get());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
      if (static_cast<u_short>(table->table[i].dwLocalPort) == wanted) {
        pid = table->table[i].dwOwningPid;
        return true;
      }
  }
  return false;
}

// The command line of process, through ntdll's process information class 60
// (the command line as a counted wide string). Empty when it cannot be read.
std::wstring CommandLineOf(HANDLE process) {
  using TQuery = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll ? reinterpret_cast<TQuery>(reinterpret_cast<void*>(
                           GetProcAddress(ntdll, "NtQueryInformationProcess")))
                     : nullptr;
  if (!query) return std::wstring();
  struct TCountedText {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
  };
  ULONG size = 0;
  query(process, 60, nullptr, 0, &size);
  if (size < sizeof(TCountedText) || size > (1u << 20)) return std::wstring();
  auto buffer = std::make_unique<char[]>(size);
  if (query(process, 60, buffer.get(), size, &size) < 0) return std::wstring();
  const auto* text = reinterpret_cast<const TCountedText*>(buffer.get());
  if (!text->Buffer) return std::wstring();
  return std::wstring(text->Buffer, text->Length / sizeof(wchar_t));
}

constexpr DWORD kClaimSize = 65536;

std::wstring ClaimName(const wchar_t* scope, int32_t port) {
  return std::wstring(scope) + L"\\VelioInterfacePort" + std::to_wstring(port);
}

// The claim of port: "pid\nprogram\nhome\n" (UTF-8); false when there is none.
bool ReadClaim(int32_t port, TPortOwner& owner) {
  HANDLE mapping = nullptr;
  for (const wchar_t* scope : {L"Global", L"Local"}) {
    mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, ClaimName(scope, port).c_str());
    if (mapping) break;
  }
  if (!mapping) return false;
  const char* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  bool found = false;
  if (view) {
    const std::string text(view, strnlen(view, kClaimSize));
    const size_t a = text.find('\n');
    const size_t b = a == std::string::npos ? a : text.find('\n', a + 1);
    const size_t c = b == std::string::npos ? b : text.find('\n', b + 1);
    if (c != std::string::npos) {
      owner.Pid = std::strtoll(text.c_str(), nullptr, 10);
      owner.Executable = text.substr(a + 1, b - a - 1);
      owner.Arguments = {owner.Executable, "--home", text.substr(b + 1, c - b - 1)};
      found = owner.Pid > 0;
    }
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return found;
}
#endif

}  // namespace

TPortClaim::TPortClaim(int32_t port, const std::string& home) {
#ifdef _WIN32
  // Readable by everyone, writable by its creator's system and administrators.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:(A;;GR;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)", SDDL_REVISION_1, &descriptor,
          nullptr))
    attributes.lpSecurityDescriptor = descriptor;
  HANDLE mapping = nullptr;
  for (const wchar_t* scope : {L"Global", L"Local"}) {
    mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kClaimSize,
                                 ClaimName(scope, port).c_str());
    if (mapping) break;
  }
  if (descriptor) LocalFree(descriptor);
  if (!mapping) return;
  if (char* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0))) {
    wchar_t image[32768];
    const DWORD n = GetModuleFileNameW(nullptr, image, sizeof image / sizeof image[0]);
    const std::string text = std::to_string(GetCurrentProcessId()) + "\n" +
                             Utf8FromWide(std::wstring(image, n)) + "\n" + home + "\n";
    if (text.size() < kClaimSize) std::memcpy(view, text.c_str(), text.size() + 1);
    UnmapViewOfFile(view);
  }
  mapping_ = mapping;
#else
  (void)port;
  (void)home;
#endif
}

TPortClaim::~TPortClaim() {
#ifdef _WIN32
  if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
#endif
}

TPortOwner FindPortListener(int32_t port) {
  TPortOwner owner;
#ifndef _WIN32
  std::set<std::string> inodes;
  AddListeningInodes("/proc/net/tcp", port, inodes);
  AddListeningInodes("/proc/net/tcp6", port, inodes);
  owner.Listening = !inodes.empty();
  if (inodes.empty()) return owner;
  DIR* proc = ::opendir("/proc");
  if (!proc) return owner;
  while (dirent* e = ::readdir(proc)) {
    std::string pid = e->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (!HoldsSocket(pid, inodes)) continue;
    owner.Found = true;
    owner.Pid = std::strtoll(pid.c_str(), nullptr, 10);
    owner.Executable = Link("/proc/" + pid + "/exe");
    owner.WorkingDir = Link("/proc/" + pid + "/cwd");
    std::ifstream cmd("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
    std::string arg;
    for (char c : all) {
      if (c == '\0') {
        owner.Arguments.push_back(arg);
        arg.clear();
      } else {
        arg += c;
      }
    }
    if (!arg.empty()) owner.Arguments.push_back(arg);
    break;
  }
  ::closedir(proc);
#else
  DWORD pid = 0;
  owner.Listening = FindListening(AF_INET, port, pid) || FindListening(AF_INET6, port, pid);
  if (!owner.Listening) return owner;
  TPortOwner claimed;
  if (ReadClaim(port, claimed) && (pid == 0 || static_cast<int64_t>(pid) == claimed.Pid)) {
    claimed.Listening = claimed.Found = true;
    return claimed;
  }
  if (pid == 0) return owner;  // Wine lists listening sockets without their process
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return owner;
  owner.Found = true;
  owner.Pid = pid;
  wchar_t image[32768];
  DWORD length = sizeof image / sizeof image[0];
  if (QueryFullProcessImageNameW(process, 0, image, &length))
    owner.Executable = Utf8FromWide(std::wstring(image, length));
  const std::wstring line = CommandLineOf(process);
  CloseHandle(process);
  int count = 0;
  if (!line.empty()) {
    if (LPWSTR* args = CommandLineToArgvW(line.c_str(), &count)) {
      for (int i = 0; i < count; ++i) owner.Arguments.push_back(Utf8FromWide(args[i]));
      LocalFree(args);
    }
  }
#endif
  return owner;
}
