#include "app/window/live_form.h"

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
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimeEdit>
#include <QTimer>

#include "app/core/configuration.h"
#include "app/still_image.h"
#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/picture_control.h"
#include "app/window/save_form.h"
#include "display/display_grabber.h"
#include "display/display_manager.h"
#include "display/widgets/widget_window.h"
#include "media/codec_library.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "recorder/clip_format.h"
#include "recorder/disk_discovery.h"
#include "recorder/play_file_thread.h"
#include "recorder/play_hdd_thread.h"

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

// Shrinks a button's font until its caption fits its designed width (down
// to 7 pixels), so longer translations stay readable on the fixed layout.
void FitCaption(QPushButton *button) {
  QFont font = button->parentWidget() ? button->parentWidget()->font() : button->font();
  const int room = button->width() - 6;
  for (int px = font.pixelSize() > 0 ? font.pixelSize() : 11; px >= 7; --px) {
    font.setPixelSize(px);
    if (QFontMetrics(font).horizontalAdvance(button->text()) <= room) break;
  }
  button->setFont(font);
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
  if (window) window->SearchDisk(seconds);
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
    return QMessageBox::question(this, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  Inform = [this](const QString &text, const QString &caption) {
    QMessageBox::information(this, caption, text, QMessageBox::Ok);
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
  TimePicker = Named(new QTimeEdit(SearchGroup), "TimePicker");
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
  LanguageCombo->addItems({QStringLiteral("English"), QStringLiteral("Russian")});
  LanguageCombo->setCurrentIndex(0);
  CloseBtn = Button(m_client, "CloseBtn", "Close", 856, 504, 57, 25);
  StatusLabel = Named(new QLabel(m_client), "StatusLabel");
  StatusLabel->setGeometry(736, 434, 201, 64);
  StatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  StyleYellowOnBlack(StatusLabel);
  StatusLabel->hide();  // shown once a drive is chosen

  RefreshTimer = Named(new QTimer(this), "RefreshTimer");
  RefreshTimer->setInterval(1000);
  RefreshTimer->start();

  SetBarGeometry();
  RedrawPlayBar();
  for (QWidget *w : m_client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    m_designedPlaces.emplace_back(w, w->geometry());
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
  Exit = Named(SourceSelect->addAction(QStringLiteral("Exit")), "Exit");
  for (QAction *a : {HDDPlay, FilePlay, ImagePlay}) a->setCheckable(true);
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
  connect(Exit, &QAction::triggered, this, [this] { ExitClick(); });
  connect(About, &QAction::triggered, this, [this] { AboutClick(); });
  connect(SnapShot1, &QAction::triggered, this, [this] { SnapShot1Click(); });

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
  connect(RefreshTimer, &QTimer::timeout, this, [this] { UpdateCurrentTimeLabel(); });
  VideoImage->OnMouseUp = [this](int b, int x, int y) { VideoImageMouseUp(b, x, y); };

  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { FormKeyPress(kEscapeKey); });
  InstallKeys();
}

// ---- life cycle ----

void TLiveForm::FormCreate() {
  m_texts = LoadLanguageTexts();
  if (std::optional<int> stored = ReadLanguageSetting(ConfigurationPath())) {
    LanguageCombo->setCurrentIndex(*stored);
    ApplyLanguage(*stored);
  }
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
  FilePlayClick();
  LayoutViewers(DisplayMode);
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

bool TLiveForm::ConfirmClose() {
  return AskYesNo(Q(m_texts.Get(TextKey::Close_Player)), Q(m_texts.Get(TextKey::Warning)));
}

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
  PlayLabel->setText(QString());
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
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);
  ScanRecorderDisks();
  if (DeviceCombo->currentIndex() < 0) {
    // Drives that exist but could not be read (no rights) are named after
    // the message, with how to get access.
    QString text = Q(m_texts.Get(TextKey::CantdetectHDDdevice));
    for (const std::string &m : m_scanMessages) text += QStringLiteral("\n\n") + Q(m);
    Inform(text, windowTitle());
  }
}

void TLiveForm::FilePlayClick() {
  if (m_playSource == kFilePlay) return;
  StopPlayback();
  SetPlaySource(kFilePlay);
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
    const QString chosen = ChooseOpenFile(QStringLiteral("IN files (*.in *.IN)"));
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
    LoadRecordingMap();
    m_clipThread = new recorder::PlayFileThread(*this, m_clipFiles.get(), Sinks(), m_grabber.get());
    PlayBtnClick();
  } else if (m_playSource == kImagePlay) {
    const QString chosen = ChooseOpenFile(QStringLiteral("YUV files (*.yuv *.YUV)"));
    if (chosen.isEmpty()) return;
    LoadStillImage(chosen);
  }
}

