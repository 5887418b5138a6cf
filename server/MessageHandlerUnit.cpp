// MessageHandlerUnit: the registry of handler factories by interface mode.
#include "server/MessageHandlerUnit.h"

#include <map>
#include <mutex>

#include "server/Utf8Unit.h"

namespace {
std::mutex gFactoryLock;
std::map<int, THandlerFactory>& Factories() {
  static std::map<int, THandlerFactory> factories;
  return factories;
}
}  // namespace

void RegisterHandlerFactory(int mode, THandlerFactory factory) {
  std::lock_guard<std::mutex> lock(gFactoryLock);
  Factories()[mode] = std::move(factory);
}

std::unique_ptr<TMessageHandler> CreateMessageHandler(int mode, TMemo* memo) {
  THandlerFactory factory;
  {
    std::lock_guard<std::mutex> lock(gFactoryLock);
    auto it = Factories().find(mode);
    if (it == Factories().end()) return nullptr;
    factory = it->second;
  }
  return factory(memo);
}

void SendReplyText(TConnection& connection, const std::u16string& reply) {
  std::string bytes = EncodeUtf8(reply);
  bytes.push_back('\0');
  try {
    connection.WriteBytes(bytes);
  } catch (...) {
    // The peer has gone: the reply is dropped, nothing is logged.
  }
}
