#include "app/window/live_form.h"
#include "app/window/magnifier.h"
#include "app/window/survey_form.h"

#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTimeEdit>
#include <QTimer>
#include <QTranslator>

#include "app/core/configuration.h"
#include "app/still_image.h"
#include "app/window/captions.h"
#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/picture_control.h"
#include "app/window/save_form.h"
#include "app/window/time_edit.h"
#include "display/display_grabber.h"
#include "display/display_manager.h"
#include "display/widgets/widget_window.h"
#include "media/codec_library.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "recorder/layout/clip_format.h"
#include "recorder/layout/disk_discovery.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"

namespace orvan::app {

TLiveForm *LiveForm = nullptr;
TEventForm *EventForm = nullptr;
TCopyForm *CopyForm = nullptr;
TSaveForm *SaveForm = nullptr;
uint8_t DisplayMode = 1;

namespace {

constexpr const char *kLogCategory = "app";

constexpr int kClientWidth = 956;
constexpr int kClientHeight = 559;
const QColor kSkyBlue(0xA6, 0xCA, 0xF0);

QString Q(const std::string &s) { return QString::fromStdString(s); }

QPixmap BackgroundPicture(int w, int h) {
  QPixmap pm(w, h);
  QPainter p(&pm);
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, QColor(0x2c, 0x3e, 0x56));
  g.setColorAt(1, QColor(0x10, 0x18, 0x24));
  p.fillRect(pm.rect(), g);
  return pm;
}

QPixmap KnobPicture() {
  QPixmap pm(12, 22);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 12, 0);
  g.setColorAt(0, QColor(0xf0, 0xf0, 0xf0));
  g.setColorAt(1, QColor(0x90, 0x98, 0xa8));
  p.setBrush(g);
  p.setPen(QColor(0x30, 0x30, 0x30));
  p.drawRoundedRect(QRectF(0.5, 0.5, 11, 21), 3, 3);
  p.drawLine(6, 5, 6, 17);
  return pm;
}

QPixmap BlackPicture() {
  QPixmap pm(33, 33);
  pm.fill(Qt::black);
  return pm;
}

void StyleYellowOnBlack(QLabel *label) {
  label->setAutoFillBackground(true);
  label->setContentsMargins(1, 0, 1, 0);
  QPalette p = label->palette();
  p.setColor(QPalette::Window, Qt::black);
  p.setColor(QPalette::WindowText, Qt::yellow);
  label->setPalette(p);
}

void StyleSkyBlue(QWidget *w) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, kSkyBlue);
  w->setPalette(p);
}

template <typename T>
T *Named(T *widget, const char *name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton *Button(QWidget *parent, const char *name, const char *caption, int l, int t, int w,
                    int h) {
  auto *b = Named(new QPushButton(QString::fromLatin1(caption), parent), name);
  b->setGeometry(l, t, w, h);
  return b;
}

QGroupBox *Group(QWidget *parent, const char *name, const char *caption, int l, int t, int w,
                 int h) {
  auto *g = Named(new QGroupBox(QString::fromLatin1(caption), parent), name);
  g->setGeometry(l, t, w, h);
  StyleSkyBlue(g);
  return g;
}

}  // namespace

void InstallSynchronizeWakeup() {
  TThread::SetMainThread();
  TThread::SetSynchronizeWakeup([] {
    if (QCoreApplication *app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app, [] { TThread::CheckSynchronize(); }, Qt::QueuedConnection);
  });
}

void RemoveSynchronizeWakeup() { TThread::SetSynchronizeWakeup(nullptr); }

void JumpToEventTime(TLiveForm *window, uint32_t seconds) {
  if (window) window->JumpToEvent(seconds);
}

TLiveForm::TLiveForm(QWidget *parent)
    : QMainWindow(parent),
      m_layout(DisplayMode),
      m_grabber(std::make_unique<orvan::CDisplayGrabber>()) {
  setObjectName(QStringLiteral("LiveForm"));
  setWindowTitle(QStringLiteral("ORVAN Viewer"));
  // No system menu, minimise, maximise or close box: the window closes
  // through Close or Exit, and a close request from the window manager asks
  // the same question.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  // "MS Sans Serif" 8 point is about 11 pixels; where it is missing a
  // condensed face keeps the designed captions inside their controls.
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Sans Serif")});
  font.setPixelSize(11);
  setFont(font);

  BuildControls();
  BuildMenus();
  WireControls();
  setAcceptDrops(true);
  resize(minimumSizeHint());  // the designed client area under the menu

  AskYesNo = [this](const QString &text, const QString &caption) {
    return AskYesNoBox(this, m_captions, text, caption);
  };
  Inform = [this](const QString &text, const QString &caption) {
    InformBox(this, m_captions, text, caption);
  };
  ChooseOpenFile = [this](const QString &filter) {
    return QFileDialog::getOpenFileName(this, QString(), QString(), filter);
  };
  ChooseSaveFile = [this](const QString &filter, const QString &suggestedName) {
    return QFileDialog::getSaveFileName(this, QString(), suggestedName, filter);
  };

  // Construction steps, before FormCreate.
  move(0, 0);
  DisplayMode = 1;
  m_diskThread = nullptr;
  m_clipThread = nullptr;
  m_barDragging = false;
  TimePicker->setDisplayFormat(QStringLiteral(" HH : mm : ss"));
  m_playSource = kHddPlay;
  FormImage->setGeometry(0, 0, m_client->width(), m_client->height());

  FormCreate();
}

TLiveForm::~TLiveForm() {
  FormDestroy();
  if (LiveForm == this) LiveForm = nullptr;
  // Children of this window go with it.
  if (CopyForm && CopyForm->parent() == this) CopyForm = nullptr;
  if (SaveForm && SaveForm->parent() == this) SaveForm = nullptr;
}

