// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "audio/audio_backend.h"
#include "codec/codec_registry.h"
#include "commands/command_ids.h"
#include "engine/engine.h"
#include "engine/engine_view.h"
#include "library/playlist.h"
#include "library/resume_store.h"
#include "skin/cdib.h"
#include "skin/glyph_button.h"
#include "skin/skin_art.h"
#include "skin/skin_button.h"
#include "skin/skin_slider.h"
#include "ui/export_job.h"
#include "ui/transcript_view.h"
#include "ui/waveform_panel.h"

class QFileDialog;
class QLabel;
class QTimer;

// Caption colours of the mode buttons (0x00BBGGRR).
constexpr uint32_t kCaptionRunning = 0x00C800;
constexpr uint32_t kCaptionPaused = 0x0000FF;
constexpr uint32_t kCaptionIdle = 0;

// The main window: the skin with its buttons, sliders, waveform panel and
// playlist, and the owner of the engine. It is the engine's view: what the
// engine tells it from its threads is stored thread-safely or posted to the
// window's own thread.
class MainDialog : public QWidget, public EngineView {
 public:
  Q_DECLARE_TR_FUNCTIONS(MainDialog)

 public:
  // How a message box is shown; tests replace it so that nothing blocks.
  using MessageBox = std::function<void(const QString& text, const QString& caption)>;
  // Asks the learner; true for yes.
  using QuestionBox = std::function<bool(const QString& text, const QString& caption)>;

  explicit MainDialog(AudioBackend& audio, QWidget* parent = nullptr);
  ~MainDialog() override;

  // The start-up sequence; false when it stopped early (no sound memory).
  bool OnInitDialog();
  // Stops every thread within its bounds, saves the playlist and closes. A
  // failed save is told in a box, or only on standard error when a signal
  // ends the program.
  void ExitProgram(bool fromSignal = false);

  void SetMessageBox(MessageBox box) { messageBox = std::move(box); }
  void SetQuestionBox(QuestionBox box) { questionBox = std::move(box); }
  // For tests: sees (and may answer) the open dialog before it runs.
  void SetFileDialogHook(std::function<void(QFileDialog&)> hook) {
    fileDialogHook = std::move(hook);
  }
  // Before OnInitDialog: where the learner's places in their files are kept
  // (none: nothing is resumed or kept).
  // The resume file; with places false no file is taken up where it was left
  // nor kept (the learner's remembered settings still are).
  void SetResumeFile(const std::string& path, bool places = true) {
    resumePath = path;
    resumePlaces = places;
  }
  // Where the window's size is kept, and the size chosen for this start (0:
  // the screen's); without it the menu cannot change the size.
  void SetScaleFile(const std::string& path, int chosen);
  // For tests: the buffer allocation of the start-up fails.
  void FailAllocationForTest() { failAllocation = true; }

  // ---- commands of the playlist area ----
  // Files named on the command line (or by "Open with"): added to the list as
  // Add adds them when it loads, before anything plays; the first of them
  // plays first.
  void SetStartFiles(const std::vector<std::string>& files) { startFiles = files; }
  // Adds files as Add does and plays the first of them (the sound menu's OpenUri).
  void AddAndPlay(const std::vector<std::string>& files);
  void OpenFiles(bool add);  // the Open and Add commands with the open dialog
  // What Open (add = false) or Add does with a chosen path.
  void OpenPath(const std::string& path, bool add);
  void DeleteSelected();
  void DeleteAll();
  void SaveList();  // the save dialog
  // The open item's sentences as clips into a folder the learner chooses,
  // with a progress window that can cancel; the window goes on meanwhile.
  void ExportSentences();
  bool ExportRunning() const { return exportJob != nullptr; }
  void PlaySelected();
  void TogglePlaylistView();
  // Sound files and lists dropped on the window, added as the Add command adds them.
  void DropFiles(const QMimeData& data);
  bool PlaylistVisible() const { return playlistVisible; }
  bool TranscriptVisible() const;

