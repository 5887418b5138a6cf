// cardsim: puts a simulated card on the simulated reader, removes it, shows
// and edits its blocks.
//
// The card is card.bin in the state folder that the reader simulator uses:
// VELIO_READER_SIM_DIR when set, else ReaderSim/ in the --home folder (where
// velio-interfaced --home DIR has its simulator keep the card), else
// ReaderSim/ beside this program (the library's own default, since both live
// in the same bin folder). An installed cardsim (in /usr/bin) keeps nothing
// beside itself: without --home or the variable it refuses with exit 2 and
// names --home, as the installed library answers "no card". Every access
// holds the card lock, so a running reader simulator never sees half a change.
// Text on the command line and on the screen is UTF-8; on the card it is code
// page 936, as the member device writes it.
//
// Exit status: 0 done, 1 the card could not be used (no card, an unreadable
// or unwritable card file, a key or block value that does not fit), 2 an
// unusable command line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>

#include "platform/CodePageUnit.h"
#include "platform/PathUnit.h"
#include "sim/CardImageUnit.h"
#include "sim/VirtualCardUnit.h"

namespace {

using readersim::TCardImage;

constexpr char kDefaultKey[] = "7D2A9C41E6B3";

constexpr int kExitDone = 0;
constexpr int kExitCardFailed = 1;
constexpr int kExitCommandLine = 2;

int Fail(const std::string& message) {
  std::cerr << "cardsim: " << message << "\n";
  return kExitCardFailed;
}

// A value on the command line that cannot be used.
int Usage(const std::string& message) {
  std::cerr << "cardsim: " << message << "\n";
  return kExitCommandLine;
}

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
    s += buf;
  }
  return s;
}

// The block's text as the member device reads it: up to the first FF or 00.
std::string BlockText(const uint8_t* p) {
  size_t n = 0;
  while (n < readersim::kBlockSize && p[n] != 0xFF && p[n] != 0x00) ++n;
  return AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
}

bool ParseHexBytes(const std::string& text, std::string& bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits.push_back(c);
  }
  if (digits.empty() || digits.size() % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return true;
}

int CmdNew(const std::string& dir, const std::string& keyText) {
  readersim::TKey key;
  if (!readersim::ParseKey(keyText, key))
    return Usage("--key must be 12 hexadecimal digits: " + keyText);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return Fail("cannot create " + dir + ": " + ec.message());
  std::random_device random;
  std::array<uint8_t, 4> serial;
  for (auto& b : serial) b = static_cast<uint8_t>(random());
  readersim::TCardLock lock(dir);
  if (!readersim::SaveCard(dir, readersim::NewCardImage(key, serial)))
    return Fail("cannot write " + readersim::CardFile(dir));
  std::cout << "card placed on the reader: serial " << Hex(serial.data(), 4) << ", key " << keyText
            << "\n"
            << readersim::CardFile(dir) << "\n";
  return 0;
}

int CmdRemove(const std::string& dir) {
  readersim::TCardLock lock(dir);
  std::error_code ec;
  const bool present = std::filesystem::exists(readersim::CardFile(dir), ec);
  if (!readersim::RemoveCard(dir)) return Fail("cannot remove " + readersim::CardFile(dir));
  std::cout << (present ? "card taken off the reader: " : "there was no card on the reader: ")
            << readersim::CardFile(dir) << "\n";
  return kExitDone;
}

int LoadOrFail(const std::string& dir, TCardImage& image) {
  switch (readersim::LoadCard(dir, image)) {
    case readersim::TLoadResult::Ok:
      return 0;
    case readersim::TLoadResult::NoCard:
      return Fail("no card on the reader (" + readersim::CardFile(dir) + ")");
    case readersim::TLoadResult::BadImage:
      return Fail(readersim::CardFile(dir) + " is not a 4096-byte card image");
    case readersim::TLoadResult::IoError:
      break;
  }
  return Fail("cannot read " + readersim::CardFile(dir));
}