void TLiveForm::BuildControls() {
  m_client = Named(new QWidget(this), "ClientArea");
  m_client->setMinimumSize(kClientWidth, kClientHeight);
  m_client->resize(kClientWidth, kClientHeight);
  setCentralWidget(m_client);

  FormImage = Named(new TPictureControl(m_client), "FormImage");
  FormImage->setPixmap(BackgroundPicture(kClientWidth, kClientHeight));

  LivePanel = Named(new QFrame(m_client), "LivePanel");
  LivePanel->setGeometry(13, 21, 720, 480);
  LivePanel->setAutoFillBackground(true);
  {
    QPalette p = LivePanel->palette();
    p.setColor(QPalette::Window, Qt::black);
    LivePanel->setPalette(p);
  }

  VideoImage = Named(new TPictureControl(m_client), "VideoImage");
  VideoImage->setGeometry(13, 21, 720, 480);
  VideoImage->hide();

  BlackImage = Named(new QLabel(m_client), "BlackImage");
  BlackImage->setGeometry(848, 480, 33, 33);
  BlackImage->setPixmap(BlackPicture());
  BlackImage->hide();

  PlayBarImage = Named(new TPictureControl(m_client), "PlayBarImage");
  PlayBarImage->setGeometry(13, 514, 720, 22);

  PlayBarBtn = Named(new TPictureControl(m_client), "PlayBarBtn");
  PlayBarBtn->setGeometry(13, 514, 12, 22);
  PlayBarBtn->setPixmap(KnobPicture());
  PlayBarBtn->setEnabled(false);

  StartTimeLabel = Named(new QLabel(m_client), "StartTimeLabel");
  StartTimeLabel->setGeometry(13, 501, 140, 13);
  StyleYellowOnBlack(StartTimeLabel);
  EndTimeLabel = Named(new QLabel(m_client), "EndTimeLabel");
  EndTimeLabel->setGeometry(593, 501, 140, 13);
  EndTimeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  StyleYellowOnBlack(EndTimeLabel);
  BlackLabel = Named(new QLabel(m_client), "BlackLabel");
  BlackLabel->setGeometry(152, 501, 441, 13);
  StyleYellowOnBlack(BlackLabel);
  // The filler lies under the two time labels, never over their text.
  BlackLabel->lower();
  FormImage->lower();
  CurrentTimeLabel = Named(new QLabel(m_client), "CurrentTimeLabel");
  CurrentTimeLabel->setGeometry(736, 518, 118, 14);
  StyleYellowOnBlack(CurrentTimeLabel);

  NamePanel = Named(new QLabel(QStringLiteral("HDD Play"), m_client), "NamePanel");
  NamePanel->setGeometry(736, 22, 201, 41);
  NamePanel->setAlignment(Qt::AlignCenter);
  NamePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  StyleSkyBlue(NamePanel);
  {
    QPalette p = NamePanel->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 0x80));
    NamePanel->setPalette(p);
    QFont f = NamePanel->font();
    f.setBold(true);
    f.setPixelSize(19);
    NamePanel->setFont(f);
  }

  DeviceGroup = Group(m_client, "DeviceGroup", "HDD Select", 736, 64, 201, 65);
  DeviceCombo = Named(new QComboBox(DeviceGroup), "DeviceCombo");
  DeviceCombo->setGeometry(16, 24, 97, 21);
  OpenBtn = Button(DeviceGroup, "OpenBtn", "Load", 16, 24, 97, 21);
  OpenBtn->hide();

  PlayGroup = Group(m_client, "PlayGroup", "Play", 736, 128, 201, 73);
  PlayBtn = Button(PlayGroup, "PlayBtn", "Play", 16, 16, 49, 25);
  PauseBtn = Button(PlayGroup, "PauseBtn", "Pause", 74, 16, 50, 25);
  ForwardBtn = Button(PlayGroup, "ForwardBtn", "Forward", 135, 16, 50, 25);
  for (QPushButton *b : {PlayBtn, PauseBtn, ForwardBtn}) b->setEnabled(false);
  PlayLabel = Named(new QLabel(PlayGroup), "PlayLabel");
  PlayLabel->setGeometry(74, 50, 50, 13);
  PlayLabel->setAlignment(Qt::AlignCenter);
  StyleYellowOnBlack(PlayLabel);

  AVIGroup = Group(m_client, "AVIGroup", "Backup", 736, 200, 201, 65);
  StopAVIBtn = Button(AVIGroup, "StopAVIBtn", "StopAVI", 16, 24, 49, 25);
  SaveAVIBtn = Button(AVIGroup, "SaveAVIBtn", "SaveAVI", 16, 24, 49, 25);
  SaveAVIBtn->setEnabled(false);
  CopyBtn = Button(AVIGroup, "CopyBtn", "Copy", 75, 24, 49, 25);
  CopyBtn->setEnabled(false);
  SnapShotBtn = Button(AVIGroup, "SnapShotBtn", "SnapShot", 136, 24, 57, 25);

  SearchGroup = Group(m_client, "SearchGroup", "Search", 736, 264, 201, 105);
  DatePicker = Named(new QDateEdit(SearchGroup), "DatePicker");
  DatePicker->setGeometry(5, 12, 97, 21);
  // The locale's short date, always with a four-digit year: a two-digit
  // year would be read back in the 1900s and search the wrong century.
  QString dateFormat = QLocale().dateFormat(QLocale::ShortFormat);
  if (!dateFormat.contains(QStringLiteral("yyyy")))
    dateFormat.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
  DatePicker->setDisplayFormat(dateFormat);
  DatePicker->setCalendarPopup(true);
  DatePicker->setEnabled(false);
  TimePicker = Named(new TTimeEdit(SearchGroup), "TimePicker");
  TimePicker->setGeometry(101, 12, 97, 21);
  TimePicker->setEnabled(false);
  SearchBtn = Button(SearchGroup, "SearchBtn", "Search", 6, 40, 67, 25);
  SearchBtn->setEnabled(false);
  EventBtn = Button(SearchGroup, "EventBtn", "Event", 6, 72, 67, 25);
  EventBtn->setEnabled(false);
  PrevEventBtn = Button(SearchGroup, "PrevEventBtn", "", 80, 72, 55, 25);
  PrevEventBtn->setText(QStringLiteral("\u25c0 Event"));
  NextEventBtn = Button(SearchGroup, "NextEventBtn", "", 139, 72, 55, 25);
  NextEventBtn->setText(QStringLiteral("Event \u25b6"));
  for (QPushButton *b : {PrevEventBtn, NextEventBtn}) b->setEnabled(false);

  FullScreenBtn = Button(m_client, "FullScreenBtn", "FullScreen", 736, 376, 57, 25);
  AudioCheck = Named(new QCheckBox(QStringLiteral("PlayAudio"), m_client), "AudioCheck");
  AudioCheck->setGeometry(800, 376, 97, 17);
  {
    QPalette p = AudioCheck->palette();
    p.setColor(QPalette::WindowText, Qt::yellow);
    AudioCheck->setPalette(p);
  }
  LanguageLabel = Named(new QLabel(QStringLiteral("Language"), m_client), "LanguageLabel");
  LanguageLabel->setGeometry(739, 412, 54, 13);
  StyleYellowOnBlack(LanguageLabel);
  LanguageCombo = Named(new QComboBox(m_client), "LanguageCombo");
  LanguageCombo->setGeometry(800, 408, 73, 21);
  // Each language by its own name, whichever is in use: whoever cannot
  // read the one shown still finds theirs.
  LanguageCombo->addItems(
      {QStringLiteral("English"), QStringLiteral("\u0420\u0443\u0441\u0441\u043a\u0438\u0439")});
  LanguageCombo->setCurrentIndex(0);
  CloseBtn = Button(m_client, "CloseBtn", "Close", 856, 504, 57, 25);
  StatusLabel = Named(new QLabel(m_client), "StatusLabel");
  StatusLabel->setGeometry(736, 434, 201, 64);
  StatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  StyleYellowOnBlack(StatusLabel);
  StatusLabel->hide();  // shown once a drive is chosen

  // The status line under the window: files written, and the pictures
  // found damaged.
  statusBar()->setObjectName(QStringLiteral("StatusLine"));
  statusBar()->setSizeGripEnabled(false);
  DamageLabel = Named(new QLabel(statusBar()), "DamageLabel");
  statusBar()->addPermanentWidget(DamageLabel);

  RefreshTimer = Named(new QTimer(this), "RefreshTimer");
  RefreshTimer->setInterval(1000);
  RefreshTimer->start();

  ActivityStrip = Named(new TPictureControl(m_client), "ActivityStrip");
  ActivityStrip->setGeometry(13, 538, 720, 16);
  SetBarGeometry();
  RedrawPlayBar();
  for (QWidget *w : m_client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    m_designedPlaces.emplace_back(w, w->geometry());
  m_originalPlaces = m_designedPlaces;
  for (QGroupBox *group : {DeviceGroup, PlayGroup, AVIGroup, SearchGroup})
    for (QWidget *w : group->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
      m_designedInGroups.emplace_back(w, w->geometry());
  m_client->installEventFilter(this);
}

void TLiveForm::BuildMenus() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  SourceSelect = Named(bar->addMenu(QStringLiteral("Source Select")), "SourceSelect");
  SourceSelectAction = SourceSelect->menuAction();
  HDDPlay = Named(SourceSelect->addAction(QStringLiteral("HDD Play")), "HDDPlay");
  FilePlay = Named(SourceSelect->addAction(QStringLiteral("File Play")), "FilePlay");
  ImagePlay = Named(SourceSelect->addAction(QStringLiteral("Image Play")), "ImagePlay");
  OpenImage = Named(SourceSelect->addAction(QStringLiteral("Open image\u2026")), "OpenImage");
  ReportItem = Named(SourceSelect->addAction(QStringLiteral("Report\u2026")), "ReportItem");
  CaseLogItem = Named(SourceSelect->addAction(QStringLiteral("Case log\u2026")), "CaseLogItem");
  DiskSurveyItem =
      Named(SourceSelect->addAction(QStringLiteral("Disk survey\u2026")), "DiskSurveyItem");
  Exit = Named(SourceSelect->addAction(QStringLiteral("Exit")), "Exit");
  for (QAction *a : {HDDPlay, FilePlay, ImagePlay}) a->setCheckable(true);
  ViewMenu = Named(bar->addMenu(QStringLiteral("View")), "ViewMenu");
  WholePictureItem =
      Named(ViewMenu->addAction(QStringLiteral("Whole picture\tW")), "WholePictureItem");
  WholePictureItem->setCheckable(true);
  BookmarksItem =
      Named(ViewMenu->addAction(QStringLiteral("Bookmarks\u2026\tCtrl+B")), "BookmarksItem");
  About = Named(bar->addAction(QStringLiteral("About")), "About");

  ViewerMenu = Named(new QMenu(this), "ViewerMenu");
  SnapShot1 = Named(ViewerMenu->addAction(QStringLiteral("SnapShot")), "SnapShot1");
}

