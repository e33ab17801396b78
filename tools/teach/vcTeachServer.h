// The teach page's web server (cpp-httplib): listens on 127.0.0.1 only, serves the page's
// files built into the program, and answers the page's requests through the session, one at
// a time. What it takes and gives:
//   GET  /, /<page file>       the page (no secrets: the program's own files)
//   GET  /api/session          where the session starts (vcTeachSession::start)
//   GET  /api/image?name=N     an image of the served folders, as PNG (X-Teach-Shrink: its
//                              reduction)
//   POST /api/pieces           multipart: "description" (JSON text), "mask" files named as
//   POST /api/try              the description names them; /api/try also "image" (a name) or
//   POST /api/save             an "upload" file
//   POST /api/golden           the golden model: the description and masks as above, and a
//                              "good" field (an image's name) per good image
//   POST /api/inspect          "image" (a name) or an "upload" file, inspected with it
//   POST /api/golden/save      writes it beside the description (no body)
// Every /api/ request must carry the session's token: the address printed holds it, and the
// page keeps it in a same-site cookie, so neither another local user nor a web page the
// browser shows can read or save through the server; requests naming another host (DNS
// rebinding) or coming from a page of another origin (another port of this machine is the
// same site, and gets the cookie) are refused too, and so are compressed bodies. A request
// is bounded in bytes and time as it arrives (vcTeachConnection.h). Errors are JSON
// {"error": text}: 400 not what the page sends, 403 refused (token, host, origin, a path
// outside the folders), 404 no such file, 408 too slow, 413 too large, 415 compressed, 422
// the description, an image or a golden model request refused (the command's own message).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/teach/vcTeachSession.h"

// The largest request the server reads (a dropped image, the description and its masks).
constexpr std::uint64_t kVcTeachMaxRequestBytes = 64u << 20;

class vcTeachServer {
 public:
  explicit vcTeachServer(vcTeachSession& session);
  ~vcTeachServer();
  vcTeachServer(const vcTeachServer&) = delete;
  vcTeachServer& operator=(const vcTeachServer&) = delete;

  // Binds 127.0.0.1:port (0: a free port); vcCliUsage when it cannot. Returns the port.
  int bind(int port);
  // The address to open, with the token.
  std::string address() const;
  // Serves until stop() is called (from another thread).
  void serve();
  void stop();

  // One request given as its bytes, answered without a socket (as if on the bound port, 0
  // when unbound); the answer's bytes. For tests and fuzzing.
  std::string answer(std::string request);
  const std::string& token() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