void TLiveForm::RefreshTimerTimer() {
  if (!m_diskThread && !m_clipThread) return;
  for (auto &v : m_viewers) v->Command(kViewerRefreshTime, nullptr);
}

QImage TLiveForm::VideoImagePicture() const { return VideoImage->pixmap().toImage(); }

// ---- play controls and play bar ----

void TLiveForm::DrivePlayers(const std::function<void(recorder::PlaybackThread &)> &operation,
                             const QString &state) {
  // The disk player first; at most one of the two exists.
  for (recorder::PlaybackThread *player : {static_cast<recorder::PlaybackThread *>(m_diskThread),
                                           static_cast<recorder::PlaybackThread *>(m_clipThread)}) {
    if (!player) continue;
    operation(*player);
    // "Play" says the speed it plays at.
    PlayLabel->setText(state == QLatin1String("Play") ? PlayingText(*player) : state);
  }
}

void TLiveForm::PlayBtnClick() {
  DrivePlayers(
      [](recorder::PlaybackThread &p) {
        p.SetSpeed(recorder::kNormalSpeedEighths);
        p.Play();
      },
      QStringLiteral("Play"));
}

void TLiveForm::PauseBtnClick() {
  DrivePlayers([](recorder::PlaybackThread &p) { p.Pause(); }, QStringLiteral("Pause"));
}

