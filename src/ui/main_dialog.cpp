// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_dialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QTime>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QShortcut>

#include "commands/command_table.h"
#include "library/lesson_folder.h"
#include "library/playlist_file.h"
#include "platform/replacing_file.h"
#include "skin/about_dialog.h"
#include "skin/skin_art.h"
#include "skin/skin_drawing.h"
#include "ui/key_bindings.h"
#include "ui/settings_dialog.h"
#include "ui/window_scale.h"

namespace {

// Dialog units of the window's template to pixels (the template font's base units).
QRect FromDialogUnits(int x, int y, int w, int h) {
  auto px = [](int du) { return static_cast<int>(std::lround(du * 1.5)); };
  return QRect(px(x), px(y), px(w), px(h));
}

struct GlyphPlace {
  int id;
  int x, y, w, h;
  int kind;
};
constexpr GlyphPlace kGlyphPlaces[12] = {
    {kIdBegin, 141, 14, 31, 9, GlyphButton::kBegin},
    {kIdPlay, 141, 24, 31, 9, GlyphButton::kPlay},
    {kIdPause, 141, 34, 31, 9, GlyphButton::kPause},
    {kIdStop, 141, 44, 31, 9, GlyphButton::kStop},
    {kIdEnd, 141, 54, 31, 9, GlyphButton::kEnd},
    {kIdOpen, 141, 64, 31, 9, GlyphButton::kOpen},
    {kIdMinimise, 162, 1, 7, 7, GlyphButton::kMinimise},
    {kIdClose, 170, 1, 7, 7, GlyphButton::kClose},
    {kIdAdd, 118, 84, 8, 7, GlyphButton::kAdd},
    {kIdDelete, 110, 84, 8, 7, GlyphButton::kDelete},
    {kIdDeleteAll, 102, 84, 8, 7, GlyphButton::kDeleteAll},
    {kIdExchange, 127, 84, 8, 7, GlyphButton::kExchange},
};

struct ModePlace {
  int id;
  const char* caption;
  int x;
};
constexpr ModePlace kModePlaces[6] = {
    {kIdManual, QT_TRANSLATE_NOOP("MainDialog", "手动"), 5},
    {kIdRead, QT_TRANSLATE_NOOP("MainDialog", "阅读"), 33},
    {kIdRepeat, QT_TRANSLATE_NOOP("MainDialog", "复读"), 62},
    {kIdRecord, QT_TRANSLATE_NOOP("MainDialog", "录音"), 91},
    {kIdPlayBack, QT_TRANSLATE_NOOP("MainDialog", "回放"), 120},
    {kIdCompare, QT_TRANSLATE_NOOP("MainDialog", "对比"), 148},
};

constexpr int kSliderIds[4] = {kIdProgress, kIdVolume, kIdSpeed, kIdBalance};

}  // namespace

MainDialog::MainDialog(AudioBackend& a, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), audio(a) {
  engine = std::make_unique<Engine>(audio, registry, playlist, this);
  CreateControls();
  InitMembers();
}

MainDialog::~MainDialog() {
  // Every thread ends before anything it uses goes, whichever way the window closed.
  engine->Shutdown();
  if (waveformPanel != nullptr) waveformPanel->StopDrawThread();
  engine.reset();
}

void MainDialog::InitMembers() {
  ProbeStartDirectory();
  engine->SetProgramDir(programDir.empty() ? "./" : programDir);
  titleColor = 0;
}

void MainDialog::ProbeStartDirectory() {
  // Where the program was started: the recording and the playlist saved at
  // exit go there, whatever folder the file dialogs move to later.
  static const char kProbe[] = "___1234567890____.__1234567___";
  programDir.clear();
  FILE* f = std::fopen(kProbe, "wx");
  if (f == nullptr) return;
  std::fclose(f);
  char* real = ::realpath(kProbe, nullptr);
  if (real != nullptr) {
    const std::string path = real;
    std::free(real);
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) programDir = path.substr(0, slash + 1);
  }
  std::remove(kProbe);
}

void MainDialog::CreateControls() {
  setWindowTitle(QStringLiteral("Kestro"));
  resize(FromDialogUnits(0, 0, 185, 254).size());
  setFont(SkinFont());
  for (size_t i = 0; i < std::size(kModePlaces); ++i) {
    auto* b = new SkinButton(tr(kModePlaces[i].caption), this);
    b->setGeometry(FromDialogUnits(kModePlaces[i].x, 98, 26, 20));
    b->setProperty("controlId", kModePlaces[i].id);
    modeButtons[i] = b;
  }
  for (size_t i = 0; i < std::size(kGlyphPlaces); ++i) {
    const GlyphPlace& g = kGlyphPlaces[i];
    auto* b = new GlyphButton(this);
    b->setGeometry(FromDialogUnits(g.x, g.y, g.w, g.h));
    b->setProperty("controlId", g.id);
    glyphButtons[i] = b;
  }
  for (size_t i = 0; i < 4; ++i) {
    sliders[i] = new SkinSlider(this);
    sliders[i]->setProperty("controlId", kSliderIds[i]);
    sliders[i]->SetWrapping(kSliderIds[i] != kIdVolume);
  }
  playlistBox = new QListWidget(this);
  playlistBox->setProperty("controlId", kIdPlaylist);
  playlistBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  playlistBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // One line per entry: with uniform rows a change to one entry (greyed when
  // it cannot be played) does not lay out a list of 100,000 again.
  playlistBox->setUniformItemSizes(true);
  waveformPanel = new WaveformPanel(this);
  waveformPanel->setProperty("controlId", kIdPanelPlace);
  waveformPanel->hide();
  transcriptView = new TranscriptView(this);
  transcriptView->hide();
  transcriptView->onChosen = [this](int index) { engine->CommandRepeatSentence(index); };
  // The sentence heard, over the foot of the waveform: wrapped, any script.
  sentenceLabel = new QLabel(this);
  sentenceLabel->setWordWrap(true);
  sentenceLabel->setAlignment(Qt::AlignCenter);
  sentenceLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
  sentenceLabel->setStyleSheet(
      QStringLiteral("color: #FFFFFF; background: rgba(0, 0, 0, 170); font-size: 11px;"));
  sentenceLabel->hide();
  ConnectControls();
}

QWidget* MainDialog::Control(int id) const {
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (w->property("controlId").toInt() == id) return w;
  }
  return nullptr;
}

