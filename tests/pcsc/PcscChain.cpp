// PcscChain: starting and stopping pcscd and the virtual card for a test.
#include "tests/pcsc/PcscChain.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "pcsc/PcscReaderUnit.h"
#include "pcsc/ReaderPcscCodes.h"

namespace pcsctest {

namespace {

const char kPcscd[] = "/usr/sbin/pcscd";
const char kVpcdDriver[] = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

}  // namespace

std::string PcscServiceInUse() {
  if (const int pid = RunningPcscd())
    return "a pcscd already runs on this machine (pid " + std::to_string(pid) +
           "); the pcsc tests start their own and share its fixed client socket "
           "/run/pcscd/pcscd.comm: stop it first (systemctl stop pcscd.socket pcscd)";
  std::error_code ec;
  if (std::filesystem::exists("/run/pcscd/pcscd.comm", ec))
    return "/run/pcscd/pcscd.comm exists while no pcscd runs: systemd's pcscd.socket listens "
           "there (systemctl stop pcscd.socket), or a pcscd ended without removing it";
  return std::string();
}

int RunningPcscd() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    if (!std::getline(comm, command) || command != "pcscd") continue;
    // An ended pcscd not yet reaped by its parent does not count.
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(") ");
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') continue;
    return std::stoi(name);
  }
  return 0;
}

TPcscChain::TPcscChain(const std::string& cardDir) : cardDir_(cardDir) {
  if (!std::filesystem::exists(kPcscd) || !std::filesystem::exists(kVpcdDriver)) {
    ADD_FAILURE() << "pcscd or the vpcd driver is not installed (" << kPcscd << ", " << kVpcdDriver
                  << "): run scripts/deps.sh (packages pcscd, vsmartcard-vpcd)";
    return;
  }
  if (const std::string inUse = PcscServiceInUse(); !inUse.empty()) {
    ADD_FAILURE() << inUse;
    return;
  }
  port_ = e2e::FreePortPair();
  if (port_ == 0) {
    ADD_FAILURE() << "no two free local ports in a row for the vpcd driver";
    return;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", port_);
  std::filesystem::create_directories(conf_.File("reader.conf.d"));
  conf_.Write("reader.conf.d/vpcd", std::string("FRIENDLYNAME \"Virtual PCD\"\n") +
                                        "DEVICENAME   /dev/null:" + hex + "\n" + "LIBPATH      " +
                                        kVpcdDriver + "\n" + "CHANNELID    " + hex + "\n");
  e2e::TSpawnOptions pcscdOptions;
  pcscdOptions.endWithTest = true;
  pcscd_ = std::make_unique<e2e::TProcess>(
      std::vector<std::string>{kPcscd, "--foreground", "--config", conf_.File("reader.conf.d")},
      pcscdOptions);
  // pcscd is up when a context can be established and both readers are listed.
  const bool listed = e2e::WaitUntil([this] {
    if (!pcscd_->Running()) return true;
    pcsc::TContext context;
    std::vector<std::string> names;
    return context.Establish() == READER_PCSC_OK && context.ListReaders(names) == READER_PCSC_OK &&
           names.size() == 2;
  });
  if (!listed || !pcscd_->Running()) {
    ADD_FAILURE() << "pcscd did not come up with the vpcd readers:\n" << Output();
    return;
  }
  up_ = StartCard();
}

TPcscChain::~TPcscChain() {
  // The card first, so pcscd sees it leave; then pcscd.
  card_.reset();
  pcscd_.reset();
}

bool TPcscChain::StartCard(bool oneK, const std::string& atrHex) {
  card_.reset();
  if (!WaitCard(false)) {
    ADD_FAILURE() << "the card stayed in the reader after its link stopped:\n" << Output();
    return false;
  }
  std::vector<std::string> argv = {e2e::BinPath("cardsim"), "present", "--vpcd",
                                   std::to_string(port_)};
  if (oneK) argv.push_back("--1k");
  if (!atrHex.empty()) argv.insert(argv.end(), {"--atr", atrHex});
  e2e::TSpawnOptions options;
  options.env["VELIO_READER_SIM_DIR"] = cardDir_;
  options.endWithTest = true;
  card_ = std::make_unique<e2e::TProcess>(argv, options);
  if (std::filesystem::exists(cardDir_ + "/card.bin") && !WaitCard(true)) {
    ADD_FAILURE() << "the virtual card did not reach the reader:\n" << Output();
    return false;
  }
  return true;
}

bool TPcscChain::WaitCard(bool present, int timeoutMs) {
  return e2e::WaitUntil(
      [&] {
        pcsc::TContext context;
        std::vector<pcsc::TReaderState> states;
        if (context.Establish() != READER_PCSC_OK ||
            context.States({Reader0()}, states) != READER_PCSC_OK || states.empty())
          return false;
        return states[0].CardPresent == present;
      },
      timeoutMs);
}

bool TPcscChain::CardFree() {
  pcsc::TContext context;
  if (context.Establish() != READER_PCSC_OK) return false;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  const LONG rc = SCardConnect(context.Handle(), Reader0().c_str(), SCARD_SHARE_EXCLUSIVE,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
  if (rc != SCARD_S_SUCCESS) return false;
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  return true;
}

std::string TPcscChain::Output() const {
  std::string out;
  if (pcscd_) out += "--- pcscd:\n" + pcscd_->Stdout() + pcscd_->Stderr();
  if (card_) out += "--- cardsim present:\n" + card_->Stdout() + card_->Stderr();
  return out;
}

}  // namespace pcsctest
