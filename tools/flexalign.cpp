// The flexalign command: a demo on built-in sample data, and train / run / info on a user's
// own part description, pattern files and images. Each command is a file of tools/cli/.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliText.h"

namespace {

const vcCliCommand kCommands[] = {
    {"demo", "run the demo on built-in sample data (the default)", vfDemoCommand},
    {"train", "train a pattern from a part description", vfTrainCommand},
    {"run", "find the part in images", vfRunCommand},
    {"info", "show what a pattern holds", vfInfoCommand},
    {"preview", "draw what a part description describes over its training image", vfPreviewCommand},
    {"inspect", "compare found parts with good ones after the flex is undone", vfInspectCommand},
    {"teach", "describe a part in the browser: draw, check, try and save", vfTeachCommand},
};

// One line on standard error, whatever the text holds.
int badInput(const std::string& text) {
  std::fprintf(stderr, "flexalign: %s\n", vfPrintable(text).c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("", "flexalign");
  vfCliHelpFormat(app, "flexalign [COMMAND] [options]",
                  "  Finds a part made of pieces that may move a little against each other.");
  app.footer(
      "Each command takes --help. Exit status: 0 all found, 1 a part was not found, 2 bad input.");
  app.require_subcommand(0, 1);
  std::vector<std::pair<CLI::App*, vcCliRunner>> commands;
  for (const vcCliCommand& c : kCommands) {
    CLI::App* sub = app.add_subcommand(c.name, c.summary);
    commands.emplace_back(sub, c.add(*sub));
  }
  // Plain `flexalign` and `flexalign --out DIR` and friends run the demo.
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool help = !args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help");
  if (args.empty() || (!help && args[0].size() > 1 && args[0][0] == '-'))
    args.insert(args.begin(), "demo");
  if (!args.empty() && args[0] == "help") args[0] = "--help";
  std::reverse(args.begin(), args.end());
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& e) {
    return badInput(e.what());
  }
  try {
    for (auto& [sub, runner] : commands)
      if (sub->parsed()) return runner();
    return badInput("unknown command " + (args.empty() ? "" : args.back()) +
                    " (try flexalign --help)");
  } catch (const std::exception& e) {
    // Library errors without a text still say what kind they are.
    return badInput(vfErrorText(e));
  }
}
