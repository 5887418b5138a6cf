// velio-readers: the installer's look at the PC/SC readers.
//
//   velio-readers list
//     every reader that counts (VELIO_PCSC_READER applied) with its index (the
//     COMn port that selects it) and whether a card lies on it; for a card its
//     ATR, UID (FF CA) and type.
//   velio-readers read --port USB|COMn --sector S --block B [--key HEX|-] [--key-b]
//     reads one block with the key, exactly as libReaderPcsc does for the
//     member device, and prints it. The key comes from --key HEX, or from the
//     first line of standard input with --key -, or else from the environment
//     variable VELIO_READER_KEY; stdin and the environment keep it out of the
//     process list, where a command line is shown to every user.
//
// Exit codes: 0 done; 1 the reader or card refused (the library's code is
// printed); 2 bad command line; 3 PC/SC service not running; 4 no such reader;
// 5 no card on the reader.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "pcsc/PcscCardUnit.h"
#include "pcsc/PcscReaderUnit.h"
#include "pcsc/ReaderPcscCodes.h"
#include "platform/ReaderCodesUnit.h"
#include "sim/CardImageUnit.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitNoService = 3;
constexpr int kExitNoReader = 4;
constexpr int kExitNoCard = 5;

int Fail(int32_t rc, const std::string& what) {
  switch (rc) {
    case READER_PCSC_ERR_NO_SERVICE:
      std::cerr << "velio-readers: PC/SC service not running (start pcscd, or on Windows the "
                   "Smart Card service)\n";
      return kExitNoService;
    case READER_PCSC_ERR_NO_READER:
      std::cerr << "velio-readers: no such reader (" << what << ")\n";
      return kExitNoReader;
    case READER_PCSC_ERR_NO_CARD:
      std::cerr << "velio-readers: no card on the reader (" << what << ")\n";
      return kExitNoCard;
    default:
      std::cerr << "velio-readers: " << what << " failed, code " << ReaderCodeText(rc) << "\n";
      return kExitRefused;
  }
}

int CmdList() {
  pcsc::TContext context;
  int32_t rc = context.Establish();
  if (rc != READER_PCSC_OK) return Fail(rc, "connecting to the PC/SC service");
  std::vector<std::string> names;
  rc = context.ListReaders(names);
  if (rc != READER_PCSC_OK) return Fail(rc, "listing the readers");
  if (names.empty()) {
    std::cout << "no PC/SC reader\n";
    return kExitNoReader;
  }
  std::vector<pcsc::TReaderState> states;
  rc = context.States(names, states);
  if (rc != READER_PCSC_OK) return Fail(rc, "reading the readers' states");
  for (size_t i = 0; i < states.size(); ++i) {
    const pcsc::TReaderState& state = states[i];
    std::cout << i << (i <= 9 ? "  (COM" + std::to_string(i) + ")  " : "  (no port)  ")
              << state.Name << "\n";
    if (!state.CardPresent) {
      std::cout << "   no card\n";
      continue;
    }
    std::cout << "   ATR  " << pcsc::HexBytes(state.Atr.data(), state.Atr.size()) << "\n"
              << "   type " << pcsc::CardTypeName(state.Atr.data(), state.Atr.size()) << "\n";
    pcsc::TConnection connection;
    std::vector<uint8_t> uid;
    rc = connection.Connect(context, state.Name);
    if (rc == READER_PCSC_OK) rc = pcsc::ReadUid(connection, uid);
    if (rc == READER_PCSC_OK)
      std::cout << "   UID  " << pcsc::HexBytes(uid.data(), uid.size()) << "\n";
    else
      std::cout << "   UID  not read, code " << ReaderCodeText(rc) << "\n";
  }
  return 0;
}

int CmdRead(const std::string& portName, int sector, int block, const std::string& keyText,
            bool keyB) {
  int32_t port = 0;
  if (portName == "USB") {
    port = -1;
  } else if (portName.size() == 4 && portName.compare(0, 3, "COM") == 0 && portName[3] >= '0' &&
             portName[3] <= '9') {
    port = portName[3] - '0';
  } else {
    std::cerr << "velio-readers: --port must be USB or COM0 to COM9\n";
    return 2;
  }
  readersim::TKey key;
  if (!readersim::ParseKey(keyText, key)) {
    std::cerr << "velio-readers: --key must be 12 hexadecimal digits\n";
    return 2;
  }
  pcsc::TContext context;
  int32_t rc = context.Establish();
  if (rc != READER_PCSC_OK) return Fail(rc, "connecting to the PC/SC service");
  std::string reader;
  rc = context.SelectReader(port, reader);
  if (rc != READER_PCSC_OK) return Fail(rc, portName);
  pcsc::TConnection connection;
  rc = connection.Connect(context, reader);
  if (rc != READER_PCSC_OK) return Fail(rc, reader);
  const std::vector<uint8_t>& atr = connection.Atr();
  const int sectors = pcsc::SectorsFromAtr(atr.data(), atr.size());
  std::cout << "reader " << reader << "\ncard   " << pcsc::CardTypeName(atr.data(), atr.size())
            << "\n";
  if (sectors == 0) return Fail(READER_PCSC_ERR_CARD_TYPE, "recognising the card");
  uint8_t data[16] = {};
  rc = pcsc::ReadBlock(connection, sectors, key.data(),
                       keyB ? VELIO_READER_KEY_B : VELIO_READER_KEY_A, sector, block, data);
  if (rc != READER_PCSC_OK) return Fail(rc, "reading the block");
  std::cout << "sector " << sector << " block " << block << "  " << pcsc::HexBytes(data, 16)
            << "\n";
  return 0;
}

}  // namespace

// The key text: --key as given, its "-" read as the first line of standard
// input (a closing CR or LF and surrounding blanks dropped), else
// VELIO_READER_KEY when set and not empty, else option (the default).
std::string KeyText(const std::string& option, bool given) {
  if (given && option == "-") {
    std::string line;
    std::getline(std::cin, line);
    const size_t first = line.find_first_not_of(" \t\r\n");
    const size_t last = line.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
  }
  if (given) return option;
  const char* env = std::getenv("VELIO_READER_KEY");
  if (env && *env) return env;
  return option;
}

int main(int argc, char** argv) {
  CLI::App app{
      "velio-readers: the PC/SC readers and cards as the PC/SC reader library sees them.\n"
      "VELIO_PCSC_READER=TEXT keeps only readers whose name contains TEXT."};
  app.require_subcommand(1);
  CLI::App* cmdList =
      app.add_subcommand("list", "List the readers with their index, card, ATR, UID and type");
  std::string port = "USB", key = "7D2A9C41E6B3";
  int sector = 4, block = 0;
  bool keyB = false;
  CLI::App* cmdRead = app.add_subcommand("read", "Read one block with a key");
  cmdRead->add_option("--port", port, "USB (first reader with a card) or COM0 to COM9 (index)")
      ->capture_default_str();
  cmdRead->add_option("--sector", sector, "sector (0-39)")->capture_default_str();
  cmdRead->add_option("--block", block, "block in the sector")->capture_default_str();
  CLI::Option* keyOption =
      cmdRead
          ->add_option("--key", key,
                       "12 hexadecimal digits, or - to read them from standard input "
                       "(else VELIO_READER_KEY; both keep the key out of the process list)")
          ->capture_default_str();
  cmdRead->add_flag("--key-b", keyB, "the key is key B (default key A)");
  CLI11_PARSE(app, argc, argv);
  if (*cmdList) return CmdList();
  if (*cmdRead) return CmdRead(port, sector, block, KeyText(key, keyOption->count() > 0), keyB);
  return 0;
}