  // ---- commands of the menus, accelerators and buttons ----
  void RunCommand(int command);
  // Keys of the learner's own (a foot pedal's) for commands, beside the
  // window's own accelerators.
  void BindKeys(const class KeyBindings& keys);
  void ShowSettings();
  void ShowAbout();
  // The three popup menus: 0 Main, 1 PlayList, 2 Title.
  QMenu* PopupMenu(int which) const { return menus[which]; }
  // The words beside the sliders, in the interface's language.
  static SkinLabels Labels();
  QAction* Action(int command) const;
  // Tests see which menu would open where, instead of a menu that waits.
  using MenuHook = std::function<void(int which, const QPoint& globalPos)>;
  void SetMenuHook(MenuHook hook) { menuHook = std::move(hook); }
  // For tests: what the settings and About commands show, without waiting.
  using DialogHook = std::function<void(QDialog& dialog)>;
  void SetDialogHook(DialogHook hook) { dialogHook = std::move(hook); }

  // ---- the engine's view (engine and device threads) ----
  void ShowMode(EngineMode mode, ModeShown shown) override;
  // A mode button's caption colour.
  void SetCaptionColor(int id, uint32_t color);
  void EnableTransport(bool enable) override;
  void ShowPaused(bool pauseResumes) override;
  bool DrawsSound() const override { return true; }
  void SetProgressPosition(int position) override;
  void SetSpeedPosition(int position) override;
  void SetSampleFormat(uint32_t rate, uint16_t bits, uint16_t channels) override;
  void ShowBuffer(const uint8_t* data, uint32_t bytes) override;
  void PlaylistSelectionChanged(int index) override;
  void ItemNotPlayable(const std::string& path, const std::string& why) override;
  void SentencesChanged() override;
  void NoSentenceFound(int seconds) override;
  void TranscriptNote(const std::string& path, const std::string& note) override;
  void SplitNote(const std::string& note) override;

  // ---- what tests and the other parts of the window look at ----
  Engine& EngineOf() { return *engine; }
  // The line in the title strip that tells of a file skipped (empty when none).
  const QString& Notice() const { return notice; }
  Playlist& PlaylistModel() { return playlist; }
  CodecRegistry& Registry() { return registry; }
  QWidget* Control(int id) const;
  SkinButton* ModeButton(int id) const;
  SkinSlider* Slider(int id) const;
  QListWidget* PlaylistBox() const { return playlistBox; }
  WaveformPanel* Panel() const { return waveformPanel; }
  TranscriptView* Transcript() const { return transcriptView; }
  // The sentence shown over the waveform (empty when none, or hidden).
  QString SentenceShown() const;
  const std::string& ProgramDir() const { return programDir; }
  uint32_t TitleColor() const { return titleColor; }
  QRect TitleStrip() const { return titleStrip; }
  bool Exited() const { return exited; }
  // Brings the list box in line with the playlist model.
  void RefreshPlaylistBox();
  // Follows the engine: the list, faults, refusals, time and caption, then
  // the hook (the sound menu's properties).
  void Follow();
  void SetFollowHook(std::function<void()> hook) { followHook = std::move(hook); }
  // Follows at the fast rate again (a command, a slider, the sound menu).
  void Hurry();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Adds files as Add does and selects the first added; its index, or -1.
  int AddFiles(const std::vector<std::string>& files);
  void InitMembers();
  void ProbeStartDirectory();
  void CreateControls();
  void AssignGlyphs();
  void LayoutControls();
  void ConnectControls();
  void OnSlider(SkinSlider* slider, int code, int position);
  void CreateMenus();
  // A folder's lessons, in name order; opened (not added), the first plays.
  void OpenFolder(const std::string& folder, bool add);
  // What the window shows of an engine command just run; the window's own commands.
  void ShowEngineCommand(int command);
  void RunWindowCommand(int command);
  void ToggleRememberedSettings();
  void CreateAccelerators();
  void SetToolTips();
  void ShowAutoManual(bool automatic);
  class QShortcut* Accelerator(const QKeySequence& key, int command);
  void TrackMenu(int which, const QPoint& globalPos);
  int RunDialog(QDialog& dialog);
  // Shows text in the title strip for ten seconds.
  void ShowNotice(const QString& text);
  // Tells in the title strip why the last dropped request was dropped.
  void CheckRefusals();
  void CheckFaults();
  // The sentence heard, over the waveform and in the transcript view.
  void FollowSentence(const EngineStatus& status);
  void Message(const QString& text, const QString& caption);

