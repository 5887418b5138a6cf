// trivial_server: the request server with a trivial handler, for measuring the
// server itself with `pms-client bench`.
//
//   trivial_server [--port P] [--delay-us N]
//
// Every request is answered with "<Echo>" + request + "</Echo>" and one NUL,
// after an optional busy delay. Prints "port <P> pid <PID>" once listening and
// runs until SIGINT or SIGTERM. Raises its descriptor limit so that tens of
// thousands of idle connections can be held open.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "CLI/CLI.hpp"
#include "platform/ErrorsUnit.h"
#include "server/MessageHandlerUnit.h"
#include "server/TCPServerUnit.h"
#include "services/InterfaceModeUnit.h"

namespace {

constexpr int kBenchMode = 101;

class TEchoHandler : public TMessageHandler {
 public:
  explicit TEchoHandler(std::chrono::microseconds delay) : delay_(delay) {}
  void HandleMessage(TConnection& connection, const std::u16string& request) override {
    if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
    SendReplyText(connection, u"<Echo>" + request + u"</Echo>");
  }

 private:
  std::chrono::microseconds delay_;
};

void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The request server with a trivial echo handler, for benchmarks."};
  int port = 0;
  int delay_us = 0;
  app.add_option("--port", port, "TCP port (0: any free port)");
  app.add_option("--delay-us", delay_us, "Sleep this long in each handler");
  CLI11_PARSE(app, argc, argv);

  RaiseFileLimit();
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // inherited by every thread

  const std::chrono::microseconds delay(delay_us);
  RegisterHandlerFactory(kBenchMode,
                         [delay](TMemo*) { return std::make_unique<TEchoHandler>(delay); });
  InterfaceMode.store(kBenchMode);

  TRequestServer server;
  server.SetPort(port);
  try {
    server.Activate();
  } catch (const EVelioError& e) {
    std::fprintf(stderr, "trivial_server: %s\n", e.what());
    return 1;
  }
  std::printf("port %u pid %d\n", server.BoundPort(), static_cast<int>(getpid()));
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  try {
    server.Deactivate();
  } catch (const EVelioError& e) {
    std::fprintf(stderr, "trivial_server: %s\n", e.what());
    return 1;
  }
  return 0;
}
