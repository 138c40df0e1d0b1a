// The window tests run on the offscreen platform with one 1280 x 1024
// screen, so that full screen has known sizes.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/window/live_form.h"
#include "tests/support/test_support.h"

int main(int argc, char **argv) {
  const char *platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) == "offscreen") {
    const std::string config = std::string(ORVAN_BIN_DIR) + "/tests/app/gui/offscreen_screen.json";
    // Written aside and renamed into place: ctest runs several of these
    // programs at once, and a half-written file stops Qt at start-up.
    const std::string aside = config + "." + std::to_string(getpid());
    std::ofstream(aside) << R"({"screens": [{"name": "Screen0", "x": 0, "y": 0,)"
                            R"( "width": 1280, "height": 1024, "logicalDpi": 96,)"
                            R"( "logicalBaseDpi": 96, "dpr": 1}]})";
    std::rename(aside.c_str(), config.c_str());
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
  }
  orvan::test::SetTestEnvironment();
  QApplication app(argc, argv);
  orvan::app::InstallSynchronizeWakeup();
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  orvan::app::RemoveSynchronizeWakeup();
  return rc;
}