void TLiveForm::ForwardBtnClick() {
  DrivePlayers(
      [](recorder::PlaybackThread &p) {
        p.Pause();
        p.Forward();
      },
      QStringLiteral("FFx20"));
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

void TLiveForm::PlayBarBtnMouseDown(int button, int x) { StartBarDrag(button, x); }

void TLiveForm::PlayBarBtnMouseMove(int x) {
  if (!m_barDragging) return;
  // x is relative to the knob where it stands now and m_dragX to where the
  // pointer took it: the knob follows the pointer's travel since the press.
  MoveKnob(KnobLeftForDrag(PlayBarBtn->x() + x - m_dragX, BarGeometry()));
}

void TLiveForm::PlayBarBtnMouseUp(int button, int) {
  if (button != kLeftButton || !m_barDragging) return;
  m_barDragging = false;
  DrivePlayers(
      [](recorder::PlaybackThread &p) {
        p.RequestSeek();
        p.Play();
      },
      QStringLiteral("Play"));
}

void TLiveForm::PlayBarImageMouseDown(int button, int x) { StartBarDrag(button, x); }

void TLiveForm::PlayBarImageMouseUp(int button, int x) {
  if (button != kLeftButton || !m_barDragging) return;
  if (PlayBarTickJump(x)) return;
  m_barDragging = false;
  const PlayBarGeometry bar = BarGeometry();
  // A release off the track resumes where the press paused; on it, the
  // knob goes under the pointer and the player repositions there.
  const bool inside = TrackReleaseRepositions(x, bar);
  if (inside && (m_diskThread || m_clipThread)) MoveKnob(KnobLeftForTrackRelease(x, bar));
  DrivePlayers(
      [inside](recorder::PlaybackThread &p) {
        if (inside) {
          p.Pause();
          p.RequestSeek();
        }
        p.Play();
      },
      QStringLiteral("Play"));
}

void TLiveForm::SearchBtnClick() {
  if (!m_diskThread) return;
  const QDate d = DatePicker->date();
  const QTime t = TimePicker->time();
  const uint32_t seconds =
      PickedTimeToRecorderSeconds(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
  if (!SearchTimeRecorded(seconds)) return;
  m_diskThread->Pause();
  SearchDisk(seconds);
}

void TLiveForm::SearchDisk(uint32_t seconds) {
  if (!m_diskThread) return;
  m_diskThread->Pause();
  // A search that found its place plays from there, whatever the label
  // said before.
  // The player searches on its own thread: a slow disk never holds the window.
  if (m_diskThread->SearchTimeOnPlayer(seconds)) PlayLabel->setText(PlayingText(*m_diskThread));
}

void TLiveForm::EventBtnClick() {
  if (EventForm) EventForm->ShowList();
}

// ---- the playback threads' calls ----

void TLiveForm::SetTimeLabels(const std::string &startText, const std::string &endText) {
  StartTimeLabel->setText(Q(startText));
  EndTimeLabel->setText(Q(endText));
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
  const SourceCaptions captions = CaptionsForSource(m_playSource, language, m_texts);
  NamePanel->setText(Q(captions.namePanel));
  DeviceGroup->setTitle(Q(captions.deviceGroup));
  auto text = [&](TextKey key) { return Q(CaptionFor(key, language, m_texts)); };
  OpenBtn->setText(text(TextKey::Load_File));
  PlayGroup->setTitle(text(TextKey::Play));
  PlayBtn->setText(text(TextKey::Play));
  PauseBtn->setText(text(TextKey::Pause));
  ForwardBtn->setText(text(TextKey::Forward));
  AVIGroup->setTitle(text(TextKey::Backup));
  SaveAVIBtn->setText(text(TextKey::Save_AVI));
  StopAVIBtn->setText(text(TextKey::Stop_AVI));
  CopyBtn->setText(text(TextKey::Copy));
  SnapShotBtn->setText(text(TextKey::Snapshot));
  SearchGroup->setTitle(text(TextKey::Search));
  SearchBtn->setText(text(TextKey::Time_search));
  EventBtn->setText(text(TextKey::Event_search));
  FullScreenBtn->setText(text(TextKey::Full_screen));
  AudioCheck->setText(text(TextKey::PlayAudio));
  LanguageLabel->setText(text(TextKey::Language));
  CloseBtn->setText(text(TextKey::Close));
  SourceSelect->setTitle(text(TextKey::Source_select));
  HDDPlay->setText(text(TextKey::HDD_Play));
  FilePlay->setText(text(TextKey::File_Play));
  ImagePlay->setText(text(TextKey::Image_Play));
  Exit->setText(text(TextKey::Exit));
  About->setText(text(TextKey::About));
  for (QPushButton *b : {OpenBtn, PlayBtn, PauseBtn, ForwardBtn, SaveAVIBtn, StopAVIBtn, CopyBtn,
                         SnapShotBtn, SearchBtn, EventBtn, FullScreenBtn, CloseBtn})
    FitCaption(b);
}

void TLiveForm::LanguageComboChange() {
  const int index = LanguageCombo->currentIndex();
  ApplyLanguage(index);
  if (!WriteLanguageSetting(ConfigurationPath(), index))
    ORVAN_LOG_ERROR(kLogCategory, "the language setting cannot be written to %s",
                    ConfigurationPath().c_str());
}

void TLiveForm::AboutClick() { Inform(Q(AboutText()), QStringLiteral("Version")); }

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
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const FullScreenGeometry g = FullScreenFor(screen.width(), screen.height());
    m_client->setFixedSize(g.windowWidth, std::max(0, g.windowHeight - menuBar()->height()));
    FormImage->setGeometry(0, 0, m_client->width(), m_client->height());
    setGeometry(0, 0, g.windowWidth, g.windowHeight);
    LivePanel->setGeometry(0, 0, g.panelWidth, g.panelHeight);
    LivePanel->raise();
    raise();
    activateWindow();
  } else {
    EnableControls(true);
    m_client->setMinimumSize(kClientWidth, kClientHeight);
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
