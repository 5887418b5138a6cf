// VerboseUnit: the reasons behind what the server does, for --verbose.
//
// Off by default. When an entry turns it on (SetVerboseSink), the request
// server, the handlers and the devices say here why a request ended without a
// reply, what status the card reader answered for a failed card operation and
// which connections the allow list refused: one line each, in UTF-8, given to
// the sink (the entries' sink writes it to stderr). Nothing said here reaches
// the daily log, a reply or the memo.
//
// A request's lines start with its peer's address: the server sets it for the
// thread that serves the request (TVerboseRequest), and VerboseLine adds it.
//
// Thread-safe: lines from several threads are handed to the sink one at a
// time, each whole.
#ifndef VELIO_SERVER_VERBOSEUNIT_H_
#define VELIO_SERVER_VERBOSEUNIT_H_

#include <functional>
#include <string>

using TVerboseSink = std::function<void(const std::string& line)>;

// Installs the sink that receives every line (an empty function turns the
// output off). REQUIRES: no other thread is saying anything yet.
void SetVerboseSink(TVerboseSink sink);
// The sink that writes each line and a line end to stderr.
TVerboseSink StderrVerboseSink();

// True when a sink is installed; callers test it before building a line.
bool Verbose();

// Hands "peer: " + utf8 to the sink (just utf8 outside a request); does
// nothing when off.
void VerboseLine(const std::string& utf8);

// While it lives, the calling thread serves the request of peer: VerboseLine
// names it, and NoteNoReply collects the reason for a missing reply.
class TVerboseRequest {
 public:
  explicit TVerboseRequest(const std::string& peer);
  ~TVerboseRequest();
  TVerboseRequest(const TVerboseRequest&) = delete;
  TVerboseRequest& operator=(const TVerboseRequest&) = delete;

  // The reason noted by NoteNoReply during this request, or empty text.
  const std::string& NoReplyReason() const;
};

// A handler that ends a request on purpose without a reply (an unknown
// request type) says why here; the server reports it. No effect outside a
// TVerboseRequest.
void NoteNoReply(const std::string& utf8);

#endif  // VELIO_SERVER_VERBOSEUNIT_H_