SkinButton* MainDialog::ModeButton(int id) const {
  return dynamic_cast<SkinButton*>(Control(id));
}

SkinSlider* MainDialog::Slider(int id) const {
  return dynamic_cast<SkinSlider*>(Control(id));
}

void MainDialog::AssignGlyphs() {
  for (size_t i = 0; i < std::size(kGlyphPlaces); ++i)
    glyphButtons[i]->SetGlyph(kGlyphPlaces[i].kind);
}

void MainDialog::Message(const QString& text, const QString& caption) {
  if (messageBox) {
    messageBox(text, caption);
  } else {
    QMessageBox::warning(this, caption, text);
  }
}

bool MainDialog::OnInitDialog() {
  setWindowIcon(QIcon(QPixmap::fromImage(DrawKestroIcon(64))));
  setWindowTitle(QStringLiteral("Kestro"));
  AssignGlyphs();
  if (skinBitmap.LoadFile("Skin/main.bmp") != 0) {
    QFile file(QStringLiteral("Skin/main.bmp"));
    ownSkin = file.open(QIODevice::ReadOnly) &&
              QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex() ==
                  KESTRO_OWN_SKIN_SHA256;
    // The file has the Chinese words; other words need the face drawn afresh.
    const SkinLabels labels = Labels(), drawn;
    faceTranslated = labels.progress != drawn.progress || labels.balance != drawn.balance ||
                     labels.volume != drawn.volume || labels.speed != drawn.speed;
    setFixedSize(static_cast<int>(skinBitmap.GetWidth()), static_cast<int>(skinBitmap.GetHeight()));
    titleStrip = QRect(QPoint(100, 1), QPoint(static_cast<int>(skinBitmap.GetWidth()) - 1, 12));
  } else {
    Message(QStringLiteral("main.bmp file lost"), QStringLiteral("Kestro"));
    titleStrip = QRect();
  }
  registry.ScanPlugins("Arch/*.so");
  LayoutControls();
  engine->ReleaseBuffers();
  allocated = !failAllocation && engine->AllocateBuffers();
  if (!allocated) {
    Message(QStringLiteral("Malloc memory error"), QStringLiteral("Kestro"));
    return false;
  }
  EnableTransport(false);
  // A save killed half-way leaves its temporary file; the list itself is whole.
  ReplacingFile::RemoveLeftovers("Kestro.m3u");
  std::string why;
  struct stat st;
  if (LoadPlaylist(playlist, "Kestro.m3u", &why) < 0 && ::lstat("Kestro.m3u", &st) == 0) {
    listUnreadable = true;
    Message(tr("无法读取播放列表 Kestro.m3u: %1。\n退出时不会覆盖它。")
                .arg(QString::fromStdString(why)),
            QStringLiteral("Kestro"));
  }
  // The engine's first open takes the selection.
  AddFiles(startFiles);
  if (!resumePath.empty()) {
    std::string note;
    if (!resume.Load(resumePath, &note)) std::fprintf(stderr, "kestro: %s\n", note.c_str());
    if (resumePlaces) engine->SetResumeStore(&resume);
    if (const auto kept = resume.KeptSettings())
      engine->ApplySettings(kept->count, kept->vertical, kept->seconds, kept->percent);
  }
  const bool places = !resumePath.empty() && resumePlaces;
  actions[kCmdResume]->setEnabled(places);
  actions[kCmdRememberSettings]->setEnabled(!resumePath.empty());
  actions[kCmdResume]->setChecked(places && resume.Enabled());
  actions[kCmdRememberSettings]->setChecked(resume.KeptSettings().has_value());
  engine->StartThreads();
  started = true;
  // The window follows the engine's choice of entry and tells the learner once
  // when a sound device will not open or a recording could not be stored.
  followTimer = new QTimer(this);
  connect(followTimer, &QTimer::timeout, this, [this] { Follow(); });
  followTimer->start(kFollowMs);
  return true;
}

void MainDialog::LayoutControls() {
  waveformPanel->CreateOverControl(skin_layout::kDisplay);
  playlistBox->setGeometry(skin_layout::kDisplay);
  transcriptView->setGeometry(skin_layout::kDisplay);
  const QRect display = skin_layout::kDisplay;
  sentenceLabel->setGeometry(display.left(), display.bottom() - 33, display.width(), 34);
  const QRect places[4] = {skin_layout::kProgress, skin_layout::kVolume, skin_layout::kSpeed,
                           skin_layout::kBalance};
  const int maxima[4] = {Engine::kProgressMax, 100, 100, 100};
  const int starts[4] = {0, 50, 0, 50};
  for (int i = 0; i < 4; ++i) {
    sliders[i]->SetRange(0, maxima[i]);
    sliders[i]->setGeometry(places[i]);
    sliders[i]->SetColors(0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC80040);
    sliders[i]->SetPosition(starts[i]);
  }
  waveformPanel->show();
  playlistBox->hide();
  playlistVisible = false;
}

void MainDialog::ConnectControls() {
  // Each button runs the command of its menu item.
  for (const Command& command : Commands()) {
    auto* b =
        command.button != 0 ? dynamic_cast<QAbstractButton*>(Control(command.button)) : nullptr;
    const int c = command.id;
    if (b != nullptr) connect(b, &QAbstractButton::clicked, this, [this, c] { RunCommand(c); });
  }
  auto* exchange = dynamic_cast<QAbstractButton*>(Control(kIdExchange));
  connect(exchange, &QAbstractButton::clicked, this, [this] { TogglePlaylistView(); });
  for (SkinSlider* s : sliders) {
    s->SetNotifier(
        [this](SkinSlider* slider, int code, int position) { OnSlider(slider, code, position); });
  }
  connect(playlistBox, &QListWidget::currentRowChanged, this,
          [this](int row) { playlist.Select(row); });
  connect(playlistBox, &QListWidget::itemDoubleClicked, this, [this] { PlaySelected(); });
  CreateMenus();
  CreateAccelerators();
  SetToolTips();
  setAcceptDrops(true);
}

