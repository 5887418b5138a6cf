// pms-client: the property-management side in one command.
//
//   pms-client [--host H] [--port P] (--file F | --xml TEXT | <stdin)
//   pms-client <request command> [options]      (see --help)
//   pms-client bench --xml TEXT [--clients N] [--requests M] [--idle K]
//
// Sends one request (UTF-8 text and one NUL) and prints the reply without its
// NUL, followed by a line end. Exit status: 0 a reply came, 3 the server closed
// without a reply, 2 no connection, 1 an unusable command line or input (an
// unknown option, a missing value, an empty request, a file that cannot be
// read).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "CLI/CLI.hpp"

#ifdef _WIN32
#include <io.h>
#define VELIO_ISATTY _isatty
#else
#include <unistd.h>
#define VELIO_ISATTY isatty
#endif
#include "tools/PmsClientUnit.h"
#include "tools/PmsRequestUnit.h"

namespace {

constexpr int kExitReply = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitConnectError = 2;
constexpr int kExitNoReply = 3;

std::string StripByteOrderMark(std::string text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  return text;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  text = StripByteOrderMark(content.str());
  return !in.bad();
}

int Send(const std::string& host, int port, const std::string& request, bool verbose) {
  if (request.find('\0') != std::string::npos) {
    std::cerr << "pms-client: the request text contains a NUL byte\n";
    return kExitBadInput;
  }
  if (request.empty()) {
    std::cerr << "pms-client: the request is empty: nothing to send\n";
    return kExitBadInput;
  }
  if (verbose) std::cerr << request << "\n";
  const TExchangeResult result = SendRequest(host, static_cast<uint16_t>(port), request);
  switch (result.outcome) {
    case TExchangeResult::TOutcome::kReply:
      std::cout << result.reply << "\n";
      return kExitReply;
    case TExchangeResult::TOutcome::kNoReply:
      std::cerr << "pms-client: the server closed the connection without a reply";
      if (!result.error.empty()) std::cerr << " (" << result.error << ")";
      if (!result.received.empty()) {
        std::cerr << "; received without an end byte: " << result.received;
      }
      std::cerr << "\n";
      return kExitNoReply;
    case TExchangeResult::TOutcome::kConnectError:
      break;
  }
  std::cerr << "pms-client: cannot connect: " << result.error << "\n";
  return kExitConnectError;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Sends one request to the interface server as the property-management system does "
      "(UTF-8 text ended by a NUL byte) and prints the reply without its NUL.\n"
      "Without a command the request text comes from --xml, --file or standard input."};
  app.footer(
      "Exit status: 0 a reply came, 3 the server closed without a reply, 2 no connection, "
      "1 an unusable command line or input (also an empty request).");
  app.fallthrough();  // --host, --port and --verbose may follow a command too

