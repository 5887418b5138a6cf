// StopSignalUnit: the self-pipe.
//
// The handler writes one byte (the signal's number) into a non-blocking pipe
// and keeps errno as it found it; a full pipe drops the byte, which is harmless
// since one unread byte already says "stop".
#include "platform/StopSignalUnit.h"

#include "platform/ErrorsUnit.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#endif

#ifndef _WIN32
namespace {

std::atomic<int> gWriteEnd{-1};

extern "C" void OnStopSignal(int sig) {
  const int saved = errno;
  const int fd = gWriteEnd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(sig);
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

}  // namespace

TStopSignals::TStopSignals(std::initializer_list<int> caught) : signals_(caught) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw EVelioError(std::string("Cannot watch the stop signals: ") + std::strerror(errno));
  read_ = fds[0];
  write_ = fds[1];
  gWriteEnd.store(write_);
  previous_.resize(signals_.size() * sizeof(struct sigaction));
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < signals_.size(); ++i) {
    auto* saved =
        reinterpret_cast<struct sigaction*>(previous_.data() + i * sizeof(struct sigaction));
    if (::sigaction(signals_[i], &action, saved) != 0) {
      const int error = errno;
      signals_.resize(i);
      Release();
      throw EVelioError(std::string("Cannot watch the stop signals: ") + std::strerror(error));
    }
  }
}

TStopSignals::~TStopSignals() {
  Release();
}

void TStopSignals::Release() {
  for (size_t i = 0; i < signals_.size(); ++i)
    ::sigaction(
        signals_[i],
        reinterpret_cast<const struct sigaction*>(previous_.data() + i * sizeof(struct sigaction)),
        nullptr);
  signals_.clear();
  gWriteEnd.store(-1);
  if (read_ >= 0) ::close(read_);
  if (write_ >= 0) ::close(write_);
  read_ = write_ = -1;
}

int TStopSignals::Take() {
  unsigned char byte = 0;
  if (read_ < 0 || ::read(read_, &byte, 1) != 1) return 0;
  return byte;
}

#else

TStopSignals::TStopSignals(std::initializer_list<int> caught) : signals_(caught) {}

TStopSignals::~TStopSignals() = default;

void TStopSignals::Release() {}

int TStopSignals::Take() {
  return 0;
}

#endif