void TLiveForm::WireControls() {
  connect(HDDPlay, &QAction::triggered, this, [this] { HDDPlayClick(); });
  connect(FilePlay, &QAction::triggered, this, [this] { FilePlayClick(); });
  connect(ImagePlay, &QAction::triggered, this, [this] { ImagePlayClick(); });
  // A checkable item toggles itself when chosen; the mark follows the
  // source, which SetPlaySource sets.
  for (QAction *a : {HDDPlay, FilePlay, ImagePlay}) {
    connect(a, &QAction::triggered, this, [this] {
      HDDPlay->setChecked(m_playSource == kHddPlay);
      FilePlay->setChecked(m_playSource == kFilePlay);
      ImagePlay->setChecked(m_playSource == kImagePlay);
    });
  }
  connect(OpenImage, &QAction::triggered, this, [this] { OpenImageClick(); });
  connect(ReportItem, &QAction::triggered, this, [this] { ReportClick(); });
  connect(CaseLogItem, &QAction::triggered, this, [this] { CaseLogClick(); });
  connect(DiskSurveyItem, &QAction::triggered, this, [this] { DiskSurveyClick(); });
  connect(Exit, &QAction::triggered, this, [this] { ExitClick(); });
  connect(About, &QAction::triggered, this, [this] { AboutClick(); });
  connect(WholePictureItem, &QAction::triggered, this, [this] {
    WholePictureClick();
    WholePictureItem->setChecked(m_wholePicture);
  });
  connect(SnapShot1, &QAction::triggered, this, [this] { SnapShot1Click(); });
  connect(BookmarksItem, &QAction::triggered, this, [this] { BookmarksClick(); });

  connect(OpenBtn, &QPushButton::clicked, this, [this] { OpenBtnClick(); });
  connect(DeviceCombo, &QComboBox::activated, this, [this] { DeviceComboChange(); });
  connect(PlayBtn, &QPushButton::clicked, this, [this] { PlayBtnClick(); });
  connect(PauseBtn, &QPushButton::clicked, this, [this] { PauseBtnClick(); });
  connect(ForwardBtn, &QPushButton::clicked, this, [this] { ForwardBtnClick(); });
  connect(AudioCheck, &QCheckBox::clicked, this, [this] { AudioCheckClick(); });
  connect(SearchBtn, &QPushButton::clicked, this, [this] { SearchBtnClick(); });
  connect(EventBtn, &QPushButton::clicked, this, [this] { EventBtnClick(); });
  connect(PrevEventBtn, &QPushButton::clicked, this, [this] { JumpToNeighbourEvent(-1); });
  connect(NextEventBtn, &QPushButton::clicked, this, [this] { JumpToNeighbourEvent(1); });
  connect(SaveAVIBtn, &QPushButton::clicked, this, [this] { SaveAVIBtnClick(); });
  connect(StopAVIBtn, &QPushButton::clicked, this, [this] { StopAVIBtnClick(); });
  connect(CopyBtn, &QPushButton::clicked, this, [this] { CopyBtnClick(); });
  connect(SnapShotBtn, &QPushButton::clicked, this, [this] { SnapShotBtnClick(); });
  connect(FullScreenBtn, &QPushButton::clicked, this, [this] { FullScreenBtnClick(); });
  connect(CloseBtn, &QPushButton::clicked, this, [this] { CloseBtnClick(); });
  connect(LanguageCombo, &QComboBox::activated, this, [this] { LanguageComboChange(); });
  connect(RefreshTimer, &QTimer::timeout, this, [this] { RefreshTimerTimer(); });

  PlayBarBtn->OnMouseDown = [this](int b, int x, int) { PlayBarBtnMouseDown(b, x); };
  PlayBarBtn->OnMouseMove = [this](int x, int) { PlayBarBtnMouseMove(x); };
  PlayBarBtn->OnMouseUp = [this](int b, int x, int) { PlayBarBtnMouseUp(b, x); };
  PlayBarImage->OnMouseDown = [this](int b, int x, int) { PlayBarImageMouseDown(b, x); };
  PlayBarImage->OnMouseUp = [this](int b, int x, int) { PlayBarImageMouseUp(b, x); };
  PlayBarImage->OnMouseMove = [this](int x, int) { PlayBarImageMouseMove(x); };
  PlayBarImage->setMouseTracking(true);
  PlayBarImage->installEventFilter(this);
  PlayBarImage->OnWheel = [this](int delta, int x) { PlayBarWheel(delta, x); };
  PlayBarImage->OnDoubleClick = [this](int x, int y) { PlayBarDoubleClick(x, y); };
  // The bookmark's note box: Enter keeps the note, Escape none.
  m_noteBox = Named(new QLineEdit(m_client), "BookmarkNoteBox");
  m_noteBox->hide();
  connect(m_noteBox, &QLineEdit::returnPressed, this, [this] {
    if (m_noteFor >= 0 && !m_noteBox->text().isEmpty())
      EditBookmarkNote(size_t(m_noteFor), m_noteBox->text());
    m_noteFor = -1;
    m_noteBox->hide();
    RedrawPlayBar();
  });
  m_magnifier = new TMagnifier(m_client);
  m_magnifier->Caption = [this](double factor, const QRect &r) {
    return Tr(TextKey::Magnifier_caption)
        .arg(factor, 0, 'g', 2)
        .arg(r.width())
        .arg(r.height())
        .arg(r.x())
        .arg(r.y());
  };
  IdentityLabel = Named(new QLabel(statusBar()), "IdentityLabel");
  statusBar()->addWidget(IdentityLabel);
  // The time beside the bar follows the picture shown within a fifth of a
  // second, a seek's first picture too.
  auto *shownTime = Named(new QTimer(this), "ShownTimeTimer");
  shownTime->setInterval(200);
  connect(shownTime, &QTimer::timeout, this, [this] { UpdateCurrentTimeLabel(); });
  shownTime->start();
  VideoImage->OnMouseUp = [this](int b, int x, int y) { VideoImageMouseUp(b, x, y); };

  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::ApplicationShortcut);
  connect(escape, &QShortcut::activated, this, [this] { FormKeyPress(kEscapeKey); });
  InstallKeys();
}