void MainDialog::CreateMenus() {
  std::map<CommandMenu, QMenu*> menu;
  menus[0] = menu[CommandMenu::kMain] = new QMenu(QStringLiteral("Main"), this);
  menus[1] = menu[CommandMenu::kPlaylist] = new QMenu(QStringLiteral("PlayList"), this);
  menus[2] = menu[CommandMenu::kTitle] = new QMenu(QStringLiteral("Title"), this);
  // A menu's items, then its submenus, each filled before the next follows.
  std::function<void(CommandMenu)> fill = [&](CommandMenu which) {
    QMenu* m = menu[which];
    std::vector<const Command*> items;
    for (const Command& command : Commands())
      if (command.menu == which) items.push_back(&command);
    std::sort(items.begin(), items.end(),
              [](const Command* a, const Command* b) { return a->place < b->place; });
    for (const Command* item : items) {
      const Command& command = *item;
      if (command.separatorBefore) m->addSeparator();
      QAction* a = m->addAction(tr(command.caption));
      a->setCheckable(command.checkable);
      const int c = command.id;
      connect(a, &QAction::triggered, this, [this, c] { RunCommand(c); });
      actions[c] = a;
    }
    for (const CommandSubmenu& sub : CommandSubmenus()) {
      if (sub.parent != which) continue;
      if (sub.separatorBefore) m->addSeparator();
      menu[sub.menu] = m->addMenu(tr(sub.caption));
      fill(sub.menu);
    }
  };
  for (CommandMenu top : {CommandMenu::kMain, CommandMenu::kPlaylist, CommandMenu::kTitle})
    fill(top);
  actions[kCmdTranscriptSplit]->setChecked(true);
  ShowScaleChoice();
}

void MainDialog::CreateAccelerators() {
  for (const Command& command : Commands()) {
    if (command.key == nullptr) continue;
    QShortcut* shortcut = Accelerator(
        QKeySequence(QString::fromLatin1(command.key), QKeySequence::PortableText), command.id);
    // Shown in the menu item; the window's shortcut is the one that acts.
    if (QAction* a = Action(command.id)) {
      a->setShortcut(shortcut->key());
      a->setShortcutContext(Qt::WidgetShortcut);
    }
  }
}

void MainDialog::SetToolTips() {
  // What each control does, and its key.
  for (const Command& command : Commands()) {
    if (command.button == 0 || command.tip == nullptr) continue;
    QString text = tr(command.tip);
    if (QAction* a = Action(command.id); a != nullptr && !a->shortcut().isEmpty())
      text += QStringLiteral(" (%1)").arg(a->shortcut().toString(QKeySequence::NativeText));
    Control(command.button)->setToolTip(text);
  }
  static const std::pair<int, const char*> kOtherTips[] = {
      {kIdExchange, QT_TR_NOOP("在播放列表和波形之间切换")},
      {kIdProgress, QT_TR_NOOP("进度：点击或拖动跳到那里（暂停时也可以）")},
      {kIdVolume, QT_TR_NOOP("音量大小")},
      {kIdSpeed, QT_TR_NOOP("速度：向右变慢，最左是原速")},
      {kIdBalance, QT_TR_NOOP("左右平衡")},
  };
  for (const auto& [id, tip] : kOtherTips) {
    QString text = tr(tip);
    if (dynamic_cast<SkinSlider*>(Control(id)) != nullptr) text += tr(" (点击后用 ←/→、PgUp/PgDn)");
    Control(id)->setToolTip(text);
  }
  ShowAutoManual(false);
}

void MainDialog::ShowAutoManual(bool automatic) {
  // The caption says the mode; the tooltip what a press does.
  SkinButton* b = ModeButton(kIdManual);
  b->setText(automatic ? tr("自动") : tr("手动"));
  const QString key = Action(kCmdAutoManual)->shortcut().toString(QKeySequence::NativeText);
  b->setToolTip((automatic ? tr("现在是自动：每句自动重复。按下改为手动，由你标记段落")
                           : tr("现在是手动：由你标记段落。按下改为自动，每句自动重复")) +
                QStringLiteral(" (%1)").arg(key));
  b->update();
}

QShortcut* MainDialog::Accelerator(const QKeySequence& key, int command) {
  auto* shortcut = new QShortcut(key, this);
  shortcut->setContext(Qt::WindowShortcut);
  // A greyed command's accelerator does nothing, as its button and menu item.
  connect(shortcut, &QShortcut::activated, this, [this, command] {
    if (actions.count(command) && !actions[command]->isEnabled()) return;
    RunCommand(command);
  });
  return shortcut;
}

void MainDialog::BindKeys(const KeyBindings& keys) {
  for (const KeyBindings::Binding& b : keys.Bindings())
    Accelerator(b.key, b.command);
}

QAction* MainDialog::Action(int command) const {
  const auto it = actions.find(command);
  return it == actions.end() ? nullptr : it->second;
}

void MainDialog::Follow() {
  RefreshPlaylistBox();
  CheckFaults();
  CheckRefusals();
  ShowWhereTheLearnerIs();
  if (followHook) followHook();
  // Ten times a second while anything moves: the time and the caption follow
  // the sound closely enough to read. Once nothing has moved for a second,
  // once a second: a paused window then costs the laptop nothing.
  const EngineStatus s = engine->Status();
  const bool moving = s.soundRunning || s.opening || s.openPending || s.flags != 0;
  restingTicks = moving ? 0 : restingTicks + 1;
  const int interval = restingTicks > 10 ? kRestingFollowMs : kFollowMs;
  if (followTimer->interval() != interval) followTimer->start(interval);
}

void MainDialog::Hurry() {
  // Something asked: follow closely again at once.
  restingTicks = 0;
  if (followTimer != nullptr && followTimer->interval() != kFollowMs) followTimer->start(kFollowMs);
}

void MainDialog::RunCommand(int command) {
  Hurry();
  const Command* c = CommandWithId(command);
  if (c == nullptr) return;
  if (c->run != nullptr) {
    c->run(*engine);
    ShowEngineCommand(command);
  } else {
    RunWindowCommand(command);
  }
}

void MainDialog::ShowEngineCommand(int command) {
  switch (command) {
    case kCmdAutoManual:
      ShowAutoManual(engine->Status().autoMode);
      break;
    case kCmdTranscriptSplit:
      actions[kCmdTranscriptSplit]->setChecked(engine->TranscriptSplit());
      break;
    case kCmdAdaptiveSplit:
      actions[kCmdAdaptiveSplit]->setChecked(engine->AdaptiveSplit());
      break;
    case kCmdKeepPitch:
      // Takes effect at once on what plays, as a speed change does.
      actions[kCmdKeepPitch]->setChecked(engine->KeepPitch());
      break;
  }
}