  std::string host = "127.0.0.1";
  int port = 8883;
  bool verbose = false;
  std::string xml_text;
  std::string file_path;
  app.add_option("--host", host, "Server host name or address")->capture_default_str();
  app.add_option("--port", port, "Server port (member 8883, police 8885, door lock 8886)")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535));
  app.add_flag("-v,--verbose", verbose, "Print the request on standard error before sending it");
  CLI::Option* xml_option = app.add_option("--xml", xml_text, "The request text");
  CLI::Option* file_option =
      app.add_option("--file", file_path, "Read the request text from this file");
  xml_option->excludes(file_option);

  std::string request;  // set by the command chosen

  // Membership card (mode 3).
  CLI::App* write_member = app.add_subcommand(
      "write-member-card", "WriteMemberCard: write a member card number to the card on the reader");
  std::string card_no;
  std::optional<int> write_channel;
  std::string extra1, extra2, extra3;
  write_member->add_option("--card-no", card_no, "Card number")->required();
  write_member->add_option("--channel", write_channel, "Reader channel (omitted: none sent)");
  write_member->add_option("--extra1", extra1, "First extra value");
  write_member->add_option("--extra2", extra2, "Second extra value");
  write_member->add_option("--extra3", extra3, "Third extra value");
  write_member->callback(
      [&] { request = BuildWriteMemberCard(card_no, write_channel, extra1, extra2, extra3); });

  CLI::App* read_member = app.add_subcommand(
      "read-member-card", "ReadMemberCard: read the member data from the card on the reader");
  int flag = 0;
  std::optional<int> read_channel;
  read_member->add_option("--flag", flag, "Flag passed to the reader (0 or 1)")
      ->capture_default_str()
      ->check(CLI::IsMember({0, 1}));
  read_member->add_option("--channel", read_channel, "Reader channel (omitted: none sent)");
  read_member->callback([&] { request = BuildReadMemberCard(flag, read_channel); });

  // Door lock (mode 1).
  CLI::App* issue = app.add_subcommand("issue-card", "IssueCard: issue a guest room key card");
  TIssueCardRequest issue_request;
  issue->add_option("--building", issue_request.building, "Building code")->required();
  issue->add_option("--floor", issue_request.floor, "Floor code")->required();
  issue->add_option("--room", issue_request.room, "Room number")->required();
  issue->add_option("--register-id", issue_request.register_id, "Registration id");
  issue->add_option("--guest", issue_request.guest_name, "Guest name");
  issue->add_option("--check-in", issue_request.check_in, "Check-in, \"yyyy-MM-dd hh:mm:ss\"")
      ->required();
  issue->add_option("--check-out", issue_request.check_out, "Check-out, \"yyyy-MM-dd hh:mm:ss\"")
      ->required();
  issue->add_flag("--copy", issue_request.copy, "A copy of a card already issued");
  issue->callback([&] { request = BuildIssueCard(issue_request); });

  app.add_subcommand("read-card", "ReadCard: read the key card on the encoder")->callback([&] {
    request = BuildBareRequest("ReadCard");
  });
  app.add_subcommand("erase-card", "EraseCard: erase the key card on the encoder")->callback([&] {
    request = BuildBareRequest("EraseCard");
  });
  // Police (mode 2): any request is answered with the current guest.
  app.add_subcommand("read-guest", "Ask the police interface for the current guest")->callback([&] {
    request = BuildBareRequest("ReadGuest");
  });

  // Load generator.
  CLI::App* bench = app.add_subcommand(
      "bench", "Load test: many requests from several clients, each on a new connection");
  TBenchOptions bench_options;
  bench->add_option("--xml", bench_options.request, "The request text")->required();
  bench->add_option("--clients", bench_options.clients, "Concurrent clients")
      ->capture_default_str()
      ->check(CLI::Range(1, 1024));
  bench->add_option("--requests", bench_options.requests, "Requests in all")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  bench->add_option("--idle", bench_options.idle, "Extra connections held open without a request")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  bench->add_option("--server-pid", bench_options.server_pid,
                    "Report this process's resident memory before and after opening the idle "
                    "connections");

  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);  // prints what is wrong
    return kExitBadInput;
  }

  if (bench->parsed()) {
    if (bench_options.request.find('\0') != std::string::npos) {
      std::cerr << "pms-client: the request text contains a NUL byte\n";
      return kExitBadInput;
    }
    if (bench_options.request.empty()) {
      std::cerr << "pms-client: the request is empty: nothing to send\n";
      return kExitBadInput;
    }
    bench_options.host = host;
    bench_options.port = static_cast<uint16_t>(port);
    try {
      const TBenchResult result = RunBench(bench_options, std::cout);
      if (result.replies > 0 || bench_options.requests == 0) return kExitReply;
      if (result.connect_errors > 0 && result.no_reply == 0) {
        std::cerr << "pms-client: cannot connect to " << host << ":" << port << "\n";
        return kExitConnectError;
      }
      return kExitNoReply;
    } catch (const std::exception& e) {
      std::cerr << "pms-client: " << e.what() << "\n";
      return kExitConnectError;
    }
  }

  if (app.get_subcommands().empty()) {
    if (*xml_option) {
      request = xml_text;
    } else if (*file_option) {
      if (!ReadFile(file_path, request)) {
        std::cerr << "pms-client: cannot read " << file_path << "\n";
        return kExitBadInput;
      }
    } else {
      if (VELIO_ISATTY(0)) {
        std::cerr << "pms-client: reading the request from standard input; end it with "
#ifdef _WIN32
                     "Ctrl+Z and Enter"
#else
                     "Ctrl+D"
#endif
                     " (or give --xml TEXT or --file F; see --help)\n";
      }
      request = StripByteOrderMark(
          std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()));
    }
  } else if (*xml_option || *file_option) {
    std::cerr << "pms-client: --xml and --file cannot be combined with a request command\n";
    return kExitBadInput;
  }
  return Send(host, port, request, verbose);
}
