#include "tools/teach/vcTeachServer.h"

#include <httplib.h>

#include <cstdio>
#include <mutex>
#include <random>

#include "platform/core/vcException.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliText.h"
#include "tools/common/vcImageFile.h"
#include "tools/teach/vcTeachAssets.h"

namespace {

using nlohmann::json;

const char kHost[] = "127.0.0.1";

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

}  // namespace

struct vcTeachServer::Impl {
  vcTeachSession& session;
  httplib::Server server;
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
        vcPelBuffer<unsigned char> upload;
        std::string name = req.has_file("image") ? req.get_file_value("image").content : "";
        if (req.has_file("upload")) {
          const auto& f = req.get_file_value("upload");
          name = f.filename.empty() ? "dropped image" : f.filename;
          upload = vfDecodeImage(reinterpret_cast<const std::uint8_t*>(f.content.data()),
                                 f.content.size(), name);
        }
        reply(res, 200, session.tryImage(requestOf(req), name, upload));
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
      const std::string length = req.get_header_value("Content-Length");
      if (res.status == 413)
        refuse(res, 413,
               "the request is " + (length.empty() ? "" : length + " bytes, ") + "more than the " +
                   std::to_string(kVcTeachMaxRequestBytes) +
                   " bytes the teach server takes; put a larger image in a folder the session "
                   "serves and pick it from the list");
      else if (res.status == 404)
        refuse(res, 404, req.path + ": no such page");
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

  // Host and token checks; the page's own files need neither (they hold nothing of the
  // session), so a refused page can still say why.
  bool admit(const httplib::Request& req, httplib::Response& res) {
    const std::string host = req.get_header_value("Host");
    const std::string p = ":" + std::to_string(port);
    if (host != kHost + p && host != "localhost" + p) {
      refuse(res, 403, "this server answers only requests for " + std::string(kHost) + p);
      return false;
    }
    const bool page = req.path == "/" || req.path == "/index.html";
    if (page && req.get_param_value("token") == token) {
      // SameSite=Strict: another site's page cannot make the browser send it.
      res.set_header("Set-Cookie", cookie() + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
      return true;
    }
    if (req.path.rfind("/api/", 0) != 0) return true;
    if (cookieToken(req, cookie()) != token && req.get_header_value("X-Teach-Token") != token) {
      refuse(res, 403,
             "the request lacks this session's token: open the address flexalign teach printed");
      return false;
    }
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
  const int got = port == 0 ? impl_->server.bind_to_any_port(kHost)
                            : (impl_->server.bind_to_port(kHost, port) ? port : -1);
  if (got <= 0)
    throw vcCliUsage("cannot listen on " + std::string(kHost) + ":" + std::to_string(port));
  impl_->port = got;
  return got;
}

std::string vcTeachServer::address() const {
  return "http://" + std::string(kHost) + ":" + std::to_string(impl_->port) +
         "/?token=" + impl_->token;
}

void vcTeachServer::serve() { impl_->server.listen_after_bind(); }

void vcTeachServer::stop() { impl_->server.stop(); }