void MainDialog::RunWindowCommand(int command) {
  switch (command) {
    case kCmdNewFile:
      OpenFiles(false);
      break;
    case kCmdAdd:
      OpenFiles(true);
      break;
    case kCmdDelete:
      DeleteSelected();
      break;
    case kCmdDeleteAll:
      DeleteAll();
      break;
    case kCmdSaveList:
      SaveList();
      break;
    case kCmdSettings:
      ShowSettings();
      break;
    case kCmdHideText:
      textHidden = !textHidden;
      actions[kCmdHideText]->setChecked(textHidden);
      transcriptView->SetTextHidden(textHidden);
      FollowSentence(engine->Status());
      break;
    case kCmdExportSentences:
      ExportSentences();
      break;
    case kCmdResume:
      resume.SetEnabled(!resume.Enabled());
      actions[kCmdResume]->setChecked(resume.Enabled());
      resume.Save();
      break;
    case kCmdRememberSettings:
      ToggleRememberedSettings();
      break;
    case kCmdScaleAuto:
    case kCmdScale1:
    case kCmdScale2:
    case kCmdScale3:
      ChooseScale(command - kCmdScaleAuto);
      break;
    case kCmdAbout:
      ShowAbout();
      break;
    case kCmdMinimise:
      showMinimized();
      break;
    case kCmdExit:
      ExitProgram();
      break;
  }
}

void MainDialog::ToggleRememberedSettings() {
  if (resume.KeptSettings()) {
    resume.KeepSettings(std::nullopt);
  } else {
    const EngineStatus s = engine->Status();
    resume.KeepSettings(ResumeStore::Settings{s.repeatCount, s.verticalPrecision,
                                              s.horizontalSeconds, s.samplePercent});
  }
  actions[kCmdRememberSettings]->setChecked(resume.KeptSettings().has_value());
  resume.Save();
}

int MainDialog::RunDialog(QDialog& dialog) {
  if (dialogHook) {
    dialogHook(dialog);
    return dialog.result();
  }
  return dialog.exec();
}

void MainDialog::ShowSettings() {
  SettingsDialog dialog;
  const EngineStatus s = engine->Status();
  dialog.SetValues(s.repeatCount, s.verticalPrecision, s.samplePercent, s.horizontalSeconds);
  dialog.SetSplit({engine->TranscriptSplit(), s.adaptiveSplit, s.minPauseMs / 1000.0f,
                   s.maxSentenceMs / 1000.0f});
  dialog.SetGaps(engine->Gaps());
  if (RunDialog(dialog) != QDialog::Accepted) return;
  uint32_t count, vertical, percent;
  float seconds;
  dialog.GetValues(&count, &vertical, &percent, &seconds);
  // Stores the four and renews the sentence window for the open item.
  engine->ApplySettings(count, vertical, seconds, percent);
  if (resume.KeptSettings()) {
    resume.KeepSettings(ResumeStore::Settings{count, vertical, seconds, percent});
    resume.Save();
  }
  engine->SetGaps(dialog.GetGaps());
  const SettingsDialog::Split split = dialog.GetSplit();
  const auto ms = [](float seconds) { return static_cast<int>(std::lround(seconds * 1000)); };
  if (split.transcript != engine->TranscriptSplit()) engine->SetTranscriptSplit(split.transcript);
  if (split.adaptive != s.adaptiveSplit || ms(split.minPauseSeconds) != s.minPauseMs ||
      ms(split.maxSentenceSeconds) != s.maxSentenceMs)
    engine->SetAdaptiveSplit(split.adaptive, ms(split.minPauseSeconds),
                             ms(split.maxSentenceSeconds));
  actions[kCmdTranscriptSplit]->setChecked(engine->TranscriptSplit());
  actions[kCmdAdaptiveSplit]->setChecked(engine->AdaptiveSplit());
}

void MainDialog::ShowAbout() {
  AboutDialog dialog;
  RunDialog(dialog);
}

void MainDialog::TrackMenu(int which, const QPoint& globalPos) {
  if (menuHook) {
    menuHook(which, globalPos);
  } else {
    menus[which]->exec(globalPos);
  }
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    TrackMenu(0, mapToGlobal(QPoint(5, 5)));
    return;
  }
  const QPoint at = event->pos();
  if (titleStrip.contains(at)) {
    TrackMenu(2, event->globalPos());
    return;
  }
  QWidget* under = childAt(at);
  const bool onList =
      under != nullptr && (under == playlistBox || playlistBox->isAncestorOf(under));
  TrackMenu(onList ? 1 : 0, event->globalPos());
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event) {
  DropFiles(*event->mimeData());
  event->acceptProposedAction();
}

void MainDialog::DropFiles(const QMimeData& data) {
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) OpenPath(url.toLocalFile().toStdString(), true);
  }
}

void MainDialog::OnSlider(SkinSlider* slider, int code, int position) {
  Hurry();
  // Codes 0..4 (line, page, thumb released) move the sound; dragging (5) and
  // the end of a scroll (8) do not.
  if (code < 0 || code > 4) return;
  switch (slider->property("controlId").toInt()) {
    case kIdProgress:
      engine->ProgressSlider(position);
      break;
    case kIdSpeed:
      engine->SpeedSlider(position);
      break;
    case kIdVolume:
      engine->VolumeSlider(position);
      break;
    case kIdBalance:
      engine->BalanceSlider(position);
      break;
  }
}

void MainDialog::CheckFaults() {
  const uint32_t faults = engine->Faults();
  if (faults == faultsShown) return;
  faultsShown = faults;
  const std::string why = engine->LastError();
  const EngineFault kind = engine->LastFault();
  const bool device = kind == EngineFault::kNoOutputDevice || kind == EngineFault::kNoInputDevice;
  if (device && deviceFaultShown) return;
  deviceFaultShown = deviceFaultShown || device;
  Message(QString::fromStdString(why), QStringLiteral("Kestro"));
}

// ---- playlist ----

