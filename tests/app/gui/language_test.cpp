// One language at a time: every window walked in English and in Russian,
// with the shipped language file, shows no text of the other language;
// the English captions are the same before and after a switch, and the
// Russian ones fit their controls at the window's font.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <map>
#include <set>

#include "app/window/captions.h"
#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/keys_form.h"
#include "app/window/live_form.h"
#include "app/window/save_form.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tools/sample_recording.h"

using namespace orvan::app;

namespace {

bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

// Every text a window shows, each with where it was found.
using Texts = std::multimap<QString, QString>;

void Collect(QWidget *root, Texts &texts) {
  auto add = [&](QObject *where, const QString &what, const QString &text) {
    // Qt's own calendar, made when first asked for, is checked by its locale.
    if (where->objectName().startsWith(QLatin1String("qt_calendar"))) return;
    if (!text.trimmed().isEmpty())
      texts.emplace(where->objectName() + QLatin1Char('.') + what, text);
  };
  QList<QWidget *> widgets = root->findChildren<QWidget *>();
  widgets.prepend(root);
  for (QWidget *w : widgets) {
    if (w->isWindow()) add(w, QStringLiteral("title"), w->windowTitle());
    add(w, QStringLiteral("tooltip"), w->toolTip());
    if (auto *label = qobject_cast<QLabel *>(w)) add(w, QStringLiteral("text"), label->text());
    if (auto *button = qobject_cast<QAbstractButton *>(w))
      add(w, QStringLiteral("text"), button->text());
    if (auto *group = qobject_cast<QGroupBox *>(w)) add(w, QStringLiteral("title"), group->title());
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
      for (int i = 0; i < combo->count(); ++i) {
        add(w, QStringLiteral("item%1").arg(i), combo->itemText(i));
        add(w, QStringLiteral("itemtip%1").arg(i), combo->itemData(i, Qt::ToolTipRole).toString());
      }
    }
    if (auto *date = qobject_cast<QDateEdit *>(w)) add(w, QStringLiteral("date"), date->text());
    if (auto *table = qobject_cast<QTableWidget *>(w)) {
      for (int c = 0; c < table->columnCount(); ++c)
        if (table->horizontalHeaderItem(c))
          add(w, QStringLiteral("header%1").arg(c), table->horizontalHeaderItem(c)->text());
      for (int r = 0; r < table->rowCount(); ++r)
        for (int c = 0; c < table->columnCount(); ++c)
          if (const QTableWidgetItem *item = table->item(r, c)) {
            add(w, QStringLiteral("cell%1,%2").arg(r).arg(c), item->text());
            add(w, QStringLiteral("celltip%1,%2").arg(r).arg(c), item->toolTip());
          }
    }
  }
  for (QAction *a : root->findChildren<QAction *>()) {
    add(a, QStringLiteral("action"), a->text());
    if (a->menu()) add(a, QStringLiteral("menu"), a->menu()->title());
  }
}

bool HasCyrillic(const QString &text) {
  for (const QChar c : text)
    if (c.script() == QChar::Script_Cyrillic) return true;
  return false;
}

// The Latin words of a text (letters, and digits after them: "CH1").
QStringList LatinWords(const QString &text) {
  QStringList words;
  QString word;
  for (const QChar c : text + QLatin1Char(' ')) {
    const bool latin = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                       (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    if (latin || (!word.isEmpty() && c.isDigit())) {
      word += c;
    } else {
      if (word.size() > 1) words << word;
      word.clear();
    }
  }
  return words;
}

class LanguageTest : public orvan::test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // The shipped file, as the program finds it in its working folder.
    std::filesystem::copy_file(orvan::test::SourceDir() + "/app/Language_Russian.ini",
                               dir.File("Language_Russian.ini"));
  }

  // HDD Play of a sample with events, and every other window made.
  void MakeAll() {
    orvan::tools::SampleOptions options;
    options.outputPath = dir.File("sample.img");
    options.durationSeconds = 8;
    orvan::tools::SampleSummary summary;
    std::string error;
    ASSERT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
    UseImages({options.outputPath});
    MakeWindow();
    CopyForm = new TCopyForm(form);
    SaveForm = new TSaveForm(form);
    form->show();
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
    ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
    form->PlayBtnClick();
    form->KeysClick();
    CopyForm->SetRange(0, orvan::RecorderSecondsToSystemTime(summary.firstTime),
                       orvan::RecorderSecondsToSystemTime(summary.lastTime));
  }

  void Choose(int language) {
    auto *combo = form->findChild<QComboBox *>(QStringLiteral("LanguageCombo"));
    combo->setCurrentIndex(language);
    form->LanguageComboChange();
    ASSERT_EQ(form->Language(), language);
  }

  // Every window's texts, the question box's included.
  Texts Walk() {
    Texts texts;
    for (QWidget *w :
         std::initializer_list<QWidget *>{form, EventForm, CopyForm, SaveForm, form->KeysWindow()})
      Collect(w, texts);
    std::unique_ptr<QMessageBox> box(MakeQuestionBox(
        form, form->Captions(), form->Tr(TextKey::Close_Player), form->Tr(TextKey::Warning)));
    Collect(box.get(), texts);
    return texts;
  }

  // Names and marks that read the same in both languages.
  std::set<QString> Names() const {
    std::set<QString> names = {
        "ORVAN", "Viewer", "AVI", "MP4", "Matroska", "Ctrl", "Esc", "PgUp",   "PgDn",   "F1",
        "F11",   "CH1",    "CH2", "CH3", "CH4",      "QUAD", "IN",  "YUV",    "JPEG",   "E01",
        "in",    "mkv",    "mp4", "avi", "jpg",      "jpeg", "JPG", "bmp",    "BMP",    "img",
        "dd",    "raw",    "bin", "yuv", "KiB",      "MiB",  "GiB", "Device", "English"};
    // The image's path, which the status line and the device name.
    for (const QString &part : QString::fromStdString(dir.Path().string()).split(QLatin1Char('/')))
      for (const QString &word : LatinWords(part)) names.insert(word);
    names.insert(QStringLiteral("sample"));
    return names;
  }
};

}  // namespace