int CmdShow(const std::string& dir, int sector, int block) {
  if (sector >= readersim::kSectorCount ||
      (sector >= 0 && block >= 0 && block >= readersim::BlocksInSector(sector)))
    return Usage("no such sector or block on the card");
  if (block >= 0 && sector < 0) return Usage("--block needs --sector");
  TCardImage image;
  {
    readersim::TCardLock lock(dir);
    if (int rc = LoadOrFail(dir, image)) return rc;
  }
  const int first = sector < 0 ? 0 : sector;
  const int last = sector < 0 ? readersim::kSectorCount - 1 : sector;
  for (int s = first; s <= last; ++s) {
    for (int b = 0; b < readersim::BlocksInSector(s); ++b) {
      if (block >= 0 && b != block) continue;
      size_t offset = 0;
      readersim::BlockOffset(s, b, offset);
      const uint8_t* p = image.data() + offset;
      char head[64];
      std::snprintf(head, sizeof head, "sector %2d block %2d  ", s, b);
      std::cout << head << Hex(p, readersim::kBlockSize) << "  "
                << (readersim::IsTrailer(s, b) ? std::string("(trailer)")
                    : s == 0 && b == 0         ? std::string("(serial)")
                                               : "|" + BlockText(p) + "|")
                << "\n";
    }
  }
  return 0;
}

int CmdWrite(const std::string& dir, int sector, int block, const std::string* hex,
             const std::string* text) {
  size_t offset = 0;
  if (!readersim::BlockOffset(sector, block, offset))
    return Usage("no such sector or block on the card");
  std::array<uint8_t, readersim::kBlockSize> data;
  if (hex) {
    std::string bytes;
    if (!ParseHexBytes(*hex, bytes) || bytes.size() > readersim::kBlockSize)
      return Usage("--hex must give 1 to 16 bytes as hexadecimal digits");
    data.fill(0x00);
    std::copy(bytes.begin(), bytes.end(), data.begin());
  } else {
    const AnsiString bytes = Utf8ToAnsi(*text);
    if (bytes.size() > readersim::kBlockSize)
      return Usage("--text is longer than 16 bytes in code page 936");
    data.fill(0xFF);
    std::copy(bytes.begin(), bytes.end(), data.begin());
  }
  readersim::TCardLock lock(dir);
  TCardImage image;
  if (int rc = LoadOrFail(dir, image)) return rc;
  std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
  if (!readersim::SaveCard(dir, image)) return Fail("cannot write " + readersim::CardFile(dir));
  std::cout << "sector " << sector << " block " << block << ": " << Hex(data.data(), data.size())
            << "\n";
  return 0;
}

std::atomic<bool> gStop{false};

extern "C" void OnStopSignal(int) {
  gStop.store(true);
}

