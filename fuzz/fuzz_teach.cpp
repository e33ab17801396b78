// The teach server's handling of one request given as its bytes, as any program on the
// machine could send them: the host, origin and token checks, the page's files, image names
// (paths), descriptions with their painted masks, dropped images (uploads) and saves, through
// the same handling as a connection's (vcTeachServer::answer). "{token}" in the input stands
// for the session's token, so that the fuzzer need not guess it. One session on a small part
// (a 64 x 48 training image, one image piece, a masked one) made once in a temporary folder
// serves every input; what a save writes there is undone after each. Only an answer may come
// out: an exception escaping, or an answer that is not HTTP, is a fault.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "tools/io/vcFileBytes.h"
#include "tools/io/vcImageFile.h"
#include "tools/teach/vcTeachServer.h"
#include "tools/testing/vcSampleImages.h"

namespace {

namespace fs = std::filesystem;

struct Served {
  fs::path dir;
  std::map<fs::path, std::string> files;  // as made, to undo what a request wrote
  std::unique_ptr<vcTeachSession> session;
  std::unique_ptr<vcTeachServer> server;

  Served() {
    char tmpl[] = "/tmp/fuzz_teach_XXXXXX";
    dir = mkdtemp(tmpl);
    vcSampleRender r;
    r.width = 64;
    r.height = 48;
    const vcPelBuffer<unsigned char> img =
        vfRenderSample(vfSampleAsymmetricPattern(),
                       vcXform<2>(vcMatrix<2>(0.3, 1, vcRadian(0.0), vcRadian(0.0)), {32, 24}), r);
    vfWritePng((dir / "train.png").string(), img);
    vfWritePng((dir / "run.png").string(), img);
    vcPelBuffer<unsigned char> mask(24, 20);
    for (long y = 0; y < 20; ++y)
      for (long x = 0; x < 24; ++x) mask.set(x, y, x < 12 ? 255 : 0);
    vfWritePng((dir / "half-mask.png").string(), mask);
    vfWriteFileBytes((dir / "part.json").string(),
                     std::string(R"({"trainImage": "train.png", "origin": [32, 24],
  "subModels": [{"name": "piece", "kind": "image", "region": [16, 12, 32, 24]},
                {"name": "half", "kind": "masked", "region": [20, 14, 24, 20],
                 "mask": "half-mask.png"}],
  "instances": [{"subModel": "piece"}, {"subModel": "half"}],
  "run": {"xyUncertainty": [8, 8], "angle": [-5, 5]}})"));
    for (const auto& e : fs::directory_iterator(dir))
      files[e.path()] =
          std::string(std::istreambuf_iterator<char>(std::ifstream(e.path()).rdbuf()), {});
    session = std::make_unique<vcTeachSession>(
        (dir / "train.png").string(), (dir / "part.json").string(), std::vector<std::string>());
    server = std::make_unique<vcTeachServer>(*session);
  }

  // Removes what a request wrote and puts back what it replaced.
  void undo() {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      if (!files.count(it->path())) fs::remove_all(it->path(), ec);
    for (const auto& [path, bytes] : files) {
      std::ifstream in(path, std::ios::binary);
      const std::string now(std::istreambuf_iterator<char>(in), {});
      if (now != bytes || fs::is_symlink(path)) vfWriteFileBytes(path.string(), bytes);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Served served;
  std::string request(reinterpret_cast<const char*>(data), size);
  const std::string placeholder = "{token}";
  for (auto at = request.find(placeholder); at != std::string::npos;
       at = request.find(placeholder, at + served.server->token().size()))
    request.replace(at, placeholder.size(), served.server->token());
  const std::string answer = served.server->answer(std::move(request));
  if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0) __builtin_trap();
  served.undo();
  return 0;
}
