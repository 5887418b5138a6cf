// JournalUnit: JOURNAL_STREAM compared with fstat of the descriptor.
#include "platform/JournalUnit.h"

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <sys/stat.h>
#endif

bool StreamIsJournal(int fd) {
#ifdef _WIN32
  (void)fd;
  return false;
#else
  const char* env = std::getenv("JOURNAL_STREAM");
  if (!env || !*env) return false;
  unsigned long long dev = 0, ino = 0;
  char tail = 0;
  if (std::sscanf(env, "%llu:%llu%c", &dev, &ino, &tail) != 2) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
#endif
}
