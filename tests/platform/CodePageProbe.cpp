// CodePageProbe: a converter that fails to open is not kept for the thread.
//
// Run as a program of its own so that no converter module is loaded yet: with
// no descriptor left, opening the CP936 converter (its module is a shared
// library) fails; the conversion must say so, and once descriptors are back
// the same thread must convert again. Exit code 0 when both hold; otherwise
// the code names the step that went wrong (printed on stderr too).
#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "platform/CodePageUnit.h"
#include "platform/ErrorsUnit.h"

int main() {
  // Load the converter catalogue now, through a built-in conversion that needs
  // no module, so that only the module load is left to fail.
  iconv_t builtin = iconv_open("UTF-16LE", "UTF-8");
  if (builtin == reinterpret_cast<iconv_t>(-1)) return 10;
  iconv_close(builtin);

  rlimit saved{};
  if (::getrlimit(RLIMIT_NOFILE, &saved) != 0) return 11;
  const int lowest = ::open("/dev/null", O_RDONLY);
  if (lowest < 0) return 12;
  ::close(lowest);

  int result = 0;
  std::thread worker([&] {
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    if (::setrlimit(RLIMIT_NOFILE, &low) != 0) {
      result = 13;
      return;
    }
    bool raised = false;
    AnsiString first;
    try {
      first = WideToAnsi(u"\x4E2D\x6587");  // 中文
    } catch (const EConvertError&) {
      raised = true;
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    if (!raised) {
      // Either the module could be loaded after all (the probe proves
      // nothing) or text came back unconverted.
      result = first == "\xD6\xD0\xCE\xC4" ? 20 : 21;
      return;
    }
    try {
      if (WideToAnsi(u"\x4E2D\x6587") != "\xD6\xD0\xCE\xC4") result = 22;
    } catch (const EConvertError&) {
      result = 23;  // the failure was kept for the thread
    }
  });
  worker.join();
  if (result != 0) std::fprintf(stderr, "code page probe failed at step %d\n", result);
  return result;
}
