// orvan-yuv: the recorder's .yuv still pictures from the command line.
//
//   orvan-yuv [yuv] FILE.yuv -o OUT.bmp [--json] [--raw]
//
// See app/still_image_command.h. Runs headless (Qt's offscreen platform
// unless QT_QPA_PLATFORM says otherwise).
#include <QGuiApplication>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/still_image_command.h"

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  return orvan::app::RunYuvCommand(args, std::cout, std::cerr);
}
