// FakeConnectionSupport: a connection for driving a request handler directly,
// without a server: it keeps the bytes the handler writes, or fails every
// write as a connection whose peer has gone.
#ifndef VELIO_TESTS_SUPPORT_FAKECONNECTIONSUPPORT_H_
#define VELIO_TESTS_SUPPORT_FAKECONNECTIONSUPPORT_H_

#include <string>
#include <string_view>

#include "platform/ErrorsUnit.h"
#include "server/MessageHandlerUnit.h"

namespace velio_test {

// One per handler call or thread (not locked).
class TFakeConnection : public TConnection {
 public:
  void WriteBytes(std::string_view bytes) override {
    ++writes;
    if (fail) throw ESocketError("Connection closed gracefully.");
    data.append(bytes);
  }
  std::string data;  // every byte written, in order
  int writes = 0;    // WriteBytes calls, failed ones too
  bool fail = false;
};

}  // namespace velio_test

#endif  // VELIO_TESTS_SUPPORT_FAKECONNECTIONSUPPORT_H_
