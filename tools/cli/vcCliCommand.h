// The commands of the flexalign program. Each command lives in its own file: it adds its
// arguments and options to the CLI11 sub-command it is given and returns the function that
// runs it once the command line has been parsed. A new command is one more file and one more
// line in kCommands (tools/flexalign.cpp).
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

// Bad input found by a command: printed on one line, exit status 2.
struct vcCliUsage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Runs the parsed command and returns the exit status (0 all found, 1 a part not found).
using vcCliRunner = std::function<int()>;

struct vcCliCommand {
  const char* name;
  const char* summary;  // one line for `flexalign --help`
  vcCliRunner (*add)(CLI::App& command);
};

vcCliRunner vfDemoCommand(CLI::App& command);
vcCliRunner vfTrainCommand(CLI::App& command);
vcCliRunner vfRunCommand(CLI::App& command);
vcCliRunner vfInfoCommand(CLI::App& command);
vcCliRunner vfPreviewCommand(CLI::App& command);
vcCliRunner vfInspectCommand(CLI::App& command);
vcCliRunner vfTeachCommand(CLI::App& command);  // tools/teach/teach.cpp

// Help texts start with `usage` (in place of CLI11's generated line) and `about`; the command's
// own description stays its one-line summary in `flexalign --help`.
void vfCliHelpFormat(CLI::App& app, const std::string& usage, const std::string& about);

double vfMsSince(std::chrono::steady_clock::time_point t0);
// Refuses an option's empty value ("expected <what>"): an empty --overlay "" must not
// quietly mean no overlay.
CLI::Validator vfCliNotEmpty(const std::string& what);
// Creates the folder (and its parents); vcCliUsage when it cannot.
void vfMakeFolder(const std::string& dir);
