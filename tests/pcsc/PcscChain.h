// PcscChain: a pcscd of the test's own with the vpcd virtual reader, and the
// simulator's card behind it (cardsim present --vpcd).
//
// The constructor fails the test (with the reason) when pcscd or the vpcd
// driver is not installed, when a pcscd already runs on the machine (its
// client socket, /run/pcscd/pcscd.comm, is fixed in pcsc-lite 1.9.9 and would
// be shared), or when the chain does not come up. pcscd runs in the
// foreground with a reader configuration folder of its own (-c) naming the
// vpcd driver on two free local ports (the driver makes two readers, "Virtual
// PCD 00 00" and "... 00 01"); the card is connected to the first. Both
// programs are stopped by the destructor, also when a test fails.
#ifndef VELIO_TESTS_PCSC_PCSCCHAIN_H_
#define VELIO_TESTS_PCSC_PCSCCHAIN_H_

#include <memory>
#include <string>

#include "tests/e2e/E2eSupport.h"

namespace pcsctest {

// The pid of a pcscd running on this machine, or 0.
int RunningPcscd();
// Why the PC/SC service of this machine is in use (a pcscd runs, or its
// socket exists), or empty text.
std::string PcscServiceInUse();

class TPcscChain {
 public:
  // cardDir: the simulator's state folder holding card.bin.
  explicit TPcscChain(const std::string& cardDir);
  ~TPcscChain();
  TPcscChain(const TPcscChain&) = delete;
  TPcscChain& operator=(const TPcscChain&) = delete;

  // True when pcscd and the card link are up (otherwise a failure was recorded).
  bool Up() const { return up_; }
  // (Re)starts the card link, as a 1K or a 4K card (or with the ATR atrHex),
  // and waits for the card.
  bool StartCard(bool oneK = false, const std::string& atrHex = {});
  // Waits until reader 0 shows a card (present) or none (!present).
  bool WaitCard(bool present, int timeoutMs = 10000);
  // True when no program holds a connection to the card of reader 0: an
  // exclusive connection succeeds.
  bool CardFree();
  std::string Reader0() const { return "Virtual PCD 00 00"; }
  std::string Output() const;

 private:
  std::string cardDir_;
  e2e::TTempHome conf_;
  std::unique_ptr<e2e::TProcess> pcscd_;
  std::unique_ptr<e2e::TProcess> card_;
  int port_ = 0;
  bool up_ = false;
};

}  // namespace pcsctest

#endif  // VELIO_TESTS_PCSC_PCSCCHAIN_H_
