#pragma once

// Subcommands of the orbdb tool. Each lives in its own source file, which
// defines a function adding a CLI11 subcommand (its options, positionals and
// callback) and registers it with a static CommandRegistration:
//
//   void AddInfoCommand(CLI::App& app) {
//     CLI::App* sub = app.add_subcommand("info", "print the database header");
//     auto options = std::make_shared<InfoOptions>();
//     sub->add_option("FILE", options->path)->required();
//     OnRun(sub, [options] { return RunInfo(*options); });
//   }
//   const CommandRegistration kInfo{"info", AddInfoCommand};
//
// A callback returns the exit status. Engine errors thrown out of it are
// printed on stderr and give exit status 1; command-line misuse (CLI11's
// parse errors, or UsageError thrown by the callback) gives status 2.

#include <functional>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

namespace orbdb {

using AddCommandFunction = void (*)(CLI::App& app);

// Registers the function adding subcommand `name` at static
// initialisation. Subcommands are added to the tool in name order, whatever
// the link order.
class CommandRegistration {
 public:
  CommandRegistration(std::string name, AddCommandFunction add);
};

// Adds every registered subcommand to `app`, sorted by name.
void AddRegisteredCommands(CLI::App& app);

// Runs `run` when `sub` is the selected subcommand; its result becomes the
// tool's exit status.
void OnRun(CLI::App* sub, std::function<int()> run);
// The exit status set by the last callback that ran (0 when none did).
int LastRunStatus();

// Command-line misuse found once the arguments are parsed (a combination of
// options that CLI11 cannot express).
class UsageError : public CLI::ParseError {
 public:
  explicit UsageError(const std::string& message)
      : CLI::ParseError("UsageError", message, CLI::ExitCodes::ValidationError) {}
};

}  // namespace orbdb