void MainDialog::RefreshPlaylistBox() {
  refreshPosted = false;
  // Only a change of the entries rebuilds the box: a new selection does not
  // (rebuilding then would swallow the second click of a double click).
  const uint64_t revision = playlist.EntriesRevision();
  if (revision != shownRevision) {
    shownRevision = revision;
    std::vector<std::string> entries = playlist.Entries();
    if (entries != shownEntries) {
      shownEntries = std::move(entries);
      shownRows.clear();
      // The file's name, which a narrow box still shows; the whole path on hover.
      QStringList names;
      names.reserve(static_cast<qsizetype>(shownEntries.size()));
      for (size_t i = 0; i < shownEntries.size(); ++i) {
        names << QFileInfo(QString::fromStdString(shownEntries[i])).fileName();
        shownRows[shownEntries[i]].push_back(static_cast<int>(i));
      }
      const QSignalBlocker block(playlistBox);
      playlistBox->setUpdatesEnabled(false);
      playlistBox->clear();
      playlistBox->addItems(names);
      for (size_t i = 0; i < shownEntries.size(); ++i) {
        const auto it = unplayable.find(shownEntries[i]);
        if (it != unplayable.end()) {
          MarkUnplayable(static_cast<int>(i), it->second);
        } else {
          playlistBox->item(static_cast<int>(i))
              ->setToolTip(QFileInfo(QString::fromStdString(shownEntries[i])).absoluteFilePath());
        }
      }
      playlistBox->setUpdatesEnabled(true);
    }
  }
  const int selection = playlist.Selection();
  if (playlistBox->currentRow() != selection) {
    const QSignalBlocker block(playlistBox);
    playlistBox->setCurrentRow(selection);
  }
}

void MainDialog::OpenFiles(bool add) {
  // The plug-ins' filter in Qt's syntax: "wav文件 (*.wav);;...", after one that
  // shows every format at once, the one a learner wants.
  QStringList filters, patterns;
  const QStringList parts = QString::fromStdString(BuildOpenFilter(registry)).split('|');
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    const QString& pattern = parts[i + 1];
    filters << (pattern == QStringLiteral("*.*") ? tr("所有文件 (*.*)")
                                                 : tr("%1文件 (%2)").arg(pattern.mid(2), pattern));
    if (parts[i + 1] != QStringLiteral("*.*")) patterns << parts[i + 1] << parts[i + 1].toUpper();
  }
  filters.prepend(tr("所有支持的文件 (%1)").arg(patterns.join(' ')));
  const QString folder = lastFolder.isEmpty() ? QDir::homePath() : lastFolder;
  QFileDialog dialog(this, QString(), folder, filters.join(QStringLiteral(";;")));
  dialog.setFileMode(add ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("mp3"));
  dialog.selectNameFilter(filters.first());
  if (fileDialogHook) fileDialogHook(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  // The dialog remembers the folder; the working folder stays where Kestro
  // started, so relative entries and the plug-ins keep meaning what they meant.
  lastFolder = dialog.directory().absolutePath();
  for (const QString& file : dialog.selectedFiles())
    OpenPath(file.toStdString(), add);
}

int MainDialog::AddFiles(const std::vector<std::string>& files) {
  int first = -1;
  for (const std::string& file : files) {
    const int before = playlist.Count();
    OpenPath(file, true);
    if (first < 0 && playlist.Count() > before) first = before;
  }
  if (first >= 0) playlist.Select(first);
  RefreshPlaylistBox();
  return first;
}

void MainDialog::AddAndPlay(const std::vector<std::string>& files) {
  const int first = AddFiles(files);
  if (first >= 0) engine->CommandPlayEntry(first);
}

void MainDialog::OpenFolder(const std::string& folder, bool add) {
  const std::vector<std::string> lessons = LessonFolder::Lessons(
      folder,
      [this](const std::string& extension) { return registry.FindCodec(extension) != nullptr; });
  if (lessons.empty()) {
    ShowNotice(tr("文件夹 %1 中没有可以播放的文件").arg(QString::fromStdString(folder)));
    return;
  }
  const int first = playlist.Count();
  for (const std::string& lesson : lessons)
    playlist.Append(lesson);
  // Opened rather than added: its first lesson plays.
  const bool play = !add && playlist.Count() > first;
  if (play) playlist.Select(first);
  RefreshPlaylistBox();
  if (play) engine->CommandPlayEntry(first);
}

void MainDialog::OpenPath(const std::string& path, bool add) {
  if (LessonFolder::IsFolder(path)) {
    OpenFolder(path, add);
    return;
  }
  std::string extension;
  ExtensionOfPath(path, &extension);
  if (extension == "m3u") {
    Playlist chosen;
    std::string why;
    if (LoadPlaylist(chosen, path, &why) < 0) {
      Message(tr("无法读取播放列表 %1: %2")
                  .arg(QString::fromStdString(path), QString::fromStdString(why)),
              tr("错误:"));
      return;
    }
    if (!add) playlist.Clear();
    playlist.InsertSortedAll(chosen.Entries());
    RefreshPlaylistBox();
    return;
  }
  const int before = playlist.Count();
  const int index = playlist.Append(path);
  if (add) {
    RefreshPlaylistBox();
    return;
  }
  if (index < 0) {
    Message(tr("打开文件错误"), tr("错误:"));
  } else {
    playlist.Select(index);
  }
  RefreshPlaylistBox();
  engine->CommandPlayEntry(before);
}

void MainDialog::DeleteSelected() {
  const int selection = playlist.Selection();
  if (selection >= 0 && playlist.Remove(selection)) {
    engine->EntryRemoved(selection);
    // The entry now in its place is the one Play takes, and is shown so.
    playlist.Select(std::min(selection, playlist.Count() - 1));
  }
  RefreshPlaylistBox();
}

void MainDialog::DeleteAll() {
  // A small button beside 删除 empties the whole list, which is saved at exit.
  const int n = playlist.Count();
  if (n == 0) return;
  const QString question = tr("从播放列表中删除全部 %1 个文件?").arg(n);
  const QString caption = tr("全部删除");
  if (!Ask(question, caption)) return;
  playlist.Clear();
  engine->EntryRemoved(-1);
  RefreshPlaylistBox();
}