  AudioBackend& audio;
  CodecRegistry registry;
  Playlist playlist;
  std::unique_ptr<Engine> engine;

  std::array<SkinButton*, 6> modeButtons{};  // 1009..1013, 1021
  std::array<GlyphButton*, 12> glyphButtons{};
  std::array<SkinSlider*, 4> sliders{};  // progress, volume, speed, balance
  QListWidget* playlistBox = nullptr;
  WaveformPanel* waveformPanel = nullptr;
  TranscriptView* transcriptView = nullptr;
  QLabel* sentenceLabel = nullptr;
  bool textHidden = false;
  int sentenceShown = -1;
  CDib skinBitmap;
  // The skin is Kestro's own drawing, so it is drawn afresh at the screen's
  // scale and with the interface's words rather than enlarged from the file.
  bool ownSkin = false;
  bool faceTranslated = false;
  QImage face;
  const QImage& Face(int scale);
  std::string scalePath;
  int scaleChosen = 0;
  void ChooseScale(int scale);
  void ShowScaleChoice();
  uint32_t titleColor = 0;
  QRect titleStrip;
  bool playlistVisible = false;

  std::string programDir;
  uint64_t shownRevision = UINT64_MAX;
  std::vector<std::string> shownEntries;
  // The rows of each entry shown, so that marking one file is not a walk
  // through a list of 100,000.
  std::unordered_map<std::string, std::vector<int>> shownRows;
  std::atomic<bool> refreshPosted{false};
  std::atomic<bool> transportEnabled{false};
  std::atomic<bool> transportPosted{false};
  // Files the engine found unplayable, not yet shown: taken in one go, since
  // a list of missing files can be walked faster than events are served.
  std::mutex unplayableMutex;
  std::vector<std::pair<std::string, std::string>> unplayableWaiting;
  // Files that could not be played, with why: marked in the list, told once.
  std::map<std::string, QString> unplayable;
  QString notice;
  QTimer* noticeTimer = nullptr;
  // What the window follows of the engine, and how often (see Follow).
  static constexpr int kFollowMs = 100;
  static constexpr int kRestingFollowMs = 1000;
  QTimer* followTimer = nullptr;
  int restingTicks = 0;
  std::function<void()> followHook;
  // The last notices, newest first: the title strip's tooltip, for one that
  // was too long to read or gone too soon.
  QStringList noticesSeen;
  // The speed shown after the title, empty at normal speed.
  QString speedShown;
  void NoteUnplayable(const std::string& path, const QString& why);
  void TakeUnplayable();
  void MarkUnplayable(int row, const QString& why);
  // Elapsed and total time, the repeat count and the passage's A and B.
  void ShowWhereTheLearnerIs();
  uint32_t faultsShown = 0;
  uint32_t refusalsShown = 0;
  bool deviceFaultShown = false;
  bool started = false;  // the engine threads run
  bool allocated = false;
  // Kestro.m3u was there but could not be read: it is not saved over at exit.
  bool listUnreadable = false;
  bool failAllocation = false;
  bool exited = false;
  MessageBox messageBox;
  QuestionBox questionBox;
  std::function<void(QFileDialog&)> fileDialogHook;
  QString lastFolder;  // where the open dialog was last left
  std::unique_ptr<ExportJob> exportJob;
  std::string resumePath;
  bool resumePlaces = true;
  std::vector<std::string> startFiles;
  ResumeStore resume;
  QTimer* exportTimer = nullptr;
  class QProgressDialog* exportProgress = nullptr;
  void FollowExport();
  bool Ask(const QString& question, const QString& caption);
  MenuHook menuHook;
  DialogHook dialogHook;
  std::array<QMenu*, 3> menus{};
  std::map<int, QAction*> actions;
};
