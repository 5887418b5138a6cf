// StopSignalUnit: the process's stop signals as a readable descriptor.
//
// A program that must stop in order (finish what it is writing, stop its
// server, close its device) cannot do that inside a signal handler. While a
// TStopSignals exists, each of its signals that reaches the process (on any
// thread) only writes the signal's number into a pipe; the program watches the
// pipe's read end in its event loop (a QSocketNotifier in the desktop program)
// and stops from there. The handler is async-signal-safe and restarts
// interrupted calls, so no other thread sees the signal.
//
// On Windows there are no such signals: Descriptor() is -1 and nothing is
// caught.
//
// One instance at a time per process. Not thread-safe itself: create, read and
// destroy it on one thread.
#ifndef VELIO_PLATFORM_STOPSIGNALUNIT_H_
#define VELIO_PLATFORM_STOPSIGNALUNIT_H_

#include <initializer_list>
#include <vector>

class TStopSignals {
 public:
  // Catches the signals in caught from now on. Raises EVelioError when the pipe or a
  // handler cannot be set up.
  explicit TStopSignals(std::initializer_list<int> caught);
  // Puts the previous dispositions back, then closes the pipe.
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // The pipe's read end: readable once a signal has arrived (-1 on Windows).
  int Descriptor() const { return read_; }

  // The number of a signal that has arrived and not been taken yet, or 0.
  // Never blocks.
  int Take();

 private:
  // Restores the dispositions of signals_ and closes the pipe.
  void Release();

  int read_ = -1;
  int write_ = -1;
  std::vector<int> signals_;
  std::vector<char> previous_;  // the saved dispositions (struct sigaction), one per signal
};

#endif  // VELIO_PLATFORM_STOPSIGNALUNIT_H_