// ---- life cycle ----

void TLiveForm::FormCreate() {
  m_texts = LoadLanguageTexts();
  // The English captions are those of ApplyLanguage(0) from the start, so a
  // switch back gives the same ones.
  const int stored = ReadLanguageSetting(ConfigurationPath()).value_or(0);
  LanguageCombo->setCurrentIndex(stored);
  ApplyLanguage(stored);
  orvan::media::InitCodecLibrary();

  m_savedFormRect = QRect(pos(), sizeHint());
  m_savedPanelRect = LivePanel->geometry();

  DisplayManager = new CDisplayManager(nullptr, CWidgetWindow::WindowOf(LivePanel));
  LivePanel->setAttribute(Qt::WA_OpaquePaintEvent);

  ViewerEvents events;
  events.dblClick = [this](int ch) { OnViewerDblClick(ch); };
  events.mouseDown = [this](int ch, int b, int x, int y) { OnViewerMouseDown(ch, b, x, y); };
  events.mouseUp = [this](int ch, int b, int x, int y) { OnViewerMouseUp(ch, b, x, y); };
  CViewerLayout::Viewers layoutViewers{};
  for (int ch = 0; ch < 4; ++ch) {
    m_viewers[ch] = CreateChannelViewer(LivePanel, ch, events);
    // The identity line follows the tile under the pointer.
    if (QWidget *panel = m_viewers[ch]->Panel()) {
      panel->setMouseTracking(true);
      panel->installEventFilter(this);
    }
    bool off = false;
    m_viewers[ch]->Command(kViewerCaptionVisible, &off);
    m_viewers[ch]->Command(kViewerTimeLabel, &off);
    layoutViewers[ch] = m_viewers[ch].get();
  }
  m_layout.SetViewers(layoutViewers);

  HDDPlay->setChecked(true);
  const QDateTime now = QDateTime::currentDateTime();
  DatePicker->setDate(now.date());
  TimePicker->setTime(now.time());
}

void TLiveForm::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!m_shown) {
    m_shown = true;
    m_savedFormRect = geometry();
    FormShow();
  }
}

void TLiveForm::FormShow() {
  // The other windows were made after this one's language was applied.
  ApplyLanguageToWindows();
  FilePlayClick();
  LayoutViewers(DisplayMode);
  // The keys are the window's from the start, not a picker's.
  LivePanel->setFocus(Qt::OtherFocusReason);
}

void TLiveForm::FormDestroy() {
  if (m_destroyed) return;
  m_destroyed = true;
  StopRecordingMapThread();
  StopDiskThread();
  m_diskHandle.reset();
  StopClipThread();
  CloseClipFiles();
  for (auto &v : m_viewers) v.reset();
  m_layout.SetViewers({});
  delete DisplayManager;
  DisplayManager = nullptr;
}

bool TLiveForm::ConfirmClose() { return AskYesNo(Tr(TextKey::Close_Player), Tr(TextKey::Warning)); }

void TLiveForm::closeEvent(QCloseEvent *event) {
  if (m_closeConfirmed || ConfirmClose()) {
    m_closeConfirmed = true;
    event->accept();
  } else {
    event->ignore();
  }
}

void TLiveForm::CloseBtnClick() {
  if (!ConfirmClose()) return;
  m_closeConfirmed = true;
  close();
}

void TLiveForm::CloseWithoutAsking() {
  m_closeConfirmed = true;
  // Innermost first; a window that refuses to close ends the loop, and
  // closing this window ends every event loop anyway.
  for (int i = 0; i < 8; ++i) {
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == this || !modal->close()) break;
  }
  close();
}

void TLiveForm::ExitClick() { CloseBtnClick(); }

// ---- threads and files ----

namespace {
// Terminate, wait (running the player's pending calls into the window),
// delete; the files the player reads are closed by the caller afterwards.
template <typename Player>
void StopPlayer(Player *&player) {
  if (!player) return;
  player->Terminate();
  player->WaitFor();
  delete player;
  player = nullptr;
}
}  // namespace

// The source is interrupted first: a player inside a read of a slow or
// hung disk gives it up at once, so the wait for it never waits for the
// disk.
void TLiveForm::StopDiskThread() {
  if (!m_diskThread) return;
  if (m_diskHandle) m_diskHandle->Interrupt();
  StopPlayer(m_diskThread);
  if (m_diskHandle) m_diskHandle->ClearInterrupt();
}

void TLiveForm::StopClipThread() {
  if (!m_clipThread) return;
  if (m_clipFiles) m_clipFiles->Interrupt();
  StopPlayer(m_clipThread);
  if (m_clipFiles) m_clipFiles->ClearInterrupt();
}