TEST_F(LanguageTest, everyWindowInEachLanguage_showsNoTextOfTheOther) {
  MakeAll();
  // The English window as it starts.
  const Texts english = Walk();
  for (const auto &[where, text] : english) {
    if (where == QLatin1String("LanguageCombo.item1")) continue;  // "Русский", by its own name
    EXPECT_FALSE(HasCyrillic(text)) << where.toStdString() << ": " << text.toStdString();
  }
  EXPECT_EQ(form->DatePickerLocale().language(), QLocale::English);

  Choose(1);
  const Texts russian = Walk();
  const std::set<QString> names = Names();
  for (const auto &[where, text] : russian)
    for (const QString &word : LatinWords(text))
      EXPECT_TRUE(names.count(word)) << where.toStdString() << ": " << text.toStdString();
  // The play state, the event list's kinds and the question's buttons are
  // among them; the pickers show dates the Russian way, months too.
  EXPECT_EQ(form->findChild<QLabel *>(QStringLiteral("PlayLabel"))->text(), "Просмотр");
  EXPECT_EQ(form->DatePickerLocale().language(), QLocale::Russian);
  auto *date = form->findChild<QDateEdit *>(QStringLiteral("DatePicker"));
  ASSERT_NE(date->calendarWidget(), nullptr);
  EXPECT_EQ(date->calendarWidget()->locale().language(), QLocale::Russian);
  std::unique_ptr<QMessageBox> box(
      MakeQuestionBox(form, form->Captions(), QStringLiteral("?"), QStringLiteral("?")));
  QStringList buttons;
  for (QAbstractButton *b : box->buttons()) buttons << b->text();
  EXPECT_EQ(buttons, (QStringList{"Да", "Нет"}));
  bool kindSeen = false;
  for (const auto &[where, text] : russian) kindSeen |= text == QString::fromUtf8("Включение");
  EXPECT_TRUE(kindSeen);

  // Every caption keeps the window's font and fits its control.
  const int pixels = form->font().pixelSize();
  for (QPushButton *b : form->centralWidget()->findChildren<QPushButton *>()) {
    EXPECT_EQ(b->font().pixelSize(), pixels) << b->objectName().toStdString();
    EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 6)
        << b->objectName().toStdString() << ": " << b->text().toStdString();
  }
  for (QGroupBox *g : form->centralWidget()->findChildren<QGroupBox *>())
    EXPECT_LE(g->fontMetrics().horizontalAdvance(g->title()), g->width() - 12)
        << g->objectName().toStdString();
  for (QLabel *l : {form->findChild<QLabel *>(QStringLiteral("PlayLabel")),
                    form->findChild<QLabel *>(QStringLiteral("LanguageLabel")),
                    form->findChild<QLabel *>(QStringLiteral("NamePanel"))})
    EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width())
        << l->objectName().toStdString();
  for (QWidget *w : std::initializer_list<QWidget *>{CopyForm, EventForm})
    for (QPushButton *b : w->findChildren<QPushButton *>())
      EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 6)
          << b->objectName().toStdString();

  // Back to English: the very captions it started with.
  Choose(0);
  const Texts again = Walk();
  std::map<QString, QString> before, after;
  for (const auto &[where, text] : english)
    if (!where.contains(QLatin1String("PlayLabel")) && !where.contains(QLatin1String("Time")))
      before[where] = text;
  for (const auto &[where, text] : again)
    if (!where.contains(QLatin1String("PlayLabel")) && !where.contains(QLatin1String("Time")))
      after[where] = text;
  for (const auto &[where, text] : before)
    EXPECT_EQ(after[where].toStdString(), text.toStdString())
        << where.toStdString() << " was: " << text.toStdString();
  EXPECT_EQ(after.size(), before.size());
  for (const auto &[where, text] : after)
    EXPECT_TRUE(before.count(where)) << where.toStdString() << ": " << text.toStdString();
}
