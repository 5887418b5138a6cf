// PortOwnerUnit: which process listens on a local TCP port.
//
// The self-check asks it when a port cannot be bound, to tell the home's own
// running server from another program. On Linux the listening sockets of the
// port are looked up in /proc/net/tcp and /proc/net/tcp6 (by their inode), and
// the process holding one among the /proc/PID/fd links "socket:[inode]"; its
// executable and arguments come from /proc/PID/exe and /proc/PID/cmdline.
// Another user's processes cannot be looked into without the right to, and
// are then not found. Windows: not looked up (the answer is never Found).
#ifndef VELIO_PLATFORM_PORTOWNERUNIT_H_
#define VELIO_PLATFORM_PORTOWNERUNIT_H_

#include <cstdint>
#include <string>
#include <vector>

struct TPortOwner {
  bool Listening = false;  // some socket listens on the port (Linux)
  bool Found = false;      // the process holding it was found; the fields below are set
  int64_t Pid = 0;
  std::string Executable;              // its program file (UTF-8), may be empty
  std::vector<std::string> Arguments;  // its command line, the program first
  std::string WorkingDir;              // may be empty
};

// The process listening on TCP port (any local address, IPv4 or IPv6).
TPortOwner FindPortListener(int32_t port);

#endif  // VELIO_PLATFORM_PORTOWNERUNIT_H_
