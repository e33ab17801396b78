// `flexalign teach TRAIN_IMAGE [DESCRIPTION]`: teaches a part in the browser. Starts the teach
// server on 127.0.0.1 and prints the address to open; the page draws the pieces over the
// training image, shows what each will match, tries the description on images and saves it
// for `flexalign train`, and trains and tries a golden model of the part. Runs until
// interrupted (Ctrl-C).
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliText.h"
#include "tools/teach/vcTeachServer.h"

namespace {

struct Options {
  std::string trainImage, description;
  std::vector<std::string> images;
  int port = 0;
};

int teach(const Options& o) {
  vcTeachSession session(o.trainImage, o.description, o.images);
  vcTeachServer server(session);
  // Ctrl-C and SIGTERM stop the server cleanly: every thread blocks them, one waits for them.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  const int port = server.bind(o.port);
  // Each signal stops the server (one that comes before it listens is followed by another).
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    for (int sig = 0; !done;) {
      sigwait(&stops, &sig);
      if (!done) server.stop();
    }
  });
  std::printf("flexalign teach: %s %s; open %s in a browser (Ctrl-C stops)\n",
              std::filesystem::exists(session.descriptionPath()) ? "editing" : "new description",
              vfPrintable(session.descriptionPath()).c_str(), server.address().c_str());
  std::string folders;
  for (const auto& f : session.folders().folders())
    folders += (folders.empty() ? "" : ", ") + vfPrintable(f.string());
  std::printf("flexalign teach: listening on 127.0.0.1:%d only, serving %s\n", port,
              folders.c_str());
  std::fflush(stdout);
  server.serve();
  // The waiter is woken and joined before the server it stops goes away.
  done = true;
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}

}  // namespace

vcCliRunner vfTeachCommand(CLI::App& app) {
  vfCliHelpFormat(
      app, "flexalign teach TRAIN_IMAGE [DESCRIPTION] [options]",
      "  Starts a local web page for describing a part on its training image: draw the\n"
      "  pieces, see the edges or template each will match, try the description on images\n"
      "  and save it for `flexalign train`; train a golden model from good images and\n"
      "  inspect images with it. DESCRIPTION is opened when it exists and written\n"
      "  by Save (default: <TRAIN_IMAGE stem>-part.json beside the image). The server listens\n"
      "  on 127.0.0.1 only and serves only the training image's folder, the description's,\n"
      "  the --images folders and those of the masks a description names. See the README,\n"
      "  \"Teaching a part in the browser\".");
  auto o = std::make_shared<Options>();
  app.add_option("TRAIN_IMAGE", o->trainImage, "the training image")->required();
  app.add_option("DESCRIPTION", o->description, "the part description (JSON) to edit or create");
  // One folder per --images, so a folder given first does not swallow TRAIN_IMAGE.
  app.add_option("--images", o->images,
                 "a folder of images to try the description on (repeat it for more)")
      ->type_name("DIR")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--port", o->port, "the port to listen on (default: a free one)")
      ->type_name("N")
      ->check(CLI::Range(0, 65535).description(""));
  return [o] { return teach(*o); };
}
