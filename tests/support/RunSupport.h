// RunSupport: running a command line through the shell (popen) and taking
// its standard output and exit code, for tests of the command-line programs.
#ifndef VELIO_TESTS_SUPPORT_RUNSUPPORT_H_
#define VELIO_TESTS_SUPPORT_RUNSUPPORT_H_

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <string>

namespace velio_test {

struct TRun {
  int status = -1;  // the exit code; -1 when it could not start or did not exit
  std::string out;  // standard output (the command line may redirect more into it)
};

// Runs command through the shell and waits for its end.
inline TRun RunShell(const std::string& command) {
  TRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) run.out.append(block, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_RUNSUPPORT_H_
