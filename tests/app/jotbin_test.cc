// The shipped program and its start-up until the storage components land:
// it refuses honestly and still shows its window.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/form1.h"
#include "app/unconnected_storage.h"
#include "components/prompts.h"
#include "engine/platform/dataset_error.h"
#include "engine/platform/file_version.h"
#include "engine/platform/version.h"
#include "tests/support/disk_scratch.h"
#include "tests/support/scripted_prompts.h"

namespace orb {
namespace {

using Asked = std::vector<std::string>;

TEST(UnconnectedStorageTest, StartUpSaysWhatIsMissingAndTheWindowStays) {
  orb::testing::DiskScratch scratch;
  const std::string path = scratch.File("JBdata.ORB");
  struct Case {
    bool file_there;
    std::string message;
  };
  for (const Case& c : {Case{false, "Database file '" + path + "' does not exist"},
                        Case{true, kSStorageNotAvailable}}) {
    SCOPED_TRACE(c.message);
    if (c.file_there) std::ofstream(path) << "x";
    orb::testing::TScriptedPrompts prompts;
    TORBPromptsScope scope(prompts);
    TJotbinUnconnectedStorage storage;
    TForm1 form(storage);
    form.SetExecutableDir(scratch.File(""));
    int terminated = 0;
    form.SetOnTerminate([&terminated] { ++terminated; });
    form.FormCreate();
    form.show();
    EXPECT_EQ(prompts.Asked(), Asked{"error: " + c.message});
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.DBEdit1()->isEnabled());
    form.Button(6)->click();
    EXPECT_EQ(terminated, 1);
  }
}

// jotbin shows its window (saved as a screenshot) and ends with status 0;
// the executable carries the build's version record.
TEST(JotbinProgramTest, ShowsItsWindowAndCarriesTheVersion) {
  orb::testing::DiskScratch scratch;
  const std::string shot = scratch.File("shot.png");
  const std::string command = "QT_QPA_PLATFORM=offscreen ORB_SCREENSHOT='" + shot +
                              "' ORB_SCREENSHOT_QUIT=1 ORB_SCREENSHOT_DELAY_MS=100 '" ORB_JOTBIN_PATH
                              "' 2>/dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GT(std::filesystem::file_size(shot), 0u);

  TFileVersion version;
  ASSERT_TRUE(ReadFileVersion(ORB_JOTBIN_PATH, &version).Ok());
  EXPECT_EQ(version, (TFileVersion{ORB_VERSION_MAJOR, ORB_VERSION_MINOR, ORB_VERSION_PATCH, ORB_VERSION_BUILD}));
}

}  // namespace
}  // namespace orb
