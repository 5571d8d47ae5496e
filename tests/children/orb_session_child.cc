// Test helper: connects one local session to a database file and reports
// the result on stdout, then holds the connection until its stdin closes
// (or it is killed).
//
//   orb_session_child <path> <single|multi|exclusive>
//
// Output: "connected <session id> <read-only 0|1>" or "error <code>", then
// "ready".

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/session/local_session.h"
#include "tests/support/child_io.h"

namespace {

using orb::test::Say;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s path single|multi|exclusive\n", argv[0]);
    return 2;
  }
  orb::TORBLocalSession session;
  session.FDatabaseFileName = orb::PathToWide(argv[1]);
  session.FMultiUser = std::strcmp(argv[2], "multi") == 0;
  session.FExclusive = std::strcmp(argv[2], "exclusive") == 0;
  try {
    session.SetConnected(true);
    Say("connected " + std::to_string(session.GetSessionID()) + " " + (session.FReadOnly ? "1" : "0"));
  } catch (const orb::EORBException& e) {
    Say("error " + std::to_string(e.NativeError()));
  }
  Say("ready");
  char c;
  while (read(STDIN_FILENO, &c, 1) > 0) {
  }
  return 0;
}
