#include "tools/cli/vcCliCommand.h"

#include <filesystem>
#include <memory>

namespace {

// CLI11's layout, with the usage line first (in lower case, as the rest of the program's
// texts) and what the command does under it.
class HelpFormat : public CLI::Formatter {
 public:
  HelpFormat(std::string usage, std::string about)
      : usage_(std::move(usage)), about_(std::move(about)) {}
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    std::string out = "usage: " + usage_ + "\n";
    if (!about_.empty()) out += about_ + "\n";
    out += make_positionals(app) + make_groups(app, mode) + make_subcommands(app, mode);
    const std::string footer = make_footer(app);
    if (!footer.empty()) out += "\n" + footer;
    return out.back() == '\n' ? out : out + "\n";
  }

 private:
  std::string usage_, about_;
};

}  // namespace

void vfCliHelpFormat(CLI::App& app, const std::string& usage, const std::string& about) {
  auto f = std::make_shared<HelpFormat>(usage, about);
  f->column_width(26);
  app.formatter(f);
}

double vfMsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

CLI::Validator vfCliNotEmpty(const std::string& what) {
  return CLI::Validator(
      [what](std::string& value) { return value.empty() ? "expected " + what : std::string(); }, "",
      "not empty");
}

void vfMakeFolder(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir))
    throw vcCliUsage(dir + ": cannot create the folder");
}