bool MainDialog::Ask(const QString& question, const QString& caption) {
  return questionBox
             ? questionBox(question, caption)
             : QMessageBox::question(this, caption, question, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
}

void MainDialog::ExportSentences() {
  const QString caption = tr("导出句子");
  if (exportJob) {
    Message(tr("上一次导出还没有完成。"), caption);
    return;
  }
  const EngineStatus status = engine->Status();
  const std::vector<Sentence> sentences = engine->Sentences();
  const std::string lesson = playlist.At(status.item);
  std::string extension;
  ExtensionOfPath(lesson, &extension);
  void* module = registry.FindModule(extension);
  if (sentences.empty() || lesson.empty() || module == nullptr) {
    Message(tr("当前文件没有找到句子，无法导出。请给它配上同名字幕（.lrc、.srt 或 "
               ".vtt），或在 高级设置 中选 自适应分句，再播放它。"),
            caption);
    return;
  }
  const QString start = QFileInfo(QString::fromStdString(lesson)).absolutePath();
  QFileDialog dialog(this, tr("导出句子到文件夹"), start);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (fileDialogHook) fileDialogHook(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  ExportJob::Request request;
  request.dir = dialog.selectedFiles().first().toStdString();
  request.lessonPath = lesson;
  for (const Sentence& s : sentences)
    request.spans.push_back({s.start, s.end, s.text});
  const std::string there = ClipExporter::FirstExisting(lesson, sentences.size(), request.dir);
  if (!there.empty()) {
    if (!Ask(tr("%1 已经存在。替换文件夹中同名的文件吗？").arg(QString::fromStdString(there)),
             caption))
      return;
    request.force = true;
  }
  auto job = std::make_unique<ExportJob>();
  std::string problem;
  if (!job->Start(module, std::move(request), &problem)) {
    Message(tr("无法导出: %1").arg(QString::fromStdString(problem)), caption);
    return;
  }
  exportJob = std::move(job);
  exportProgress = new QProgressDialog(tr("正在导出句子…"), tr("取消"), 0,
                                       static_cast<int>(sentences.size()), this);
  exportProgress->setWindowTitle(caption);
  exportProgress->setWindowModality(Qt::NonModal);
  exportProgress->setMinimumDuration(0);
  exportProgress->setAutoClose(false);
  exportProgress->setAutoReset(false);
  connect(exportProgress, &QProgressDialog::canceled, this, [this] {
    if (exportJob) exportJob->Cancel();
  });
  if (exportTimer == nullptr) {
    exportTimer = new QTimer(this);
    exportTimer->setInterval(100);
    connect(exportTimer, &QTimer::timeout, this, [this] { FollowExport(); });
  }
  exportTimer->start();
  exportProgress->show();
}

void MainDialog::FollowExport() {
  if (!exportJob) return;
  exportProgress->setValue(static_cast<int>(exportJob->Done()));
  if (!exportJob->Finished()) return;
  exportTimer->stop();
  exportJob->Wait();
  const std::unique_ptr<ExportJob> job = std::move(exportJob);
  exportProgress->deleteLater();
  exportProgress = nullptr;
  if (job->Succeeded()) {
    ShowNotice(tr("已导出 %1 句").arg(job->Total()));
  } else if (job->Cancelled()) {
    ShowNotice(tr("导出已取消：写好了 %1 句").arg(job->Done()));
  } else {
    Message(tr("导出没有完成: %1").arg(QString::fromStdString(job->Error())), tr("导出句子"));
  }
}

void MainDialog::SaveList() {
  const QString name = QStringLiteral("YourFile");
  QFileDialog dialog(this, QString(), lastFolder.isEmpty() ? name : lastFolder + '/' + name,
                     tr("m3u文件 (*.m3u)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("m3u"));
  if (fileDialogHook) fileDialogHook(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QFileInfo chosen(dialog.selectedFiles().first());
  lastFolder = chosen.absolutePath();
  std::string why;
  if (SavePlaylist(playlist, chosen.absoluteFilePath().toStdString(), &why) == 0) {
    Message(tr("播放列表没有保存: %1").arg(QString::fromStdString(why)), tr("错误:"));
  }
}

void MainDialog::PlaySelected() {
  const int selection = playlist.Selection();
  if (selection >= 0) engine->CommandPlayEntry(selection);
}

void MainDialog::TogglePlaylistView() {
  // The waveform, the playlist, then the transcript when the item has one
  // (or a word on why the one beside it gave nothing).
  const bool toTranscript =
      playlistVisible && (transcriptView->HasSentences() || transcriptView->HasNote());
  playlistVisible = !playlistVisible && !TranscriptVisible();
  playlistBox->setVisible(playlistVisible);
  transcriptView->setVisible(toTranscript);
  waveformPanel->setVisible(!playlistVisible && !toTranscript);
  FollowSentence(engine->Status());
}

bool MainDialog::TranscriptVisible() const {
  return transcriptView != nullptr && transcriptView->isVisible();
}

QString MainDialog::SentenceShown() const {
  // The line heard, whichever view the window shows; none while the words are hidden.
  return textHidden ? QString() : transcriptView->TextOf(engine->Status().sentence);
}

void MainDialog::SentencesChanged() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        transcriptView->SetSentences(engine->Sentences(), engine->Status().byteRate);
        sentenceShown = -1;
        if (!transcriptView->HasSentences() && TranscriptVisible()) TogglePlaylistView();
        FollowSentence(engine->Status());
      },
      Qt::QueuedConnection);
}

void MainDialog::NoSentenceFound(int seconds) {
  const QString text =
      tr("自动复读 %1 秒未找到句子：试试自适应分句、缩短停顿或配字幕").arg(seconds);
  QMetaObject::invokeMethod(
      this, [this, text] { ShowNotice(text); }, Qt::QueuedConnection);
}

void MainDialog::SplitNote(const std::string& note) {
  const QString text = tr("自适应分句：%1").arg(QString::fromStdString(note));
  QMetaObject::invokeMethod(
      this, [this, text] { ShowNotice(text); }, Qt::QueuedConnection);
}

void MainDialog::TranscriptNote(const std::string& path, const std::string& note) {
  const QString text = tr("字幕 %1：%2")
                           .arg(QString::fromStdString(path.substr(path.rfind('/') + 1)),
                                QString::fromStdString(note));
  QMetaObject::invokeMethod(
      this, [this, text] { transcriptView->SetNote(text); }, Qt::QueuedConnection);
}

void MainDialog::FollowSentence(const EngineStatus& s) {
  transcriptView->Follow(s.sentence);
  const QString text = textHidden ? QString() : transcriptView->TextOf(s.sentence);
  const bool show = !text.isEmpty() && waveformPanel->isVisible();
  if (s.sentence != sentenceShown || show != sentenceLabel->isVisible()) {
    sentenceShown = s.sentence;
    sentenceLabel->setText(text);
    sentenceLabel->setVisible(show);
    if (show) sentenceLabel->raise();
  }
}

// ---- the engine's view ----

void MainDialog::ShowMode(EngineMode mode, ModeShown shown) {
  QMetaObject::invokeMethod(
      this, [this] { Hurry(); }, Qt::QueuedConnection);
  static constexpr int kButtonOf[] = {kIdRead, kIdRepeat, kIdCompare, kIdRecord, kIdPlayBack};
  static constexpr uint32_t kColourOf[] = {kCaptionIdle, kCaptionRunning, kCaptionPaused};
  SetCaptionColor(kButtonOf[static_cast<int>(mode)], kColourOf[static_cast<int>(shown)]);
}

void MainDialog::SetCaptionColor(int id, uint32_t color) {
  for (SkinButton* b : modeButtons) {
    if (b->property("controlId").toInt() == id) b->SetCaptionColor(color);
  }
}

void MainDialog::EnableTransport(bool enable) {
  // The last word counts: one change waiting is enough, however many items
  // the engine tries meanwhile.
  transportEnabled = enable;
  if (transportPosted.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        transportPosted = false;
        const bool enable = transportEnabled.load();
        for (int id : {kIdProgress, kIdSpeed, kIdRead, kIdRecord, kIdPlayBack, kIdRepeat,
                       kIdCompare, kIdPause, kIdStop}) {
          if (QWidget* w = Control(id)) w->setEnabled(enable);
        }
        for (int command :
             {kCmdPause, kCmdRead, kCmdRepeat, kCmdRecord, kCmdPlayBack, kCmdCompare, kCmdStop}) {
          if (QAction* a = Action(command)) a->setEnabled(enable);
        }
      },
      Qt::QueuedConnection);
}

void MainDialog::ShowPaused(bool pauseResumes) {
  QMetaObject::invokeMethod(
      this,
      [this, pauseResumes] {
        Control(kIdPlay)->setEnabled(true);
        Control(kIdPause)->setEnabled(pauseResumes);
        if (QAction* a = Action(kCmdPause)) a->setEnabled(pauseResumes);
      },
      Qt::QueuedConnection);
}

void MainDialog::SetProgressPosition(int position) {
  sliders[0]->SetPosition(position);
}

void MainDialog::SetSpeedPosition(int position) {
  sliders[2]->SetPosition(position);
  // A file taken up where it was left brings its own pitch choice.
  QMetaObject::invokeMethod(
      this, [this] { actions[kCmdKeepPitch]->setChecked(engine->KeepPitch()); },
      Qt::QueuedConnection);
}

void MainDialog::SetSampleFormat(uint32_t rate, uint16_t bits, uint16_t channels) {
  waveformPanel->SetSampleFormat(rate, bits, channels);
}

void MainDialog::ShowBuffer(const uint8_t* data, uint32_t bytes) {
  waveformPanel->ShowBuffer(data, bytes);
}

void MainDialog::ShowWhereTheLearnerIs() {
  const EngineStatus s = engine->Status();
  auto clock = [](uint64_t seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
  };
  QString caption;
  if (s.byteRate != 0 && s.length != 0 && !s.stopped) {
    caption = clock(s.position / s.byteRate) + QStringLiteral(" / ") + clock(s.length / s.byteRate);
    if (s.recordingHeard) caption = tr("你的录音 %1").arg(caption);
    if ((s.flags & ENG_REPEATING) && s.playsHeard > 0) {
      // Automatic repeat plays each sentence a set number of times; the
      // learner's own repeat loops until they end it.
      caption += s.autoMode ? QStringLiteral("   %1/%2").arg(s.playsHeard).arg(s.repeatCount)
                            : QStringLiteral("   ×%1").arg(s.playsHeard);
    }
  }
  waveformPanel->SetCaption(caption);
  waveformPanel->SetTurn(s.gap);
  // The speed, after the title, while it is not normal.
  const long percent = std::lround(s.speed * 100);
  const QString speedText = percent == 100 ? QString() : tr("速度 %1%").arg(percent);
  if (speedText != speedShown) {
    speedShown = speedText;
    update(titleStrip.isValid() ? QRect(0, 0, width(), titleStrip.bottom() + 1) : rect());
  }
  int a = -1, b = -1;
  if ((s.flags & (ENG_REPEATING | ENG_COMPARING)) && !s.recordingHeard && s.length != 0 &&
      s.passageEnd > 0) {
    a = static_cast<int>(static_cast<uint64_t>(s.passageStart) * Engine::kProgressMax / s.length);
    b = static_cast<int>(static_cast<uint64_t>(s.passageEnd) * Engine::kProgressMax / s.length);
  }
  if (SkinSlider* progress = Slider(kIdProgress)) progress->SetMarks(a, b);
  FollowSentence(s);
}

void MainDialog::ItemNotPlayable(const std::string& path, const std::string& why) {
  std::lock_guard<std::mutex> lock(unplayableMutex);
  unplayableWaiting.emplace_back(path, why);
  if (unplayableWaiting.size() > 1) return;  // already posted
  QMetaObject::invokeMethod(
      this, [this] { TakeUnplayable(); }, Qt::QueuedConnection);
}

void MainDialog::TakeUnplayable() {
  std::vector<std::pair<std::string, std::string>> taken;
  {
    std::lock_guard<std::mutex> lock(unplayableMutex);
    taken.swap(unplayableWaiting);
  }
  for (const auto& [path, why] : taken)
    NoteUnplayable(path, QString::fromStdString(why));
  update();
}

void MainDialog::NoteUnplayable(const std::string& path, const QString& why) {
  // Once per file, and never a box to click away: automatic reading goes on.
  if (!unplayable.emplace(path, why).second) return;
  ShowNotice(tr("无法播放 %1: %2").arg(QFileInfo(QString::fromStdString(path)).fileName(), why));
  const auto rows = shownRows.find(path);
  if (rows != shownRows.end()) {
    for (int row : rows->second)
      MarkUnplayable(row, why);
  }
}

void MainDialog::ShowNotice(const QString& text) {
  notice = text;
  noticesSeen.removeAll(text);
  noticesSeen.prepend(QTime::currentTime().toString(QStringLiteral("HH:mm  ")) + text);
  while (noticesSeen.size() > 5)
    noticesSeen.removeLast();
  if (noticeTimer == nullptr) {
    noticeTimer = new QTimer(this);
    noticeTimer->setSingleShot(true);
    connect(noticeTimer, &QTimer::timeout, this, [this] {
      notice.clear();
      update();
    });
  }
  // Long enough to read: ten seconds, more for a long one.
  noticeTimer->start(std::clamp(static_cast<int>(text.size()) * 150, 10000, 30000));
  update();
}

bool MainDialog::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && titleStrip.isValid()) {
    // The title strip tells every recent notice whole.
    auto* help = static_cast<QHelpEvent*>(event);
    const QRect strip(0, 0, Control(kIdMinimise)->x(), titleStrip.bottom() + 1);
    if (strip.contains(help->pos()) && !noticesSeen.isEmpty()) {
      QToolTip::showText(help->globalPos(), noticesSeen.join(QLatin1Char('\n')), this);
      return true;
    }
  }
  return QWidget::event(event);
}

