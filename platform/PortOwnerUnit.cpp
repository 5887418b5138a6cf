// PortOwnerUnit: /proc on Linux (see the header). A line of /proc/net/tcp
// reads "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout
// inode ...", the local address as HEXADDR:HEXPORT and st 0A for a listening
// socket.
#include "platform/PortOwnerUnit.h"

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
#endif

}  // namespace

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
  (void)port;
#endif
  return owner;
}