void TLiveForm::CloseClipFiles() { m_clipFiles.reset(); }

std::array<orvan::IViewerSink *, 4> TLiveForm::Sinks() const {
  std::array<orvan::IViewerSink *, 4> sinks{};
  for (int ch = 0; ch < 4; ++ch) sinks[ch] = m_viewers[ch].get();
  return sinks;
}

void TLiveForm::StopPlayback() {
  StopDiskThread();
  m_diskHandle.reset();
  StopClipThread();
  CloseClipFiles();
  ShowPlayState(PlayState::kNone);
  ResetDamageCount();
  ClearDeviceStatus();
  LoadRecordingMap();
}

// ---- play sources ----

void TLiveForm::SetPlaySource(int source) {
  m_playSource = source;
  m_stillSource.Reset();
  HDDPlay->setChecked(source == kHddPlay);
  FilePlay->setChecked(source == kFilePlay);
  ImagePlay->setChecked(source == kImagePlay);

  const SourceCaptions captions = CaptionsForSource(source, m_language, m_texts);
  DeviceGroup->setTitle(Q(captions.deviceGroup));
  NamePanel->setText(Q(captions.namePanel));

  const SourceControls c = ControlsForSource(source);
  DeviceCombo->setVisible(c.deviceComboVisible);
  OpenBtn->setVisible(c.openBtnVisible);
  for (QWidget *w : {PlayBtn, ForwardBtn, PauseBtn}) w->setEnabled(c.playButtonsEnabled);
  SaveAVIBtn->setEnabled(c.aviButtonsEnabled);
  StopAVIBtn->setEnabled(c.aviButtonsEnabled);
  CopyBtn->setEnabled(c.copyEnabled);
  for (QWidget *w : std::initializer_list<QWidget *>{DatePicker, TimePicker, SearchBtn, EventBtn,
                                                     PrevEventBtn, NextEventBtn})
    w->setEnabled(c.searchEnabled);
  PlayBarBtn->setEnabled(c.playBarBtnEnabled);
  PlayBarBtn->setVisible(c.playBarBtnEnabled);
  PlayBarImage->setVisible(c.videoPanelVisible);
  LivePanel->setVisible(c.videoPanelVisible);
  VideoImage->setVisible(c.videoImageVisible);
  FullScreenBtn->setEnabled(c.fullScreenAndAudioEnabled);
  AudioCheck->setEnabled(c.fullScreenAndAudioEnabled);
  for (QWidget *w : {StartTimeLabel, EndTimeLabel, BlackLabel, CurrentTimeLabel})
    w->setVisible(c.videoPanelVisible);

  SaveAVIBtn->raise();
  MoveKnob(PlayBarImage->x());
  if (c.playBarBtnEnabled) PlayBarBtn->raise();
}

void TLiveForm::HDDPlayClick() {
  if (m_playSource == kHddPlay) return;
  StopPlayback();
  BlankPanel();  // nothing of the source left stays on screen
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);
  ScanRecorderDisks();
  if (DeviceCombo->currentIndex() < 0) {
    // Drives that exist but could not be read (no rights) are named after
    // the message, with how to get access.
    QString text = Tr(TextKey::CantdetectHDDdevice);
    for (const std::string &m : m_scanMessages) text += QStringLiteral("\n\n") + Q(m);
    Inform(text, windowTitle());
  }
}

void TLiveForm::FilePlayClick() {
  if (m_playSource == kFilePlay) return;
  StopPlayback();
  // Until a clip is loaded nothing of the disk stays on screen, and the
  // status line says that none is.
  BlankPanel();
  SetPlaySource(kFilePlay);
  RefreshSourceStatus();
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);
}

void TLiveForm::ImagePlayClick() {
  if (m_playSource == kImagePlay) return;
  StopPlayback();
  SetPlaySource(kImagePlay);
  for (auto &v : m_viewers) v->Hide();
  VideoImage->setPixmap(BlackImage->pixmap());
  m_stillShown = false;
}

void TLiveForm::ScanRecorderDisks() {
  DeviceCombo->clear();
  m_scanMessages.clear();
  const std::vector<recorder::FoundDisk> found = recorder::ScanRecorderDisks(
      orvan::DriveTable::Process(), &m_scanMessages, kMainThreadReadLimit);
  for (const recorder::FoundDisk &disk : found) DeviceCombo->addItem(Q(disk.name));
  DescribeDevices(found);
  if (DeviceCombo->count() == 0) {
    DeviceCombo->setCurrentIndex(-1);
    return;
  }
  DeviceCombo->setCurrentIndex(0);
  OpenSelectedDisk();
}

bool TLiveForm::OpenSelectedDisk() {
  StopDiskThread();
  m_diskHandle.reset();
  ClearDeviceStatus();

  int drive = 0;
  if (!recorder::DriveNumberFromItem(DeviceCombo->currentText().toStdString(), drive)) return false;
  auto disk = std::make_unique<orvan::DiskSource>();
  if (disk->Open(drive) != orvan::DriveOpenStatus::Ok) {
    ORVAN_LOG_WARN(kLogCategory, "%s", disk->LastError().c_str());
    return false;
  }
  m_diskHandle = std::move(disk);
  {
    // The same disk opened again (after a copy) goes on in the same log.
    const orvan::SourceIdentity identity = orvan::IdentifySource(*m_diskHandle);
    m_openDiskPath = identity.path;
    const std::vector<std::pair<std::string, std::string>> params{
        {"kind", identity.kind}, {"bytes", std::to_string(identity.sizeBytes)}};
    if (m_caseLog.Started() && m_caseLog.Source() == identity.path) {
      std::vector<std::pair<std::string, std::string>> again{{"path", identity.path}};
      again.insert(again.end(), params.begin(), params.end());
      m_caseLog.Record(TextKey::Log_source_opened, std::move(again));
    } else {
      m_caseLog.Start(identity.path, params);
      m_findings.clear();
    }
  }
  if (EventForm) {
    const orvan::platform::ReadDeadline bound(kMainThreadReadLimit);
    EventForm->LoadEvents(*m_diskHandle,
                          [this](uint32_t seconds) { JumpToEventTime(this, seconds); });
  }
  LoadRecordingMap();
  m_diskThread =
      new recorder::PlayHDDThread(*this, m_diskHandle.get(), Sinks(), drive, m_grabber.get());
  SetPlaySource(kHddPlay);
  ShowDeviceStatus();
  return true;
}

void TLiveForm::DeviceComboChange() {
  const QString text = DeviceCombo->currentText();
  for (int i = 0; i < DeviceCombo->count(); ++i) {
    if (DeviceCombo->itemText(i) == text) {
      StopPlayback();
      OpenSelectedDisk();
      return;
    }
  }
}

