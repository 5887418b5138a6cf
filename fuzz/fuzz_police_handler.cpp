// Fuzz target: request bytes through the police handler.
//
// The decoded bytes are the request, and also the guest's fields (so the guest
// text and its GenderID conversion see arbitrary text). Errors that end a
// request are expected; crashes and sanitizer reports are not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "police/BasePoliceUnit.h"
#include "police/PoliceMessageHandlerUnit.h"
#include "server/MessageHandlerUnit.h"
#include "server/Utf8Unit.h"
#include "services/LogFileUnit.h"

namespace {

class TTextPolice : public TBasePolice {
 public:
  void ShowOptions() override {}
  std::shared_ptr<const TGuest> ReadGuest() override { return guest; }
  std::shared_ptr<const TGuest> guest;
};

class TNullConnection : public TConnection {
 public:
  void WriteBytes(std::string_view) override {}
};

struct TFuzzHome {
  TFuzzHome() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velio-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir = tmpl + "/";
    log = std::make_unique<TLogFile>(dir + "fuzz.LOG");
    OperationLog = log.get();
    PoliceDevice.store(&police);
  }
  ~TFuzzHome() {
    PoliceDevice.store(nullptr);
    OperationLog = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
  std::unique_ptr<TLogFile> log;
  TTextPolice police;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzHome home;
  const std::u16string request =
      DecodeUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const AnsiString text = WideToAnsi(request);
  // Odd first bytes: no guest; otherwise a guest made of the request text.
  if (size > 0 && (data[0] & 1)) {
    home.police.guest = nullptr;
  } else {
    auto guest = std::make_shared<TGuest>();
    guest->RoomNo = text;
    guest->Name = text;
    guest->Address = text.substr(0, text.size() / 2);
    // Short inputs become the gender itself, longer ones keep a valid gender.
    guest->GenderID = text.size() < 12 ? text : "1";
    home.police.guest = guest;
  }
  TNullConnection connection;
  TPoliceMessageHandler handler(nullptr);
  try {
    handler.HandleMessage(connection, request);
  } catch (const std::exception&) {
    // A non-integer GenderID ends the request without a reply.
  }
  if (std::filesystem::file_size(home.log->FileName()) > (4u << 20))
    std::filesystem::remove(home.log->FileName());
  return 0;
}
