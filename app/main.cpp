// orvan-viewer [--image PATH]... [--hdd] | --help | --version
//   --image PATH  a recorder disk image, listed before the machine's drives
//   --hdd         switch to HDD Play once the window is shown and play the
//                 first disk found
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "app/window/save_form.h"
#include "app/window/termination_signals.h"
#include "platform/disk_source.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv, argv + argc);
  const std::vector<std::string> images = orvan::TakeImageOptions(args);
  bool hdd = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--hdd") {
      hdd = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::printf(
          "Usage: orvan-viewer [--image PATH]... [--hdd]\n"
          "Plays the recordings of four-channel recorder disks and clips.\n\n"
          "  --image PATH  a recorder disk image, listed before the machine's drives\n"
          "  --hdd         switch to HDD Play and play the first disk found\n"
          "  --version     print the version and exit\n");
      return 0;
    } else if (args[i] == "--version") {
      std::printf("orvan-viewer %s\n", ORVAN_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "%s: unknown argument %s\nusage: %s [--image PATH]... [--hdd]\n",
                   argv[0], args[i].c_str(), argv[0]);
      return 2;
    }
  }
  orvan::DriveTable::SetProcess(orvan::DriveTable(images));

  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("ORVAN Viewer"));
  orvan::app::InstallSynchronizeWakeup();

  using namespace orvan::app;
  LiveForm = new TLiveForm;
  EventForm = new TEventForm(LiveForm);
  CopyForm = new TCopyForm(LiveForm);
  SaveForm = new TSaveForm(LiveForm);
  LiveForm->show();
  // Ctrl+C and a plain kill close the window as the close command does.
  auto terminationSignals = std::make_unique<TTerminationSignals>([](int) {
    if (LiveForm) LiveForm->CloseWithoutAsking();
  });
  if (hdd) {
    QTimer::singleShot(0, LiveForm, [] {
      LiveForm->HDDPlayClick();
      LiveForm->PlayBtnClick();
    });
  }
  const int rc = app.exec();
  terminationSignals.reset();

  delete LiveForm;  // also deletes EventForm, CopyForm and SaveForm, its children
  EventForm = nullptr;
  RemoveSynchronizeWakeup();
  return rc;
}
