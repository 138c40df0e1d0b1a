// The main window made for a test: its own working and configuration
// folders, a drive table of the test's images only, and the window's
// message boxes and questions recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "platform/disk_source.h"
#include "tests/support/test_support.h"
#include "tools/disk_image.h"

namespace orvan::test {

// 2008-02-14 09:44:57, the first second of the junk disks below.
constexpr uint32_t kJunkDiskStart = 1202982297;

// A recorder image of `count` entries of 200 junk bytes (nothing decodes),
// four channels interleaved, ten entries a second from kJunkDiskStart, with
// `events` events 20 s apart from kJunkDiskStart + 20. `gapAt`: the entry
// from which the time jumps `gapSeconds` ahead.
inline std::string MakeJunkDisk(const TempDir &dir, const std::string &name, int64_t count,
                                int events, int64_t gapAt = -1, uint32_t gapSeconds = 0) {
  tools::RecorderImage image;
  for (int64_t i = 0; i < count; ++i) {
    recorder::IndexEntry e;
    e.type = (i % 8 == 0) ? 1 : 0;
    e.channel = uint8_t(i % 4);
    e.delayMs = 25;
    e.time = kJunkDiskStart + uint32_t(i / 10) + (gapAt >= 0 && i >= gapAt ? gapSeconds : 0);
    e.size = 200;
    e.offset = image.data.size();
    image.data.insert(image.data.end(), 200, uint8_t(i & 0xFF));
    image.entries.push_back(e);
  }
  for (int k = 0; k < events; ++k) {
    recorder::EventRecord r;
    r.kindWord = uint16_t((k % 5 + 1) << 4);
    r.channel = uint8_t(k % 4 + 1);
    r.time = kJunkDiskStart + 20 + 20 * uint32_t(k);
    image.events.push_back(r);
  }
  std::string error;
  const std::string path = dir.File(name);
  EXPECT_TRUE(tools::WriteRecorderImage(path, image, &error)) << error;
  return path;
}

class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    UseImages({});
  }

  void TearDown() override {
    delete form;  // its child windows go with it
    app::LiveForm = nullptr;
    app::EventForm = nullptr;
    app::CopyForm = nullptr;
    app::SaveForm = nullptr;
    std::filesystem::current_path(m_oldCwd);
    app::DisplayMode = 1;
  }

  void UseImages(const std::vector<std::string> &images) {
    orvan::DriveTable::SetProcess(orvan::DriveTable(images, dir.File("no-sys-block")));
  }

  // The window and its event list, with messages and questions recorded.
  void MakeWindow() {
    form = new app::TLiveForm;
    app::LiveForm = form;
    app::EventForm = new app::TEventForm(form);
    form->Inform = [this](const QString &text, const QString &caption) {
      messages.push_back({text, caption});
    };
    form->AskYesNo = [this](const QString &text, const QString &caption) {
      questions.push_back({text, caption});
      return answerYes;
    };
  }

  TempDir dir;
  app::TLiveForm *form = nullptr;
  std::vector<std::pair<QString, QString>> messages, questions;
  bool answerYes = false;

 private:
  std::filesystem::path m_oldCwd;
};

}  // namespace orvan::test
