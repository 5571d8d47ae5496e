// orbdb: inspect and maintain database files from the command line.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "engine/platform/version.h"
#include "engine/expr/sql_engine_init.h"
#include "tools/orbdb/command.h"

namespace orbdb {

namespace {
std::vector<const Command*>& Registry() {
  static std::vector<const Command*> commands;
  return commands;
}
}  // namespace

Command::Command(std::string n, std::string u, std::string s, Handler h)
    : name(std::move(n)), usage(std::move(u)), summary(std::move(s)), handler(std::move(h)) {
  Registry().push_back(this);
}

const std::vector<const Command*>& Commands() { return Registry(); }

}  // namespace orbdb

namespace {

void PrintHelp(std::ostream& out) {
  out << "usage: orbdb COMMAND [ARGS...]\n"
         "       orbdb --help | --version\n\n"
         "Commands:\n";
  for (const orbdb::Command* c : orbdb::Commands()) {
    out << "  " << c->name << " " << c->usage << "\n      " << c->summary << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  orb::InitSqlEngine();
  if (argc < 2) {
    PrintHelp(std::cerr);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(std::cout);
    return 0;
  }
  if (name == "--version") {
    std::cout << "orbdb " << ORB_VERSION_STRING << "\n";
    return 0;
  }
  for (const orbdb::Command* c : orbdb::Commands()) {
    if (c->name != name) continue;
    orbdb::Args args(argv + 2, argv + argc);
    try {
      return c->handler(args);
    } catch (const orbdb::UsageError& e) {
      std::cerr << "orbdb " << c->name << ": " << e.message << "\nusage: orbdb " << c->name << " " << c->usage << "\n";
      return 2;
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  std::cerr << "orbdb: unknown command '" << name << "' (see orbdb --help)\n";
  return 2;
}