void TLiveForm::OpenBtnClick() {
  if (m_playSource == kFilePlay) {
    const QString chosen = ChooseOpenFile(Tr(TextKey::In_files) + QStringLiteral(" (*.in *.IN)"));
    if (chosen.isEmpty()) return;
    StopClipThread();
    CloseClipFiles();
    BlankPanel();
    // The index file and its companion (the name cut at its first ".in",
    // plus ".da"), both read-only.
    auto clip = std::make_unique<recorder::CClipReader>();
    if (!clip->Open(chosen.toStdString())) {
      ORVAN_LOG_WARN(kLogCategory, "clip %s or its data file cannot be opened",
                     chosen.toStdString().c_str());
      ShowLoadFailure(Q(clip->LastError()));
      return;
    }
    const std::string refusal = recorder::ClipRefusal(*clip, chosen.toStdString());
    if (!refusal.empty()) {
      ORVAN_LOG_WARN(kLogCategory, "%s", refusal.c_str());
      ShowLoadFailure(Q(refusal));
      return;
    }
    m_clipFiles = std::move(clip);
    m_clipName = QFileInfo(chosen).fileName();
    m_clipPath = chosen.toStdString();
    LoadRecordingMap();
    m_clipThread = new recorder::PlayFileThread(*this, m_clipFiles.get(), Sinks(), m_grabber.get());
    PlayBtnClick();
  } else if (m_playSource == kImagePlay) {
    const QString chosen =
        ChooseOpenFile(Tr(TextKey::Yuv_files) + QStringLiteral(" (*.yuv *.YUV)"));
    if (chosen.isEmpty()) return;
    LoadStillImage(chosen);
  }
}

void TLiveForm::RefreshTimerTimer() {
  if (!m_diskThread && !m_clipThread) return;
  NoteEventJumpLanding();
  RefreshPlayLabel();
  // The status line counts the damaged pictures as they come.
  DamageLabel->setText(DamageText());
  for (auto &v : m_viewers) v->Command(kViewerRefreshTime, nullptr);
}

QImage TLiveForm::VideoImagePicture() const { return VideoImage->pixmap().toImage(); }

// ---- play controls and play bar ----

void TLiveForm::DrivePlayers(const std::function<void(recorder::PlaybackThread &)> &operation,
                             PlayState state) {
  // The disk player first; at most one of the two exists.
  for (recorder::PlaybackThread *player : {static_cast<recorder::PlaybackThread *>(m_diskThread),
                                           static_cast<recorder::PlaybackThread *>(m_clipThread)}) {
    if (!player) continue;
    operation(*player);
    ShowPlayState(state);
  }
}

void TLiveForm::ShowPlayState(PlayState state) {
  m_playState = state;
  RefreshPlayLabel();
}

void TLiveForm::RefreshPlayLabel() {
  const recorder::PlaybackThread *player = ActivePlayer();
  QString text;
  switch (player ? m_playState : PlayState::kNone) {
    case PlayState::kNone:
      break;
    case PlayState::kPaused:
      text = Tr(TextKey::State_Pause);
      break;
    case PlayState::kPlaying:
    case PlayState::kForward:
      // At the end nothing plays any more, whatever was asked.
      if (player->AtEnd())
        text = Tr(TextKey::State_Ended);
      else
        text =
            m_playState == PlayState::kForward ? Tr(TextKey::State_Forward) : PlayingText(*player);
      break;
  }
  PlayLabel->setText(text);
}

void TLiveForm::PlayBtnClick() {
  DrivePlayers(
      [](recorder::PlaybackThread &p) {
        p.SetSpeed(recorder::kNormalSpeedEighths);
        p.Play();
      },
      PlayState::kPlaying);
}

void TLiveForm::PauseBtnClick() {
  DrivePlayers([](recorder::PlaybackThread &p) { p.Pause(); }, PlayState::kPaused);
}

void TLiveForm::ForwardBtnClick() {
  DrivePlayers(
      [](recorder::PlaybackThread &p) {
        p.Pause();
        p.Forward();
      },
      PlayState::kForward);
}

void TLiveForm::AudioCheckClick() {
  const bool on = AudioCheck->isChecked();
  if (m_diskThread) m_diskThread->SetAudio(on);
  if (m_clipThread) m_clipThread->SetAudio(on);
}

bool TLiveForm::AudioChecked() { return AudioCheck->isChecked(); }

void TLiveForm::PauseThreads() {
  if (m_diskThread) m_diskThread->Pause();
  if (m_clipThread) m_clipThread->Pause();
}

PlayBarGeometry TLiveForm::BarGeometry() const {
  return {PlayBarImage->x(), PlayBarImage->width(), PlayBarBtn->width()};
}

void TLiveForm::SetBarGeometry() {
  m_playBar.imageLeft.store(PlayBarImage->x());
  m_playBar.imageWidth.store(PlayBarImage->width());
  m_playBar.buttonWidth.store(PlayBarBtn->width());
  m_playBar.buttonLeft.store(PlayBarBtn->x());
}

void TLiveForm::MoveKnob(int left) {
  PlayBarBtn->move(left, PlayBarBtn->y());
  m_playBar.buttonLeft.store(left);
}

void TLiveForm::MovePlayBarButton(int left) {
  // While the user holds the knob or the track, the user's position wins.
  if (m_barDragging) return;
  MoveKnob(left);
}

void TLiveForm::StartBarDrag(int button, int x) {
  if (button != kLeftButton) return;
  m_barDragging = true;
  m_dragX = x;
  PauseThreads();
}

void TLiveForm::PlayBarBtnMouseDown(int button, int x) {
  m_knobPressLeft = PlayBarBtn->x();
  StartBarDrag(button, x);
}

void TLiveForm::PlayBarBtnMouseMove(int x) {
  if (!m_barDragging) return;
  // x is relative to the knob where it stands now and m_dragX to where the
  // pointer took it: the knob follows the pointer's travel since the press.
  MoveKnob(KnobLeftForDrag(PlayBarBtn->x() + x - m_dragX, BarGeometry()));
}

void TLiveForm::PlayBarBtnMouseUp(int button, int) {
  if (button != kLeftButton || !m_barDragging) return;
  m_barDragging = false;
  // A knob released where it was pressed plays on from where it paused;
  // moved, the players land on the picture under its new place at once.
  if (PlayBarBtn->x() != m_knobPressLeft && ActivePlayer()) {
    const int knobX = PlayBarBtn->mapTo(PlayBarImage->parentWidget(), QPoint(0, 0)).x() -
                      PlayBarImage->x() + PlayBarBtn->width() / 2;
    m_caseLog.Record(TextKey::Log_playbar_jump, {{"time", PlayBarTipAt(knobX).toStdString()}});
    SeekToBarX(PlayBarBtn->x() - PlayBarImage->x());
    return;
  }
  DrivePlayers([](recorder::PlaybackThread &p) { p.Play(); }, PlayState::kPlaying);
}

