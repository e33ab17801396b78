#include "tools/teach/vcTeachServer.h"

#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/core/vcException.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcImageFile.h"
#include "tools/teach/vcTeachAssets.h"
#include "tools/teach/vcTeachConnection.h"

namespace {

using nlohmann::json;

const char kHost[] = "127.0.0.1";
// Threads serving connections: more than a browser opens to one server (6), so a page's own
// requests find one while others wait for the session.
constexpr std::size_t kThreads = 16;
// What a request may hold besides the largest body: its line and headers.
constexpr std::uint64_t kHeaderBytes = 1u << 20;
// How long what a client still sends after its answer is read and dropped (while it comes
// no more than 200 ms apart).
constexpr auto kDrainTime = std::chrono::seconds(3);

thread_local vcTeachClock::time_point tAccepted;

// The pool serving connections; each task knows when its connection was accepted, which is
// when its time to send the request starts (a connection waiting for a thread has sent it,
// or is past its time).
class StampedPool : public httplib::ThreadPool {
 public:
  explicit StampedPool(std::size_t n) : httplib::ThreadPool(n) {}
  void enqueue(std::function<void()> fn) override {
    httplib::ThreadPool::enqueue([fn = std::move(fn), at = vcTeachClock::now()] {
      tAccepted = at;
      fn();
    });
  }
};

// cpp-httplib's server, serving each connection through a vcTeachSocketStream (one request,
// bounded in time and bytes) and listening without SO_REUSEPORT: with it a second server
// binds the same port and the kernel splits the connections between the two.
class Transport : public httplib::Server {
 public:
  Transport() {
    new_task_queue = [] { return new StampedPool(kThreads); };
    set_socket_options([](socket_t sock) {
      int yes = 1;  // a port left in TIME_WAIT may be taken again, a listening one not
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
  }

  std::string answer(std::string request) {
    vcTeachMemoryStream strm(std::move(request), kVcTeachMaxRequestBytes + kHeaderBytes);
    bool closed = false;
    process_request(strm, true, closed, [](httplib::Request&) {});
    return strm.answer();
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    bool late = false;
    {
      vcTeachSocketStream strm(sock, tAccepted, kVcTeachMaxRequestBytes + kHeaderBytes);
      bool closed = false;
      process_request(strm, true, closed, [](httplib::Request&) {});
      late = strm.late();
    }
    // A client still sending at full speed (a body refused unread, or cut at the limit)
    // would take the close for a reset and lose the answer: what it sends for a few seconds
    // more is read and dropped first. A slow one is not waited for.
    shutdown(sock, SHUT_WR);
    const auto until = vcTeachClock::now() + kDrainTime;
    char sink[65536];
    while (!late) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - vcTeachClock::now())
              .count();
      pollfd p{sock, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, int(std::min<long long>(left, 200))) <= 0 ||
          recv(sock, sink, sizeof sink, 0) <= 0)
        break;
    }
    close(sock);
    return true;
  }
};

std::string newToken() {
  std::random_device rd;
  std::string t;
  for (int i = 0; i < 4; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", unsigned(rd()));
    t += buf;
  }
  return t;
}

void reply(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& text) {
  reply(res, status, {{"error", text}});
}

// The token from the cookie the page got with the page itself. Cookies do not tell ports
// apart: each session's has a name of its own, so two sessions in one browser both work.
std::string cookieToken(const httplib::Request& req, const std::string& name) {
  const std::string c = req.get_header_value("Cookie");
  const std::string key = name + "=";
  for (std::size_t at = c.find(key); at != std::string::npos; at = c.find(key, at + 1))
    if (at == 0 || c[at - 1] == ' ' || c[at - 1] == ';')
      return c.substr(at + key.size(), c.find(';', at) - at - key.size());
  return "";
}

// A request the page would never send: 400.
struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The request's description and painted masks.
vcTeachRequest requestOf(const httplib::Request& req) {
  if (!req.has_file("description"))
    throw BadRequest("expected a multipart form with the description's text");
  vcTeachRequest r;
  r.description = req.get_file_value("description").content;
  const auto masks = req.files.equal_range("mask");
  for (auto it = masks.first; it != masks.second; ++it)
    r.masks[it->second.filename] = it->second.content;
  return r;
}

// The image a request names ("image", a file of the folders: unbound, `name` set) or brings
// ("upload": decoded, `name` its file name).
vcPelBuffer<unsigned char> imageOf(const httplib::Request& req, std::string& name) {
  name = req.has_file("image") ? req.get_file_value("image").content : "";
  if (!req.has_file("upload")) return {};
  const auto& f = req.get_file_value("upload");
  name = f.filename.empty() ? "dropped image" : f.filename;
  return vfDecodeImage(reinterpret_cast<const std::uint8_t*>(f.content.data()), f.content.size(),
                       name);
}

}  // namespace

