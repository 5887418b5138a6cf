// VerboseUnit: one sink under a lock, and the request context in thread-local
// storage.
#include "server/VerboseUnit.h"

#include <atomic>
#include <iostream>
#include <mutex>

namespace {

std::mutex gSinkLock;
TVerboseSink gSink;  // guarded by gSinkLock
std::atomic<bool> gOn{false};

struct TContext {
  bool active = false;
  std::string peer;
  std::string reason;
};
thread_local TContext tContext;

}  // namespace

void SetVerboseSink(TVerboseSink sink) {
  std::lock_guard<std::mutex> lock(gSinkLock);
  gOn.store(static_cast<bool>(sink));
  gSink = std::move(sink);
}

TVerboseSink StderrVerboseSink() {
  return [](const std::string& line) { std::cerr << line << std::endl; };
}

bool Verbose() {
  return gOn.load(std::memory_order_relaxed);
}

void VerboseLine(const std::string& utf8) {
  if (!Verbose()) return;
  const std::string line = tContext.active ? tContext.peer + ": " + utf8 : utf8;
  std::lock_guard<std::mutex> lock(gSinkLock);
  if (gSink) gSink(line);
}

TVerboseRequest::TVerboseRequest(const std::string& peer) {
  tContext.active = true;
  tContext.peer = peer;
  tContext.reason.clear();
}

TVerboseRequest::~TVerboseRequest() {
  tContext.active = false;
  tContext.peer.clear();
  tContext.reason.clear();
}

const std::string& TVerboseRequest::NoReplyReason() const {
  return tContext.reason;
}

void NoteNoReply(const std::string& utf8) {
  if (tContext.active) tContext.reason = utf8;
}
