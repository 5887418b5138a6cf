// PortOwnerUnit: which process listens on a local TCP port.
//
// The self-check asks it when a port cannot be bound, to tell the home's own
// running server from another program. On Linux the listening sockets of the
// port are looked up in /proc/net/tcp and /proc/net/tcp6 (by their inode), and
// the process holding one among the /proc/PID/fd links "socket:[inode]"; its
// executable and arguments come from /proc/PID/exe and /proc/PID/cmdline.
// Another user's processes cannot be looked into without the right to, and
// are then not found. On Windows the owning process comes from the IP
// helper's table of listening sockets, its program from its image name and
// its arguments from its command line; the working folder is not known there
// (a server started with a relative --home is not recognised).
#ifndef VELIO_PLATFORM_PORTOWNERUNIT_H_
#define VELIO_PLATFORM_PORTOWNERUNIT_H_

#include <cstdint>
#include <string>
#include <vector>

struct TPortOwner {
  bool Listening = false;  // some socket listens on the port
  bool Found = false;      // the process holding it was found; the fields below are set
  int64_t Pid = 0;
  std::string Executable;              // its program file (UTF-8), may be empty
  std::vector<std::string> Arguments;  // its command line, the program first
  std::string WorkingDir;              // may be empty
};

// The process listening on TCP port (any local address, IPv4 or IPv6).
TPortOwner FindPortListener(int32_t port);

// While it exists, the server serving home on port can be found by
// FindPortListener on Windows even where the socket table names no process
// (it does not under Wine) or the process cannot be opened (a service seen
// by an ordinary user): a named, everyone-readable shared block
// "Global\VelioInterfacePort<port>" (or "Local\..." where global names are
// not allowed) holds the process id, program and home. On Linux it does
// nothing: /proc answers.
class TPortClaim {
 public:
  TPortClaim(int32_t port, const std::string& home);
  ~TPortClaim();
  TPortClaim(const TPortClaim&) = delete;
  TPortClaim& operator=(const TPortClaim&) = delete;

 private:
  void* mapping_ = nullptr;
};

#endif  // VELIO_PLATFORM_PORTOWNERUNIT_H_