void MainDialog::CheckRefusals() {
  // A mode button that could not do what it was pressed for says why in the
  // title strip (a repeat with no passage yet, a play-back with no recording).
  const EngineStatus s = engine->Status();
  if (s.refused == refusalsShown) return;
  refusalsShown = s.refused;
  ShowNotice(tr("无法执行: %1").arg(QString::fromStdString(s.lastRefusal)));
}

void MainDialog::MarkUnplayable(int row, const QString& why) {
  QListWidgetItem* item = playlistBox->item(row);
  if (item == nullptr || row >= static_cast<int>(shownEntries.size())) return;
  item->setForeground(Qt::gray);
  item->setToolTip(QFileInfo(QString::fromStdString(shownEntries[row])).absoluteFilePath() +
                   tr("\n无法播放: ") + why);
}

void MainDialog::PlaylistSelectionChanged(int) {
  // One refresh waiting is enough: the engine may walk a long list of missing
  // files in a moment.
  if (refreshPosted.exchange(true)) return;
  QMetaObject::invokeMethod(
      this, [this] { RefreshPlaylistBox(); }, Qt::QueuedConnection);
}

// ---- life cycle ----

void MainDialog::ExitProgram(bool fromSignal) {
  if (exited) return;
  exited = true;
  // An export under way stops after its clip; what it wrote stays whole.
  exportJob.reset();
  if (started) engine->Shutdown();
  waveformPanel->StopDrawThread();
  // After a failed start the list was never loaded, and one that could not be
  // read is the learner's to repair: the stored one stays.
  std::string why;
  if (allocated && !listUnreadable &&
      SavePlaylist(playlist, programDir + "Kestro.m3u", &why) == 0) {
    std::fprintf(stderr, "kestro: the playlist was not saved: %s\n", why.c_str());
    if (!fromSignal) {
      Message(tr("播放列表没有保存: %1").arg(QString::fromStdString(why)),
              QStringLiteral("Kestro"));
    }
  }
  close();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // The window manager's close request goes the same way as the close button.
  if (!exited) ExitProgram();
  event->accept();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    ExitProgram();
    return;
  }
  // Enter never ends the main window.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
  QWidget::keyPressEvent(event);
}