// Answers as a MIFARE Classic card behind the vpcd virtual reader until
// SIGINT or SIGTERM.
int CmdPresent(const std::string& dir, const std::string& host, int port, bool small,
               const std::string& atrHex) {
  readersim::TVirtualCard card(dir, small ? 16 : 40);
  if (!atrHex.empty()) {
    std::string atr;
    if (!ParseHexBytes(atrHex, atr) || atr.size() > 33)
      return Fail("--atr must give 1 to 33 bytes as hexadecimal digits");
    card.SetAtr(std::vector<uint8_t>(atr.begin(), atr.end()));
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  std::cout << "cardsim: MIFARE Classic " << (small ? "1K" : "4K") << " on "
            << readersim::CardFile(dir) << std::endl;
  return readersim::RunVpcdCard(card, host, port, gStop, [](const std::string& line) {
    std::cout << "cardsim: " << line << std::endl;
  });
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "cardsim: the card on the simulated card reader.\n"
      "The card is card.bin in VELIO_READER_SIM_DIR, else in ReaderSim/ of the --home folder, "
      "else in ReaderSim/ beside this program; installed in a system folder (/usr/bin), this "
      "program needs --home or VELIO_READER_SIM_DIR."};
  app.footer(
      "Exit status: 0 done, 1 the card could not be used (no card, unreadable or unwritable "
      "card file, bad key or block), 2 unusable command line.");
  app.require_subcommand(0, 1);  // a missing command is reported after unknown options
  app.fallthrough();             // --home may also follow the command
  std::string home;
  app.add_option("--home", home,
                 "the home folder of velio-interfaced --home: the card is in its ReaderSim/ "
                 "(unless VELIO_READER_SIM_DIR is set)");

  std::string key = kDefaultKey;
  CLI::App* cmdNew = app.add_subcommand(
      "new", "Put a fresh card on the reader: data blocks zero, both keys of every sector = KEY");
  cmdNew->add_option("--key", key, "sector key, 12 hexadecimal digits")->capture_default_str();

  CLI::App* cmdRemove = app.add_subcommand("remove", "Take the card off the reader");

  int showSector = -1, showBlock = -1;
  CLI::App* cmdShow =
      app.add_subcommand("show", "Print blocks in hexadecimal and as the text the reader reads");
  cmdShow->add_option("--sector", showSector, "only this sector (0-39)")->check(CLI::Range(0, 39));
  cmdShow->add_option("--block", showBlock, "only this block of --sector (0-3, 0-15 from 32)")
      ->check(CLI::Range(0, 15));

  int writeSector = 0, writeBlock = 0;
  std::string hex, text;
  CLI::App* cmdWrite = app.add_subcommand(
      "write",
      "Write one block (any block, trailers and block 0 included). --hex fills the rest with 00, "
      "--text (stored in code page 936) with FF, as the member device does");
  cmdWrite->add_option("--sector", writeSector, "sector (0-39)")->required();
  cmdWrite->add_option("--block", writeBlock, "block (0-3, 0-15 from sector 32)")->required();
  CLI::Option* hexOpt = cmdWrite->add_option("--hex", hex, "1 to 16 bytes, e.g. 3132FFFF");
  CLI::Option* textOpt = cmdWrite->add_option("--text", text, "text of up to 16 bytes");
  hexOpt->excludes(textOpt);
  textOpt->excludes(hexOpt);

  int vpcdPort = 0;
  std::string vpcdHost = "127.0.0.1";
  bool small = false;
  CLI::App* cmdPresent = app.add_subcommand(
      "present",
      "Answer as a MIFARE Classic 4K card with this image behind the PC/SC virtual reader of "
      "vsmartcard-vpcd, until SIGINT or SIGTERM; the card is out of the reader while card.bin "
      "is missing");
  cmdPresent->add_option("--vpcd", vpcdPort, "the vpcd driver's port (its CHANNELID)")
      ->required()
      ->check(CLI::Range(1, 65535));
  cmdPresent->add_option("--host", vpcdHost, "the vpcd driver's address")->capture_default_str();
  cmdPresent->add_flag("--1k", small, "answer as a MIFARE Classic 1K card (sectors 0-15)");
  std::string atrHex;
  cmdPresent->add_option("--atr", atrHex,
                         "answer with this ATR instead (hexadecimal), to see how a reader "
                         "library takes another card type");


  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitCommandLine;
  }
  if (app.get_subcommands().empty())
    return Usage("a command is required: new, remove, show, write or present (see --help)");
  if (!home.empty() && !DirectoryExists(home))
    return Usage("--home: " + home + " is not an existing folder");
  const std::string dir =
      readersim::StateDir(home.empty() ? ExecutableDir() : home + std::string(1, kPathDelim));
  if (dir.empty() && !home.empty())
    return Usage("--home: " + home + " is a system folder, where nothing is written");
  if (dir.empty())
    return Usage("no card folder: this cardsim lies in the system folder " + ExecutableDir() +
                 ", where nothing is written; name the server's home with --home (the member "
                 "service's: --home /var/lib/velio-interface/member) or set VELIO_READER_SIM_DIR");
  if (*cmdNew) return CmdNew(dir, key);
  if (*cmdRemove) return CmdRemove(dir);
  if (*cmdPresent) return CmdPresent(dir, vpcdHost, vpcdPort, small, atrHex);
  if (*cmdShow) return CmdShow(dir, showSector, showBlock);
  if (*cmdWrite) {
    if (!*hexOpt && !*textOpt) return Usage("write needs --hex or --text");
    return CmdWrite(dir, writeSector, writeBlock, *hexOpt ? &hex : nullptr,
                    *textOpt ? &text : nullptr);
  }
  return 0;
}
