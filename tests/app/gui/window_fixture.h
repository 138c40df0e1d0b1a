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

namespace orvan::test {

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
