// orbdb: inspect and maintain database files from the command line.

#include <algorithm>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/expr/sql_engine_init.h"
#include "engine/platform/version.h"
#include "tools/orbdb/command.h"

namespace orbdb {

namespace {

struct Registered {
  std::string name;
  AddCommandFunction add;
};

std::vector<Registered>& Registry() {
  static std::vector<Registered> commands;
  return commands;
}

int& RunStatus() {
  static int status = 0;
  return status;
}

}  // namespace

CommandRegistration::CommandRegistration(std::string name, AddCommandFunction add) {
  Registry().push_back({std::move(name), add});
}

void AddRegisteredCommands(CLI::App& app) {
  std::vector<Registered> sorted = Registry();
  std::sort(sorted.begin(), sorted.end(), [](const Registered& a, const Registered& b) { return a.name < b.name; });
  for (const Registered& r : sorted) r.add(app);
}

void OnRun(CLI::App* sub, std::function<int()> run) {
  sub->callback([run = std::move(run)] { RunStatus() = run(); });
}

int LastRunStatus() { return RunStatus(); }

}  // namespace orbdb

namespace {

// CLI11's help layout, with the tool's own usage lines at the top level.
class OrbdbFormatter : public CLI::Formatter {
 public:
  OrbdbFormatter() { label("Usage", "usage"); }
  std::string make_usage(const CLI::App* app, std::string name) const override {
    if (app->get_parent() == nullptr) return "usage: orbdb COMMAND [ARGS...]\n       orbdb --help | --version\n";
    return CLI::Formatter::make_usage(app, std::move(name));
  }
};

// "orbdb blob pack": the subcommands the arguments selected before parsing
// stopped.
std::string SelectedPath(const CLI::App& app) {
  std::string path = app.get_name();
  const CLI::App* current = &app;
  while (!current->get_subcommands().empty()) {
    current = current->get_subcommands().front();
    path += " " + current->get_name();
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  orb::InitSqlEngine();
  CLI::App app{"Inspect and maintain database files.", "orbdb"};
  app.formatter(std::make_shared<OrbdbFormatter>());
  app.set_version_flag("--version", std::string("orbdb ") + ORB_VERSION_STRING, "print the version and exit");
  app.set_help_flag("-h,--help", "print this help and exit");
  app.require_subcommand(1);
  orbdb::AddRegisteredCommands(app);

  if (argc < 2) {
    std::cerr << app.help();
    return 2;
  }
  if (std::string(argv[1]) == "help") {
    std::cout << app.help();
    return 0;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help or --version
  } catch (const CLI::ParseError& e) {
    const std::string first = argv[1];
    if (app.get_subcommands().empty()) {
      std::cerr << "orbdb: unknown " << (first.starts_with("-") ? "option" : "command") << " '" << first
                << "' (see orbdb --help)\n";
    } else {
      const std::string path = SelectedPath(app);
      std::cerr << path << ": " << e.what() << "\n(see " << path << " --help)\n";
    }
    return 2;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return orbdb::LastRunStatus();
}
