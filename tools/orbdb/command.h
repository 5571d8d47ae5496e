#pragma once

// Subcommands of the orbdb tool. Each lives in its own source file and
// registers itself with a static OrbdbCommand object:
//
//   static orbdb::Command kInfo{"info", "FILE [--password TEXT]",
//                               "print the database header", RunInfo};
//
// A handler receives the arguments after the subcommand name and returns
// the exit status. Engine errors thrown out of a handler are printed on
// stderr and give exit status 1.

#include <functional>
#include <string>
#include <vector>

namespace orbdb {

using Args = std::vector<std::string>;
using Handler = std::function<int(const Args&)>;

struct Command {
  Command(std::string name, std::string usage, std::string summary, Handler handler);
  std::string name;
  std::string usage;
  std::string summary;
  Handler handler;
};

// Raised by handlers for bad command-line use; printed with the usage line.
struct UsageError {
  std::string message;
};

const std::vector<const Command*>& Commands();

}  // namespace orbdb