void MainDialog::mousePressEvent(QMouseEvent* event) {
  // The title strip is the window's drag handle.
  if (event->button() == Qt::LeftButton && titleStrip.contains(event->position().toPoint()) &&
      windowHandle() != nullptr) {
    windowHandle()->startSystemMove();
    return;
  }
  QWidget::mousePressEvent(event);
}

void MainDialog::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) {
    titleColor = isActiveWindow() ? 0x000000 : 0x808080;
    repaint(QRect(0, 0, 80, 18));
  }
}

void MainDialog::SetScaleFile(const std::string& path, int chosen) {
  scalePath = path;
  scaleChosen = chosen;
  ShowScaleChoice();
}

void MainDialog::ShowScaleChoice() {
  for (int s = 0; s <= WindowScale::kLargest; ++s) {
    actions[kCmdScaleAuto + s]->setEnabled(!scalePath.empty());
    actions[kCmdScaleAuto + s]->setChecked(s == scaleChosen);
  }
}

void MainDialog::ChooseScale(int scale) {
  std::string why;
  if (scalePath.empty()) return;
  if (!WindowScale::Save(scalePath, scale, &why)) {
    Message(tr("无法保存窗口大小: %1").arg(QString::fromStdString(why)), QStringLiteral("Kestro"));
  } else {
    scaleChosen = scale;
    ShowNotice(tr("窗口大小在下次启动时改变"));
  }
  ShowScaleChoice();
}

SkinLabels MainDialog::Labels() {
  return SkinLabels{tr("进度"), tr("平衡"), tr("音量"), tr("速度")};
}

const QImage& MainDialog::Face(int scale) {
  if (face.isNull() || face.devicePixelRatio() != scale) {
    face = DrawSkinFace(scale, Labels());
    face.setDevicePixelRatio(scale);
  }
  return face;
}

void MainDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int scale = std::max(1, static_cast<int>(std::lround(devicePixelRatioF())));
  if (ownSkin && (scale > 1 || faceTranslated)) {
    painter.drawImage(QPoint(0, 0), Face(scale));
  } else if (!skinBitmap.Empty()) {
    const QRect all(0, 0, static_cast<int>(skinBitmap.GetWidth()),
                    static_cast<int>(skinBitmap.GetHeight()));
    skinBitmap.Draw(painter, all, all);
  }
  QFont font = SkinFont();
  font.setPixelSize(12);
  painter.setFont(font);
  const QString title = QStringLiteral("Kestro");
  const QFontMetrics metrics(font);
  const QRect titleRect(2, 0, metrics.horizontalAdvance(title), metrics.height());
  painter.setPen(ColorFromRef(titleColor));
  painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
  int after = titleRect.right() + 8;
  if (!speedShown.isEmpty()) {
    const QRect speedRect(after, 0, metrics.horizontalAdvance(speedShown), metrics.height());
    painter.drawText(speedRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, speedShown);
    after = speedRect.right() + 8;
  }
  if (!notice.isEmpty()) {
    // Up to the title strip's buttons; the whole text is the strip's tooltip.
    const QRect noticeRect(after, 0, Control(kIdMinimise)->x() - 2 - after, metrics.height());
    painter.drawText(noticeRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(notice, Qt::ElideRight, noticeRect.width()));
  }
}
