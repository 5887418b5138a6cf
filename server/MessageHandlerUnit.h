// MessageHandlerUnit: the contract between the request server and the handlers.
//
// For every accepted connection the server asks the current interface mode's
// factory for a fresh handler, reads one request up to its NUL byte, decodes it
// with DecodeUtf8 and calls HandleMessage once. The handler writes at most one
// reply itself through the connection, then the server frees it and closes the
// connection. An exception escaping HandleMessage ends the connection with no
// reply and nothing logged.
#ifndef VELIO_SERVER_MESSAGEHANDLERUNIT_H_
#define VELIO_SERVER_MESSAGEHANDLERUNIT_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The main window's activity memo, as handlers see it: a reference they keep
// but never write to. Opaque to the core.
class TMemo;

// One accepted connection, as a handler sees it.
class TConnection {
 public:
  virtual ~TConnection() = default;
  // Sends all bytes, in blocks of up to 32768 bytes. Raises an exception when
  // the peer has gone or the connection has been closed.
  virtual void WriteBytes(std::string_view bytes) = 0;
};

// A request handler; one instance serves one connection on its own thread.
class TMessageHandler {
 public:
  virtual ~TMessageHandler() = default;
  // Carries out the request and writes at most one reply to connection.
  virtual void HandleMessage(TConnection& connection, const std::u16string& request) = 0;
};

using THandlerFactory = std::function<std::unique_ptr<TMessageHandler>(TMemo* memo)>;

// Registers the handler factory of an interface mode (1, 2 or 3). Modes register
// during start-up, before the server is activated.
void RegisterHandlerFactory(int mode, THandlerFactory factory);

// A new handler for mode, or null when the mode has no factory.
std::unique_ptr<TMessageHandler> CreateMessageHandler(int mode, TMemo* memo);

// Writes the reply framing: EncodeUtf8(reply) and one NUL byte, in one write.
// Any error while writing is caught and ignored, as every handler does.
void SendReplyText(TConnection& connection, const std::u16string& reply);

#endif  // VELIO_SERVER_MESSAGEHANDLERUNIT_H_
