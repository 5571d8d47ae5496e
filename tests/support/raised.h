#pragma once

// What an engine call raises, for tests that check error codes and texts.

#include <cstdint>
#include <string>
#include <utility>

#include "engine/base/orb_exception.h"

namespace orb::test {

// The native code of the EORBException that `fn` raises, or 0 when it
// raises none.
template <typename Fn>
int32_t RaisedCode(Fn&& fn) {
  try {
    std::forward<Fn>(fn)();
  } catch (const EORBException& e) {
    return e.NativeError();
  }
  return 0;
}

// The message of the EORBException that `fn` raises, or "" when it raises
// none.
template <typename Fn>
std::string RaisedMessage(Fn&& fn) {
  try {
    std::forward<Fn>(fn)();
  } catch (const EORBException& e) {
    return e.Message();
  }
  return {};
}

}  // namespace orb::test