struct vcTeachServer::Impl {
  vcTeachSession& session;
  Transport server;
  std::string token = newToken();
  int port = 0;
  std::mutex work;  // one request of the session at a time: training and runs are heavy

  explicit Impl(vcTeachSession& s) : session(s) {
    server.set_payload_max_length(kVcTeachMaxRequestBytes);
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      return admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                             : httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/api/session", [this](const httplib::Request&, httplib::Response& res) {
      guarded(res, [&] { reply(res, 200, session.start()); });
    });
    server.Get("/api/image", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        const vcTeachPicture p = session.picture(req.get_param_value("name"));
        res.set_header("X-Teach-Shrink", std::to_string(p.shrink));
        res.set_header("Cache-Control", "no-store");
        res.set_content(p.png, "image/png");
      });
    });
    server.Post("/api/pieces", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] { reply(res, 200, session.pieces(requestOf(req))); });
    });
    server.Post("/api/try", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        std::string name;
        const vcPelBuffer<unsigned char> upload = imageOf(req, name);
        reply(res, 200, session.tryImage(requestOf(req), name, upload));
      });
    });
    server.Post("/api/golden", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        std::vector<std::string> good;
        const auto picked = req.files.equal_range("good");
        for (auto it = picked.first; it != picked.second; ++it) good.push_back(it->second.content);
        reply(res, 200, session.trainGolden(requestOf(req), good));
      });
    });
    server.Post("/api/golden/save", [this](const httplib::Request&, httplib::Response& res) {
      guarded(res, [&] { reply(res, 200, session.saveGolden()); });
    });
    server.Post("/api/inspect", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] {
        std::string name;
        const vcPelBuffer<unsigned char> upload = imageOf(req, name);
        reply(res, 200, session.inspect(name, upload));
      });
    });
    server.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
      guarded(res, [&] { reply(res, 200, session.save(requestOf(req))); });
    });
    server.Get(R"(/[A-Za-z0-9_.-]*)", [](const httplib::Request& req, httplib::Response& res) {
      const vcTeachAsset* a = vfTeachAsset(req.path);
      if (!a) return refuse(res, 404, req.path + ": no such page");
      res.set_content(std::string(a->bytes), std::string(a->type).c_str());
    });
    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
      if (!res.body.empty()) return;
      const vcTeachStream* strm = vcTeachStream::current();
      const std::string length = req.get_header_value("Content-Length");
      if (res.status == 413 || (strm && strm->overLimit()))
        refuse(res, 413,
               "the request is " + (length.empty() ? "" : length + " bytes, ") + "more than the " +
                   std::to_string(kVcTeachMaxRequestBytes) +
                   " bytes the teach server takes; put a larger image in a folder the session "
                   "serves and pick it from the list");
      else if (strm && strm->late())
        refuse(res, 408,
               "the request did not arrive in time: the teach server waits " +
                   std::to_string(kVcTeachHeaderTime.count()) + " s for a request's headers and " +
                   std::to_string(kVcTeachBodyTime.count()) + " s for its body");
      else if (res.status == 404)
        refuse(res, 404, req.path + ": no such page");
      else if (res.status == 400 &&
               req.files.size() >= CPPHTTPLIB_MULTIPART_FORM_DATA_FILE_MAX_COUNT)
        refuse(res, 400,
               "the form has more than " +
                   std::to_string(CPPHTTPLIB_MULTIPART_FORM_DATA_FILE_MAX_COUNT) +
                   " parts; the page sends the description, an image and a mask a piece");
      else if (res.status == 400)
        refuse(res, 400,
               "a malformed request (its line, headers, chunks or form cannot be read); the "
               "teach page sends none such");
      else
        refuse(res, res.status,
               "the request was refused (HTTP " + std::to_string(res.status) + ")");
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
          try {
            std::rethrow_exception(ep);
          } catch (const std::exception& e) {
            refuse(res, 500, vfErrorText(e));
          } catch (...) {
            refuse(res, 500, "unexpected failure");
          }
        });
  }

  std::string cookie() const { return "flexalign-teach-" + std::to_string(port); }

  // The names this server is asked by: the address it printed, or localhost, with the port
  // (browsers leave the default port 80 out).
  bool ourHost(const std::string& host) const {
    const std::string p = ":" + std::to_string(port);
    for (const char* name : {kHost, "localhost"})
      if (host == name + p || (port == 80 && host == name)) return true;
    return false;
  }
  std::string ourOrigin() const {
    return "http://" + std::string(kHost) + ":" + std::to_string(port);
  }

  // Host, origin, encoding and token checks; the page's own files need no token (they hold
  // nothing of the session), so a refused page can still say why.
  bool admit(const httplib::Request& req, httplib::Response& res) {
    if (!ourHost(req.get_header_value("Host"))) {
      refuse(res, 403,
             "this server answers only requests for " + std::string(kHost) + ":" +
                 std::to_string(port));
      return false;
    }
    // cpp-httplib would inflate a compressed body past every limit before a handler saw it.
    const std::string encoding = req.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity") {
      refuse(res, 415,
             "a request body compressed with " + vfPrintable(encoding) +
                 " is refused: the teach page sends its bytes as they are");
      return false;
    }
    const bool api = req.path.rfind("/api/", 0) == 0;
    if (!api) {
      // Nothing but the API takes a body, and a client without the token sends none.
      const std::string length = req.get_header_value("Content-Length");
      if (req.has_header("Transfer-Encoding") || (!length.empty() && length != "0")) {
        refuse(res, 400, req.path + ": the page's files are fetched without a body");
        return false;
      }
      const bool page = req.path == "/" || req.path == "/index.html";
      if (page && req.get_param_value("token") == token)
        // SameSite=Strict: another site's page cannot make the browser send it.
        res.set_header("Set-Cookie",
                       cookie() + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
      return true;
    }
    // A request without a length or chunks has no body (RFC 9112); cpp-httplib would read
    // one until the connection closed.
    if (req.method == "POST" && !req.has_header("Content-Length") &&
        !req.has_header("Transfer-Encoding")) {
      refuse(res, 411,
             "a request with a body must give its length (Content-Length) or send it in chunks");
      return false;
    }
    // A page of another port of this machine is the same *site* as this server, so the
    // browser sends it the cookie: the API takes requests of the page's own origin only.
    const std::string origin = req.get_header_value("Origin");
    const std::string fetchSite = req.get_header_value("Sec-Fetch-Site");
    const bool ownOrigin =
        !req.has_header("Origin") ||
        ourHost(origin.substr(origin.rfind("http://", 0) == 0 ? 7 : origin.size()));
    if (!ownOrigin || (!fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none")) {
      refuse(res, 403,
             "a request from another page (" +
                 vfPrintable(!ownOrigin ? "Origin " + origin : "Sec-Fetch-Site " + fetchSite) +
                 ") is refused: only the page at " + ourOrigin() + " may use this session");
      return false;
    }
    if (cookieToken(req, cookie()) != token && req.get_header_value("X-Teach-Token") != token) {
      refuse(res, 403,
             "the request lacks this session's token: open the address flexalign teach printed");
      return false;
    }
    // Its body may take longer than its headers did.
    if (vcTeachStream* strm = vcTeachStream::current()) strm->admitted();
    return true;
  }

  // Runs one request of the session; its errors become the answer.
  template <class F>
  void guarded(httplib::Response& res, F&& f) {
    std::lock_guard<std::mutex> lock(work);
    try {
      f();
    } catch (const BadRequest& e) {
      refuse(res, 400, e.what());
    } catch (const vcTeachMissing& e) {
      refuse(res, 404, e.what());
    } catch (const vcTeachRefused& e) {
      refuse(res, 403, e.what());
    } catch (const std::exception& e) {
      // The description reader's, the image readers' and the library's messages.
      refuse(res, 422, vfErrorText(e));
    }
  }
};

vcTeachServer::vcTeachServer(vcTeachSession& session) : impl_(std::make_unique<Impl>(session)) {}

vcTeachServer::~vcTeachServer() = default;

int vcTeachServer::bind(int port) {
  errno = 0;
  const int got = port == 0 ? impl_->server.bind_to_any_port(kHost)
                            : (impl_->server.bind_to_port(kHost, port) ? port : -1);
  if (got <= 0)
    throw vcCliUsage("cannot listen on " + std::string(kHost) + ":" + std::to_string(port) +
                     (errno == EADDRINUSE ? " (the port is in use)"
                      : errno             ? std::string(" (") + std::strerror(errno) + ")"
                                          : ""));
  impl_->port = got;
  return got;
}

std::string vcTeachServer::address() const {
  return "http://" + std::string(kHost) + ":" + std::to_string(impl_->port) +
         "/?token=" + impl_->token;
}

std::string vcTeachServer::answer(std::string request) {
  return impl_->server.answer(std::move(request));
}

const std::string& vcTeachServer::token() const { return impl_->token; }

void vcTeachServer::serve() { impl_->server.listen_after_bind(); }

void vcTeachServer::stop() { impl_->server.stop(); }
