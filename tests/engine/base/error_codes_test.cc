#include "engine/base/error_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace orb {
namespace {

TEST(AddedErrorCodesTest, EachCodeIsListedOnceWithAMessage) {
  std::set<int32_t> seen;
  for (const TORBAddedErrorCode& entry : kAddedErrorCodes) {
    EXPECT_TRUE(seen.insert(entry.Code).second) << "code listed twice: " << entry.Code;
    EXPECT_FALSE(std::string(entry.Message).empty()) << entry.Code;
    EXPECT_GE(entry.Code, 10000) << entry.Code;
  }
}

}  // namespace
}  // namespace orb