void TLiveForm::PlayBarImageMouseDown(int button, int x) {
  m_panning = false;
  m_panFromX = x;
  StartBarDrag(button, x);
}

void TLiveForm::PlayBarImageMouseUp(int button, int x) {
  if (button != kLeftButton || !m_barDragging) return;
  if (PlayBarTickJump(x)) return;
  m_barDragging = false;
  const PlayBarGeometry bar = BarGeometry();
  // A release off the track, or after panning, resumes where the press
  // paused; on it, the knob goes under the pointer and the player shows
  // the picture there at once.
  const bool inside = TrackReleaseRepositions(x, bar) && !m_panning;
  m_panning = false;
  if (inside && ActivePlayer()) {
    MoveKnob(KnobLeftForTrackRelease(x, bar));
    m_caseLog.Record(TextKey::Log_playbar_jump, {{"time", PlayBarTipAt(x).toStdString()}});
    SeekToBarX(x);
    return;
  }
  DrivePlayers([](recorder::PlaybackThread &p) { p.Play(); }, PlayState::kPlaying);
}

void TLiveForm::SearchBtnClick() {
  if (!m_diskThread) return;
  m_eventJump = {};
  const QDate d = DatePicker->date();
  const QTime t = TimePicker->time();
  const uint32_t seconds =
      PickedTimeToRecorderSeconds(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
  if (!SearchTimeRecorded(seconds)) return;
  m_diskThread->Pause();
  if (SearchDisk(seconds))
    m_caseLog.Record(TextKey::Log_search, {{"time", FormatRecorderTime(int64_t{seconds})}});
}

bool TLiveForm::SearchDisk(uint32_t seconds) {
  if (!m_diskThread) return false;
  m_diskThread->Pause();
  // A search that found its place plays from there, whatever the label
  // said before.
  if (m_diskThread->DiskChecked() && !m_diskThread->DiskValid()) return false;
  // The player finds the time and shows its pictures on its own thread: a
  // slow disk never holds the window.
  m_diskThread->SeekToTime(seconds);
  m_diskThread->Play();
  ShowPlayState(PlayState::kPlaying);
  return true;
}

void TLiveForm::EventBtnClick() {
  if (EventForm) EventForm->ShowList();
}

// ---- the playback threads' calls ----

namespace {
// The players write "Start : <time>" and "End : <time>": the word is the
// language's.
QString LocalTimeLabel(const std::string &text, const char *word, const QString &local) {
  const std::string prefix = std::string(word) + " : ";
  if (text.rfind(prefix, 0) != 0) return Q(text);
  return local + QStringLiteral(" : ") + Q(text.substr(prefix.size()));
}
}  // namespace

void TLiveForm::SetTimeLabels(const std::string &startText, const std::string &endText) {
  m_startTimeText = startText;
  m_endTimeText = endText;
  StartTimeLabel->setText(LocalTimeLabel(startText, "Start", Tr(TextKey::Start_time)));
  EndTimeLabel->setText(LocalTimeLabel(endText, "End", Tr(TextKey::End_time)));
}

void TLiveForm::SetRecordingLayout(int quad) {
  m_layout.SetPanelSize(LivePanel->width(), LivePanel->height());
  m_layout.SetRecordingLayout(quad);
}

void TLiveForm::CloseSavingIndicator() {
  // Closing ends the indicator's modal display; SaveAVIBtnClick then ends
  // the recording. The player repeats the call while it waits at the end.
  if (SaveForm && SaveForm->isVisible()) SaveForm->close();
}

void TLiveForm::ShowMessage(const std::string &text, const std::string &caption) {
  Inform(Q(text), Q(caption));
}

void TLiveForm::DiskStoppedAnswering() {
  const QString text = Q(CaptionFor(TextKey::DiskStoppedAnswering, m_language, m_texts));
  PlayLabel->setText(QString());
  QMetaObject::invokeMethod(
      this, [this, text] { Inform(text, windowTitle()); }, Qt::QueuedConnection);
}

// ---- language, configuration, About, full screen ----

void TLiveForm::ApplyLanguage(int language) {
  if (language != 0 && language != 1) return;
  m_language = language;
  m_captions = CCaptions(language, m_texts);
  const SourceCaptions captions = CaptionsForSource(m_playSource, language, m_texts);
  NamePanel->setText(Q(captions.namePanel));
  DeviceGroup->setTitle(Q(captions.deviceGroup));
  OpenBtn->setText(Tr(TextKey::Load_File));
  PlayGroup->setTitle(Tr(TextKey::Play));
  PlayBtn->setText(Tr(TextKey::Play));
  PauseBtn->setText(Tr(TextKey::Pause));
  ForwardBtn->setText(Tr(TextKey::Forward));
  AVIGroup->setTitle(Tr(TextKey::Backup));
  SaveAVIBtn->setText(Tr(TextKey::Save_AVI));
  StopAVIBtn->setText(Tr(TextKey::Stop_AVI));
  CopyBtn->setText(Tr(TextKey::Copy));
  SnapShotBtn->setText(Tr(TextKey::Snapshot));
  SearchGroup->setTitle(Tr(TextKey::Search));
  SearchBtn->setText(Tr(TextKey::Time_search));
  EventBtn->setText(Tr(TextKey::Event_search));
  PrevEventBtn->setText(Tr(TextKey::Prev_event));
  NextEventBtn->setText(Tr(TextKey::Next_event));
  FullScreenBtn->setText(Tr(TextKey::Full_screen));
  AudioCheck->setText(Tr(TextKey::PlayAudio));
  LanguageLabel->setText(Tr(TextKey::Language));
  CloseBtn->setText(Tr(TextKey::Close));
  SourceSelect->setTitle(Tr(TextKey::Source_select));
  HDDPlay->setText(Tr(TextKey::HDD_Play));
  FilePlay->setText(Tr(TextKey::File_Play));
  ImagePlay->setText(Tr(TextKey::Image_Play));
  OpenImage->setText(Tr(TextKey::Open_image));
  ReportItem->setText(Tr(TextKey::Rep_menu));
  CaseLogItem->setText(Tr(TextKey::Rep_log_menu));
  DiskSurveyItem->setText(Tr(TextKey::Disk_survey));
  Exit->setText(Tr(TextKey::Exit));
  ViewMenu->setTitle(Tr(TextKey::View));
  // The key after a tab is shown as the item's key, not registered.
  WholePictureItem->setText(Tr(TextKey::Whole_picture) + QStringLiteral("\tW"));
  BookmarksItem->setText(Tr(TextKey::Bookmarks_item) + QStringLiteral("\tCtrl+B"));
  RefreshBookmarksWindow();
  About->setText(Tr(TextKey::About));
  SnapShot1->setText(Tr(TextKey::Snapshot));
  ApplyTooltips();
  // The pickers' dates in the language's own way (month names in the
  // calendar too), always with four-digit years.
  const QLocale locale = language == 1 ? QLocale(QLocale::Russian, QLocale::Russia)
                                       : QLocale(QLocale::English, QLocale::UnitedStates);
  DatePicker->setLocale(locale);
  TimePicker->setLocale(locale);
  QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
  if (!dateFormat.contains(QStringLiteral("yyyy")))
    dateFormat.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
  DatePicker->setDisplayFormat(dateFormat);
  RefreshPlayLabel();
  SetTimeLabels(m_startTimeText, m_endTimeText);
  RebuildKeyHelp();
  ApplyLanguageToWindows();
  // Qt's own windows (file dialogs, the calendar) in the language too,
  // where Qt's translations are installed.
  static QTranslator qtTexts;
  QCoreApplication::removeTranslator(&qtTexts);
  if (language == 1 &&
      qtTexts.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qtTexts);
  // Captions keep the window's font: the controls grow to fit them.
  ArrangeSideColumn();
  RefreshSourceStatus();  // cut to the status line's width
}

QLocale TLiveForm::DatePickerLocale() const { return DatePicker->locale(); }

void TLiveForm::ApplyLanguageToWindows() {
  if (EventForm) EventForm->ApplyLanguage(m_captions);
  if (CopyForm) CopyForm->ApplyLanguage(m_captions);
  if (SaveForm) SaveForm->ApplyLanguage(m_captions);
  if (m_keysForm) m_keysForm->SetRows(m_keyHelp, m_captions);
  if (m_surveyForm) m_surveyForm->ApplyLanguage(m_captions);
}

void TLiveForm::DiskSurveyClick() {
  if (!m_diskHandle || !m_diskHandle->IsOpen()) {
    Inform(Tr(TextKey::Survey_needs_disk), Tr(TextKey::Survey_title));
    return;
  }
  if (!m_surveyForm) m_surveyForm = new TSurveyForm(this);
  m_surveyForm->ApplyLanguage(m_captions);
  m_surveyForm->Start(m_diskHandle->Path());
  m_surveyForm->show();
  m_surveyForm->raise();
}

void TLiveForm::LanguageComboChange() {
  const int index = LanguageCombo->currentIndex();
  ApplyLanguage(index);
  if (!WriteLanguageSetting(ConfigurationPath(), index))
    ORVAN_LOG_ERROR(kLogCategory, "the language setting cannot be written to %s",
                    ConfigurationPath().c_str());
}

void TLiveForm::AboutClick() { Inform(Q(AboutText()), Tr(TextKey::Version)); }

void TLiveForm::EnableControls(bool enabled) {
  for (QWidget *w : std::initializer_list<QWidget *>{
           DeviceCombo, DatePicker,    TimePicker, AudioCheck,    DeviceGroup,  PlayGroup,
           SearchGroup, AVIGroup,      PlayBarBtn, LanguageCombo, OpenBtn,      PlayBtn,
           PauseBtn,    ForwardBtn,    SaveAVIBtn, StopAVIBtn,    CopyBtn,      SearchBtn,
           EventBtn,    FullScreenBtn, CloseBtn,   SnapShotBtn,   PrevEventBtn, NextEventBtn})
    w->setEnabled(enabled);
  for (QAction *a : {SourceSelectAction, HDDPlay, FilePlay, ImagePlay, Exit, About})
    a->setEnabled(enabled);
}

void TLiveForm::FullScreenBtnClick() {
  m_fullScreen = !m_fullScreen;
  if (m_fullScreen) {
    m_windowedGeometry = geometry();
    m_windowedClientSize = m_client->size();
    EnableControls(false);
    // Only the video: no menu and no status line.
    menuBar()->hide();
    statusBar()->hide();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const FullScreenGeometry g = FullScreenFor(screen.width(), screen.height());
    m_client->setFixedSize(g.windowWidth, g.windowHeight);
    FormImage->setGeometry(0, 0, m_client->width(), m_client->height());
    setGeometry(0, 0, g.windowWidth, g.windowHeight);
    LivePanel->setGeometry(0, 0, g.panelWidth, g.panelHeight);
    LivePanel->raise();
    raise();
    activateWindow();
  } else {
    EnableControls(true);
    menuBar()->show();
    statusBar()->show();
    m_client->setMinimumSize(kClientWidth + m_sideExtraWidth, kClientHeight);
    m_client->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_client->resize(m_windowedClientSize);
    // The window's own limits follow the client area's at once, or the old
    // full-screen minimum would keep the window at the screen's size.
    if (layout()) layout()->activate();
    setGeometry(m_windowedGeometry);
    PlaceControls(m_windowedClientSize);
  }
  LayoutViewers(DisplayMode);
}

void TLiveForm::FormKeyPress(int key) {
  if (key == kEscapeKey && m_magnifier && m_magnifier->isVisible()) {
    CloseMagnifier();
    return;
  }
  if (key == kEscapeKey && m_fullScreen) FullScreenBtnClick();
}

// ---- viewer layout and zoom ----

void TLiveForm::LayoutViewers(uint8_t mode) {
  m_layout.SetPanelSize(LivePanel->width(), LivePanel->height());
  m_layout.LayoutViewers(mode);
}

void TLiveForm::ToggleChannelZoom(int channel) {
  m_layout.SetPanelSize(LivePanel->width(), LivePanel->height());
  m_layout.ToggleChannelZoom(channel);
}

void TLiveForm::OnViewerDblClick(int channel) {
  m_layout.SetPanelSize(LivePanel->width(), LivePanel->height());
  m_layout.OnViewerDblClick(channel);
}

void TLiveForm::OnViewerMouseDown(int, int button, int x, int y) {
  m_layout.OnViewerMouseDown(button, x, y);
}

void TLiveForm::OnViewerMouseUp(int, int button, int, int) {
  if (button == kRightButton && m_fullScreen) FullScreenBtnClick();
}

}  // namespace orvan::app

namespace orvan::app {

bool TLiveForm::LoadStillImage(const QString &path) {
  QImage picture;
  YuvStill still;
  const YuvReadResult result = orvan::app::LoadStillImage(path.toStdString(), picture, &still);
  if (result != YuvReadResult::Ok) {
    ORVAN_LOG_WARN(kLogCategory, "still picture %s refused: %s", path.toStdString().c_str(),
                   YuvRefusalText(result));
    ShowLoadFailure(path + QStringLiteral(": ") + QString::fromLatin1(YuvRefusalText(result)));
    return false;
  }
  VideoImage->setPixmap(QPixmap::fromImage(picture));
  m_stillShown = true;
  m_stillName = QFileInfo(path).fileName();
  m_stillSeconds = still.recordedSeconds;
  const auto opened = platform::OpenSource(path.toStdString(), platform::SourceKind::kFile);
  m_stillSource = platform::RegisterSource(opened.fd, path.toStdString());
  if (opened.fd >= 0) ::close(opened.fd);
  return true;
}

}  // namespace orvan::app
