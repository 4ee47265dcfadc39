// The program run by a Swiss German user (language 0x0807), whose own
// library (KestrinPropertiesDES.dll) does not exist: the German library
// beside the program, the fallback of the row, gives the dialogs, whichever
// folder the program was started in. Wine takes a program's user language
// from the locale variables of its Unix environment, which this test and the
// program it starts get from ctest.
#include <windows.h>

#include <gtest/gtest.h>

#include "running_properties.h"
#include "scratch_folder.h"

namespace props {
namespace {

TEST(PropertiesSwissUserTest, NoDesLibrarySoTheGermanOneBesideTheProgramFromAnyFolder) {
  ASSERT_EQ(0x0807, GetUserDefaultLangID()) << "the test runs with LC_ALL=de_CH.UTF-8";
  StandInManager agent;
  // A folder with no library in it: the program's current one, as the
  // Control Panel's own folder is for a program it starts.
  const ScratchFolder elsewhere("kestrin-props-elsewhere");
  for (const std::string& folder : {std::string(), elsewhere.path()}) {
    SCOPED_TRACE(folder.empty() ? "started in its own folder" : "started in " + folder);
    RunningProperties program(folder);
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(nullptr, dialog);
    ExpectGermanDialog(dialog);
    Click(dialog, IDOK);
    EXPECT_EQ(0u, program.WaitForExit());
  }
}

}  // namespace
}  // namespace props
