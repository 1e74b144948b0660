// SPDX-License-Identifier: GPL-3.0-or-later
// Every command of the main window as a learner gives it: buttons clicked,
// keys pressed, menus opened, sliders dragged, files dropped, against the real
// engine on the offline devices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "engine_test_access.h"
#include "export/wav_file_writer.h"
#include "loaded_plugin.h"
#include "pcm.h"
#include "temp_dir.h"
#include "ui/key_bindings.h"
#include "ui/main_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/transcript_view.h"
#include "ui/window_scale.h"

namespace {

class CommandsTest : public ::testing::Test {
 protected:
  // The application comes from the test program's environment (main_dialog_test.cpp).
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
    oldDir = cwd;
    std::filesystem::copy(KESTRO_STAGE_DIR "/Arch", dir.File("Arch"));
    std::filesystem::copy(KESTRO_STAGE_DIR "/Skin", dir.File("Skin"));
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    WriteFileBytes("lesson.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 3)));
    WriteFileBytes("Kestro.m3u", "#EXTM3U\r\nlesson.qv\r\n");
    audio.Clock().SetHeld(true);
    window = std::make_unique<MainDialog>(audio);
    window->SetMessageBox([](const QString&, const QString&) {});
    window->SetMenuHook([this](int which, const QPoint& at) {
      menuOpened = which;
      menuAt = at;
    });
    window->show();
    // Keys reach the window's shortcuts only once it is active.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ASSERT_TRUE(window->OnInitDialog());
    // Opened, and the window has heard of it (the transport is enabled).
    ASSERT_TRUE(
        Until([&] { return Status().itemsOpened == 1 && window->Control(kIdRead)->isEnabled(); }));
  }
  void TearDown() override {
    window.reset();
    ASSERT_EQ(::chdir(oldDir.c_str()), 0);
  }
  EngineStatus Status() { return window->EngineOf().Status(); }
  // Lets the window's thread run until condition holds (a minute at most: only
  // a hang takes that long).
  bool Until(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(60000);
    while (!condition() && !deadline.hasExpired())
      QTest::qWait(10);
    return condition();
  }
  // Lets ms of sound play and waits until it has.
  void Play(int ms) {
    const int64_t before = audio.Clock().Consumed();
    audio.Clock().Advance(static_cast<int64_t>(ms) * 1000000);
    Until([&] { return audio.Clock().Consumed() - before >= (ms - 30) * 1000000LL; });
  }
  void Click(int id) {
    auto* w = window->Control(id);
    ASSERT_NE(w, nullptr);
    // While the engine opens a sound (a compare's next half, say) the transport
    // is greyed for a moment; a learner clicks again, the test waits.
    ASSERT_TRUE(Until([&] { return w->isEnabled(); })) << id;
    QTest::mouseClick(w, Qt::LeftButton);
    QTest::qWait(50);  // the engine serves it
  }
  uint32_t Caption(int id) { return window->ModeButton(id)->CaptionColor(); }

  TempDir dir;
  std::string oldDir;
  AudioBackend audio{AudioBackend::Kind::kOffline};
  std::unique_ptr<MainDialog> window;
  int menuOpened = -1;
  QPoint menuAt;
};

TEST_F(CommandsTest, TheWalkThroughWithTheMouse) {
  Play(300);
  EXPECT_TRUE(Until([&] { return Caption(kIdRead) == kCaptionRunning; }));
  Click(kIdRead);  // mark A
  Play(300);
  Click(kIdRepeat);
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_REPEATING; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdRepeat) == kCaptionRunning; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdRead) == kCaptionIdle; }));
  Click(kIdRepeat);  // pauses the repeat
  ASSERT_TRUE(Until([&] { return Caption(kIdRepeat) == kCaptionPaused; }));
  Click(kIdRepeat);
  ASSERT_TRUE(Until([&] { return Caption(kIdRepeat) == kCaptionRunning; }));
  Click(kIdRead);
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_PLAYING; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdRepeat) == kCaptionIdle; }));
  Play(200);
  Click(kIdRecord);
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_RECORDING; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdRecord) == kCaptionRunning; }));
  Play(300);
  Click(kIdPlayBack);
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_PLAYING_BACK; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdRecord) == kCaptionIdle; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdPlayBack) == kCaptionRunning; }));
  // What is heard is the recording: its own time, shown as the learner's.
  Play(100);
  EXPECT_TRUE(Until([&] {
    return window->Panel()->Caption().startsWith(QStringLiteral("你的录音 0:00 / 0:00"));
  })) << window->Panel()->Caption().toStdString();
  EXPECT_LT(Status().length, 2000000u / 4);
  Click(kIdCompare);  // ends play-back, then compares
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_COMPARING; }));
  EXPECT_TRUE(Until([&] { return Caption(kIdCompare) == kCaptionRunning; }));
  Click(kIdRead);
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_PLAYING; }));
  Click(kIdPause);
  ASSERT_TRUE(Until([&] { return Status().paused; }));
  // Paused, only Pause has nothing to do.
  ASSERT_TRUE(Until([&] { return !window->Control(kIdPause)->isEnabled(); }));
  for (int id :
       {kIdPlay, kIdRead, kIdRepeat, kIdRecord, kIdPlayBack, kIdCompare, kIdStop, kIdProgress})
    EXPECT_TRUE(window->Control(id)->isEnabled()) << id;
  Click(kIdPlay);
  ASSERT_TRUE(Until([&] { return !Status().paused && Status().flags == ENG_PLAYING; }));
  Click(kIdStop);
  ASSERT_TRUE(Until([&] { return Status().stopped; }));
}

TEST_F(CommandsTest, CtrlMTogglesAutomaticModeWithTheCaptionFollowing) {
  SkinButton* manual = window->ModeButton(kIdManual);
  QTest::keyClick(window.get(), Qt::Key_M, Qt::ControlModifier);
  EXPECT_TRUE(Status().autoMode);
  EXPECT_EQ(manual->text(), QStringLiteral("自动"));
  // From any control inside the window.
  QTest::keyClick(window->PlaylistBox(), Qt::Key_M, Qt::ControlModifier);
  EXPECT_FALSE(Status().autoMode);
  EXPECT_EQ(manual->text(), QStringLiteral("手动"));
}

TEST_F(CommandsTest, MenusHoldTheirItemsAndGreyExactlyTheTransport) {
  QStringList main;
  for (QAction* a : window->PopupMenu(0)->actions()) {
    if (!a->isSeparator()) main << a->text();
  }
  EXPECT_EQ(main, (QStringList{"新文件(&N)", "上一个(&L)", "下一个(&I)", "播放(&W)", "暂停(&P)",
                               "停止(&T)", "阅读(&A)", "复读(&S)", "录音(&D)", "回放(&F)",
                               "对比(&G)", "自动/手动(&M)", "高级设置", "逐句"}));
  ASSERT_NE(window->Action(kCmdSettings), nullptr);
  EXPECT_EQ(window->Action(kCmdSettings)->text(), QStringLiteral("复读设置"));
  // Each menu item shows the accelerator that works for it.
  EXPECT_EQ(window->Action(kCmdStop)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
  EXPECT_EQ(window->Action(kCmdRepeat)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  window->EnableTransport(false);
  ASSERT_TRUE(Until([&] { return !window->Action(kCmdStop)->isEnabled(); }));
  for (int c : {kCmdPause, kCmdRead, kCmdRepeat, kCmdRecord, kCmdPlayBack, kCmdCompare, kCmdStop})
    EXPECT_FALSE(window->Action(c)->isEnabled()) << c;
  for (int c :
       {kCmdNewFile, kCmdPrevious, kCmdNext, kCmdPlay, kCmdAutoManual, kCmdSettings, kCmdAdd,
        kCmdDelete, kCmdDeleteAll, kCmdSaveList, kCmdAbout, kCmdMinimise, kCmdExit})
    EXPECT_TRUE(window->Action(c)->isEnabled()) << c;
  // A greyed command's accelerator does nothing either.
  QTest::keyClick(window.get(), Qt::Key_T, Qt::ControlModifier);
  QTest::qWait(50);
  EXPECT_FALSE(Status().stopped);
  window->EnableTransport(true);
  ASSERT_TRUE(Until([&] { return window->Action(kCmdStop)->isEnabled(); }));
  QTest::keyClick(window.get(), Qt::Key_T, Qt::ControlModifier);
  ASSERT_TRUE(Until([&] { return Status().stopped; }));
}

TEST_F(CommandsTest, RightClicksOpenTheMenuOfWhereTheyAre) {
  auto rightClick = [&](QWidget* w, QPoint at) {
    menuOpened = -1;
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &event);
    return menuOpened;
  };
  window->TogglePlaylistView();
  EXPECT_EQ(rightClick(window->PlaylistBox()->viewport(), QPoint(10, 10)), 1);
  EXPECT_EQ(rightClick(window->Control(kIdRepeat), QPoint(5, 5)), 0);
  EXPECT_EQ(rightClick(window.get(), QPoint(150, 6)), 2);    // the title strip
  EXPECT_EQ(rightClick(window.get(), QPoint(280, 170)), 0);  // the bare skin
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
  QApplication::sendEvent(window.get(), &key);
  EXPECT_EQ(menuOpened, 0);
  EXPECT_EQ(menuAt, window->mapToGlobal(QPoint(5, 5)));
}

TEST_F(CommandsTest, ASettingsChangeTakesEffectForTheOpenItem) {
  window->SetDialogHook([](QDialog& d) {
    auto& dialog = dynamic_cast<SettingsDialog&>(d);
    dialog.show();
    EXPECT_EQ(dialog.Edit(2)->text(), QStringLiteral("2"));
    for (int i = 0; i < 10; ++i)
      dialog.Step(2, -1);  // 2.0 s down to 1.0 s
    dialog.Step(0, +1);    // 3 plays to 4
    dialog.OkButton()->click();
  });
  window->RunCommand(kCmdSettings);
  EXPECT_EQ(Status().windowBlocks, 35u);  // 176400 bytes a second, 1 s
  EXPECT_EQ(Status().repeatCount, 4u);
  EXPECT_FLOAT_EQ(Status().horizontalSeconds, 1.0f);
  // Cancel changes nothing.
  window->SetDialogHook([](QDialog& d) {
    auto& dialog = dynamic_cast<SettingsDialog&>(d);
    dialog.show();
    dialog.Step(0, +1);
    dialog.reject();
  });
  window->RunCommand(kCmdSettings);
  EXPECT_EQ(Status().repeatCount, 4u);
}

TEST_F(CommandsTest, TheAdaptiveSplitChosenInTheDialogAppliesToTheOpenItemAtOnce) {
  window->SetDialogHook([](QDialog& d) {
    auto& dialog = dynamic_cast<SettingsDialog&>(d);
    dialog.show();
    EXPECT_TRUE(dialog.PauseButton()->isChecked());  // the default without a transcript
    dialog.AdaptiveButton()->click();
    dialog.SplitEdit(0)->setText(QStringLiteral("0.4"));
    dialog.OkButton()->click();
  });
  window->RunCommand(kCmdSettings);
  EXPECT_TRUE(Status().adaptiveSplit);
  EXPECT_EQ(Status().minPauseMs, 400);
  EXPECT_EQ(Status().maxSentenceMs, 15000);
  // The lesson is steady noise from end to end: nothing to split, and the
  // learner is told so with what to try.
  ASSERT_TRUE(Until([&] { return window->Notice().contains(QStringLiteral("自适应分句")); }));
  EXPECT_TRUE(window->Notice().contains(QStringLiteral("shorter pause")))
      << window->Notice().toStdString();
  // A lesson of tone sentences: found in the background, listed by number,
  // and repeated in automatic mode.
  std::string tones;
  for (int k = 0; k < 4; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
    tones.append(tone.begin(), tone.end());
    tones.append(176400 / 2, '\0');
  }
  WriteFileBytes("tones.qv", QvFileBytes(RecordingFormat(), tones));
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("tones.qv")))});
  window->DropFiles(data);
  window->EngineOf().CommandPlayEntry(1);
  ASSERT_TRUE(Until([&] { return Status().sentenceCount == 4; })) << Status().sentenceCount;
  ASSERT_TRUE(Until([&] { return window->Transcript()->count() == 4; }));
  EXPECT_TRUE(window->Transcript()->item(0)->text().contains(QStringLiteral("第 1 句")));
  window->RunCommand(kCmdAutoManual);
  for (int i = 0; i < 40 && Status().sentencesFound == 0; ++i)
    Play(100);
  EXPECT_EQ(Status().sentencesFound, 1u);
  // The sentence found is repeated from the engine's next pass on.
  EXPECT_TRUE(Until([&] { return std::string(Status().mode) == "repeating"; })) << Status().mode;
  // The menu's check item follows, and turns it off again.
  window->RunCommand(kCmdAdaptiveSplit);
  EXPECT_FALSE(Status().adaptiveSplit);
  ASSERT_TRUE(Until([&] { return Status().sentenceCount == 0; }));
}

TEST_F(CommandsTest, ExportSentencesWritesTheOpenItemsClipsIntoTheChosenFolder) {
  QString told;
  window->SetMessageBox([&](const QString& text, const QString&) { told = text; });
  // The noise lesson has no sentences: the learner is told what to do.
  window->RunCommand(kCmdExportSentences);
  EXPECT_TRUE(told.contains(QStringLiteral("自适应分句"))) << told.toStdString();
  // A WAV lesson of three tone sentences with its transcript.
  std::string pcm;
  for (int k = 0; k < 3; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
    pcm.append(tone.begin(), tone.end());
    pcm.append(176400 / 2, '\0');
  }
  WavFileWriter lesson;
  ASSERT_TRUE(lesson.Create(dir.File("tones.wav"), nullptr));
  lesson.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(pcm.data()),
                static_cast<uint32_t>(pcm.size()));
  ASSERT_TRUE(lesson.Close());
  WriteFileBytes("tones.lrc", "[00:00.00]one\n[00:01.50]two\n[00:03.00]three\n[00:04.00]\n");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("tones.wav")))});
  window->DropFiles(data);
  window->EngineOf().CommandPlayEntry(1);
  ASSERT_TRUE(Until([&] { return Status().sentenceCount == 3; }));

  const QString cards = QString::fromStdString(dir.File("cards"));
  QDir().mkpath(cards);
  WriteFileBytes(dir.File("cards/tones-002.wav"), "mine");
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  window->SetFileDialogHook([&](QFileDialog& d) {
    mode = d.fileMode();
    d.selectFile(cards);
    QMetaObject::invokeMethod(&d, "accept", Qt::QueuedConnection);
  });
  // A file of the same name is there: replaced only when the learner says yes.
  int asked = 0;
  window->SetQuestionBox([&](const QString& q, const QString&) {
    ++asked;
    return q.contains(QStringLiteral("tones-002.wav")) && asked > 1;
  });
  window->RunCommand(kCmdExportSentences);
  EXPECT_EQ(mode, QFileDialog::Directory);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(window->ExportRunning());
  EXPECT_EQ(ReadFileBytes(dir.File("cards/tones-002.wav")), "mine");
  window->RunCommand(kCmdExportSentences);
  EXPECT_EQ(asked, 2);
  ASSERT_TRUE(window->ExportRunning()) << told.toStdString();
  auto* progress = window->findChild<QProgressDialog*>();
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->maximum(), 3);
  ASSERT_TRUE(Until([&] { return !window->ExportRunning(); }));
  EXPECT_TRUE(window->Notice().contains(QStringLiteral("已导出 3 句"))) << told.toStdString();
  // Each clip is the sentence the window plays, sample for sample.
  const std::vector<Sentence> sentences = window->EngineOf().Sentences();
  ASSERT_EQ(sentences.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    const std::string clip = dir.File("cards/tones-00" + std::to_string(k + 1) + ".wav");
    const Sentence& s = sentences[static_cast<size_t>(k)];
    EXPECT_TRUE(BytesEqual(WavDataOf(ReadFileBytes(clip)), pcm.substr(s.start, s.end - s.start)))
        << clip;
  }
  EXPECT_NE(ReadFileBytes(dir.File("cards/tones.tsv")).find("[sound:tones-003.wav]\tthree"),
            std::string::npos);
}

TEST_F(CommandsTest, TheNextStartGoesOnWhereTheLearnerLeftWithTheSettingsKept) {
  window.reset();
  const std::string state = dir.File("state/resume.tsv");
  auto start = [&](bool places = true) {
    auto w = std::make_unique<MainDialog>(audio);
    w->SetMessageBox([](const QString&, const QString&) {});
    w->SetResumeFile(state, places);
    w->show();
    EXPECT_TRUE(w->OnInitDialog());
    EXPECT_TRUE(Until([&] { return w->EngineOf().Status().itemsOpened == 1; }));
    return w;
  };
  window = start();
  EXPECT_TRUE(window->Action(kCmdResume)->isChecked());
  EXPECT_FALSE(window->Action(kCmdRememberSettings)->isChecked());
  window->RunCommand(kCmdRememberSettings);
  window->EngineOf().ApplySettings(5, 3, 1.5f, 10);
  window->RunCommand(kCmdRememberSettings);  // off and on: kept as they are now
  window->RunCommand(kCmdRememberSettings);
  window->EngineOf().ProgressSlider(5000);
  ASSERT_TRUE(Until([&] {
    Play(20);
    return Status().position >= Status().length / 2;
  }));
  const uint32_t left = Status().position;
  window->ExitProgram();
  // One window at a time: a plug-in hands out one codec object.
  window.reset();
  audio.Clock().SetHeld(true);
  window = start();
  // Where it was left: a buffer or two may have finished after the look.
  EXPECT_NEAR(Status().position, left, 3 * 5000.0);
  EXPECT_EQ(Status().repeatCount, 5u);
  EXPECT_FLOAT_EQ(Status().horizontalSeconds, 1.5f);
  EXPECT_TRUE(window->Action(kCmdRememberSettings)->isChecked());
  // Without places (--no-resume) the file starts at its start, the settings
  // are still the learner's, and the place is kept for the next start.
  window->ExitProgram();
  window.reset();
  window = start(false);
  Play(100);
  EXPECT_LT(Status().position, left / 2);
  EXPECT_EQ(Status().repeatCount, 5u);
  EXPECT_TRUE(window->Action(kCmdRememberSettings)->isEnabled());
  EXPECT_FALSE(window->Action(kCmdResume)->isEnabled());
  window->ExitProgram();
  window.reset();
  window = start();
  EXPECT_NEAR(Status().position, left, 3 * 5000.0);
  // Turned off, the next start begins at the start.
  window->RunCommand(kCmdResume);
  window->ExitProgram();
  window.reset();
  window = start();
  EXPECT_FALSE(window->Action(kCmdResume)->isChecked());
  Play(100);
  EXPECT_LT(Status().position, left / 2);
}

TEST_F(CommandsTest, ALearnersOwnKeysGiveCommandsAndLinesThatCannotAreTold) {
  KeyBindings keys;
  std::vector<std::string> problems;
  keys.Parse(QStringLiteral("# the pedal\nF13 = pause  # left\nCtrl+Shift+Right = next-sentence\n"
                            "nonsense\nF14 = fly\nNoSuchKey = play\n"),
             "keys.conf", &problems);
  EXPECT_EQ(keys.Bindings().size(), 2u);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0], "keys.conf:4: no '=' (write KEY = COMMAND)");
  EXPECT_EQ(problems[1].rfind("keys.conf:5: \"fly\" is not a command (play, pause", 0), 0u)
      << problems[1];
  EXPECT_EQ(problems[2], "keys.conf:6: \"NoSuchKey\" is not a key");
  window->BindKeys(keys);
  Play(100);
  ASSERT_FALSE(Status().paused);
  QTest::keyClick(window.get(), Qt::Key_F13);
  ASSERT_TRUE(Until([&] { return Status().paused; }));
}

TEST_F(CommandsTest, TheWindowSizeChosenInTheMenuIsKeptForTheNextStart) {
  EXPECT_FALSE(window->Action(kCmdScale2)->isEnabled());  // nowhere to keep it
  const std::string file = dir.File("config/kestro.conf");
  window->SetScaleFile(file, 0);
  EXPECT_TRUE(window->Action(kCmdScaleAuto)->isChecked());
  window->Action(kCmdScale2)->trigger();
  EXPECT_TRUE(window->Action(kCmdScale2)->isChecked());
  EXPECT_FALSE(window->Action(kCmdScaleAuto)->isChecked());
  EXPECT_EQ(window->Notice(), QStringLiteral("窗口大小在下次启动时改变"));
  std::string problem;
  EXPECT_EQ(WindowScale::Load(file, &problem), 2);
  window->Action(kCmdScaleAuto)->trigger();
  EXPECT_EQ(WindowScale::Load(file, &problem), 0);
  EXPECT_EQ(problem, "");
  // A file it cannot use is told and gives the screen's scale; one it cannot
  // write to is told and the choice stays as it was.
  WriteFileBytes(file, "# mine\nscale = 2\nscale = 4\n");
  EXPECT_EQ(WindowScale::Load(file, &problem), 0);
  EXPECT_EQ(problem, file +
                         ":3: not understood (\"scale = 4\"); the file may say scale = auto, 1, "
                         "2 or 3");
  QString told;
  window->SetMessageBox([&](const QString& text, const QString&) { told = text; });
  window->SetScaleFile(dir.path(), 1);
  window->Action(kCmdScale3)->trigger();
  EXPECT_TRUE(told.startsWith(QStringLiteral("无法保存窗口大小"))) << told.toStdString();
  EXPECT_TRUE(window->Action(kCmdScale1)->isChecked());
}

TEST_F(CommandsTest, AfterEachPlayTheLearnersTurnShowsAndDictationStopsAfterTheLast) {
  window->SetDialogHook([](QDialog& d) {
    auto& dialog = dynamic_cast<SettingsDialog&>(d);
    dialog.show();
    EXPECT_TRUE(dialog.GapButton(0)->isChecked());  // no gap by default
    EXPECT_FALSE(dialog.GapEdit(1)->isEnabled());
    dialog.GapButton(2)->click();
    dialog.GapEdit(1)->setText(QStringLiteral("0.5"));
    dialog.StopAfterCheck()->setChecked(true);
    dialog.RecordCheck()->setChecked(true);
    dialog.Step(0, -1);  // 3 plays to 2
    dialog.OkButton()->click();
  });
  window->RunCommand(kCmdSettings);
  const GapSettings gaps = window->EngineOf().Gaps();
  EXPECT_EQ(gaps.kind, GapSettings::Kind::kFactor);
  EXPECT_FLOAT_EQ(gaps.value, 0.5f);
  EXPECT_TRUE(gaps.stopAfterSentence);
  EXPECT_TRUE(gaps.recordInGap);
  // No microphone: told once, and the turns stay silent gaps.
  audio.Faults().refuseInput = true;
  QStringList messages;
  window->SetMessageBox([&](const QString& text, const QString&) { messages << text; });

  std::string tones;
  for (int k = 0; k < 2; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
    tones.append(tone.begin(), tone.end());
    tones.append(176400 / 2, '\0');
  }
  WriteFileBytes("tones.qv", QvFileBytes(RecordingFormat(), tones));
  WriteFileBytes("tones.lrc", "[00:00.00]one\n[00:01.50]two\n");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("tones.qv")))});
  window->DropFiles(data);
  window->RunCommand(kCmdAutoManual);
  window->EngineOf().CommandPlayEntry(1);
  ASSERT_TRUE(Until([&] { return Status().sentenceCount == 2; }));
  // The first hearing, then the learner's turn: the progress stands still.
  for (int i = 0; i < 40 && !Status().gap; ++i)
    Play(100);
  ASSERT_TRUE(Status().gap);
  EXPECT_TRUE(Until([&] { return window->Panel()->Turn(); }));
  const uint32_t at = Status().position;
  Play(200);
  EXPECT_EQ(Status().position, at);
  // Two plays, each with its turn; then reading waits for play.
  for (int i = 0; i < 80 && !Status().paused; ++i) {
    // As Play, but the pause may come in the middle of the sound granted.
    const int64_t before = audio.Clock().Consumed();
    audio.Clock().Advance(100000000);
    Until([&] { return audio.Clock().Consumed() - before >= 70000000 || Status().paused; });
  }
  EXPECT_TRUE(Status().paused);
  EXPECT_FALSE(Status().gap);
  EXPECT_TRUE(Until([&] { return !window->Panel()->Turn(); }));
  ASSERT_EQ(messages.size(), 1) << messages.join('|').toStdString();
  EXPECT_TRUE(messages[0].contains(QStringLiteral("input"))) << messages[0].toStdString();
  window->RunCommand(kCmdPause);  // the pause key goes on too
  ASSERT_TRUE(Until([&] { return !Status().paused; }));
  Play(500);
  EXPECT_GT(Status().position, at);
}

TEST_F(CommandsTest, KeepPitchSlowsDownAtOnceAtTheFilesOwnRate) {
  QMenu* advanced = nullptr;
  for (QAction* a : window->PopupMenu(0)->actions()) {
    if (a->text() == QStringLiteral("高级设置")) advanced = a->menu();
  }
  ASSERT_NE(advanced, nullptr);
  QStringList items;
  for (QAction* a : advanced->actions())
    items << a->text();
  EXPECT_EQ(items, (QStringList{"复读设置", "保持音调(&K)", "按字幕分句", "自适应分句", "",
                                "从上次停止处继续", "记住设置", "窗口大小"}));
  QAction* keep = window->Action(kCmdKeepPitch);
  ASSERT_NE(keep, nullptr);
  EXPECT_TRUE(keep->isCheckable());
  EXPECT_FALSE(keep->isChecked());

  Play(100);
  SkinSlider* speed = window->Slider(kIdSpeed);
  speed->setFocus();
  QTest::keyClick(speed, Qt::Key_PageUp);
  QTest::keyClick(speed, Qt::Key_PageUp);
  for (int i = 0; i < 5; ++i)
    QTest::keyClick(speed, Qt::Key_Right);
  ASSERT_TRUE(Until([&] { return Status().outputRate == 33000; })) << Status().speedPosition;
  EXPECT_EQ(Status().speedPosition, 25);
  Play(100);

  // Chosen while sound plays: at once, at the file's rate, three quarters as fast.
  keep->trigger();
  EXPECT_TRUE(keep->isChecked());
  // The device reopens at the file's rate, then takes the tempo.
  ASSERT_TRUE(Until([&] { return Status().outputRate == 44100 && Status().outputTempo == 0.75f; }));
  EXPECT_TRUE(Status().keepPitch);
  Play(40);
  const uint32_t from = Status().position;
  Play(400);
  // 400 ms of sound is 300 ms of the file (53 kB), in whole 5000-byte buffers.
  EXPECT_NEAR(static_cast<double>(Status().position - from), 52920, 7500);

  keep->trigger();
  EXPECT_FALSE(keep->isChecked());
  ASSERT_TRUE(Until([&] { return Status().outputRate == 33000 && Status().outputTempo == 1.0f; }));

  // Stopped, there is nothing to slow down: it only applies from the next item.
  window->RunCommand(kCmdStop);
  ASSERT_TRUE(Until([&] { return Status().stopped && !(Status().flags & ENG_STOP_REQ); }));
  QTest::qWait(20);
  const uint32_t flags = Status().flags;
  keep->trigger();
  QTest::qWait(50);
  EXPECT_TRUE(Status().stopped);
  EXPECT_EQ(Status().flags, flags);
  EXPECT_EQ(Status().outputRate, 0u);
}

// Elapsed and total time under the waveform; while repeating, the passage's A
// and B on the progress bar and how many times it has been heard.
TEST_F(CommandsTest, TheLearnerSeesTheTimeThePassageAndTheRepeatCount) {
  Play(1500);  // 1.5 s of the 11.3 s lesson
  ASSERT_TRUE(Until([&] { return window->Panel()->Caption() == QStringLiteral("0:01 / 0:11"); }))
      << window->Panel()->Caption().toStdString();
  EXPECT_EQ(window->Slider(kIdProgress)->Marks(), std::make_pair(-1, -1));
  Click(kIdRepeat);
  ASSERT_TRUE(Until([&] { return Status().flags == ENG_REPEATING; }));
  const EngineStatus s = Status();
  ASSERT_GT(s.passageEnd, s.passageStart);
  const auto marks =
      std::make_pair(static_cast<int>(uint64_t{s.passageStart} * Engine::kProgressMax / s.length),
                     static_cast<int>(uint64_t{s.passageEnd} * Engine::kProgressMax / s.length));
  ASSERT_TRUE(Until([&] { return window->Slider(kIdProgress)->Marks() == marks; }));
  Play(200);
  ASSERT_TRUE(Until([&] { return window->Panel()->Caption().endsWith(QStringLiteral("×1")); }))
      << window->Panel()->Caption().toStdString();
  Play(static_cast<int>((s.passageEnd - s.passageStart) * 1000LL / s.byteRate));
  ASSERT_TRUE(Until([&] { return window->Panel()->Caption().endsWith(QStringLiteral("×2")); }))
      << window->Panel()->Caption().toStdString();
  Click(kIdRead);  // the learner ends the repeat: the marks go
  ASSERT_TRUE(
      Until([&] { return window->Slider(kIdProgress)->Marks() == std::make_pair(-1, -1); }));
}

TEST_F(CommandsTest, PageDownAtTheBottomOfTheVolumeKeepsItSilent) {
  SkinSlider* volume = window->Slider(kIdVolume);
  volume->setFocus();
  for (int i = 0; i < 7; ++i)
    QTest::keyClick(volume, Qt::Key_PageDown);
  EXPECT_EQ(volume->Position(), 0);
  ASSERT_TRUE(Until([&] { return Status().volumePosition == 0; }));
  for (int i = 0; i < 12; ++i)
    QTest::keyClick(volume, Qt::Key_PageUp);
  EXPECT_EQ(volume->Position(), 100);
  ASSERT_TRUE(Until([&] { return Status().volumePosition == 100; }));
}

TEST_F(CommandsTest, DraggingTheProgressSliderSeeksOnceOnRelease) {
  SkinSlider* progress = window->Slider(kIdProgress);
  Engine& e = window->EngineOf();
  // The seek the engine was asked for: once served, only the position shows it.
  const uint32_t before = Inside(e).seekTarget().load();
  ASSERT_TRUE(progress->isEnabled());
  QTest::mousePress(progress, Qt::LeftButton, {}, QPoint(10, 2));
  ASSERT_TRUE(progress->Dragging());
  QTest::mouseMove(progress, QPoint(40, 2));
  QTest::mouseMove(progress, QPoint(60, 2));
  QTest::qWait(50);
  EXPECT_EQ(Inside(e).seekTarget().load(), before);  // nothing while dragging
  QTest::mouseRelease(progress, Qt::LeftButton, {}, QPoint(60, 2));
  QTest::qWait(50);
  const uint32_t q = 2000000 / 10000;
  EXPECT_EQ(Inside(e).seekTarget().load(), static_cast<uint32_t>(progress->Position()) * q);
  EXPECT_GT(progress->Position(), 0);
  Play(100);
  EXPECT_GE(Status().position, Inside(e).seekTarget().load());
}

// Paused, a click on the bar moves the place (shown at once) and Play goes on
// from it; Ctrl+D records as the engine does, paused too.
TEST_F(CommandsTest, WhilePausedTheBarSeeksAndTheRecordKeyRecords) {
  Play(300);
  Click(kIdPause);
  ASSERT_TRUE(Until([&] { return Status().paused; }));
  SkinSlider* progress = window->Slider(kIdProgress);
  ASSERT_TRUE(Until([&] { return progress->isEnabled(); }));
  QTest::mouseClick(progress, Qt::LeftButton, {}, QPoint(progress->width() * 3 / 4, 2));
  ASSERT_TRUE(Until([&] { return Inside(window->EngineOf()).seekTarget().load() > 1000000u; }));
  const uint32_t target = Inside(window->EngineOf()).seekTarget().load();
  ASSERT_TRUE(Until([&] { return Status().position == target; })) << Status().position;
  EXPECT_TRUE(Status().paused);
  Click(kIdPlay);
  Play(100);
  EXPECT_GE(Status().position, target);
  EXPECT_LT(Status().position, target + 40000);
  Click(kIdPause);
  ASSERT_TRUE(Until([&] { return Status().paused; }));
  QTest::keyClick(window.get(), Qt::Key_D, Qt::ControlModifier);
  EXPECT_TRUE(Until([&] { return Status().flags == ENG_RECORDING; }));
}

TEST_F(CommandsTest, DroppedFilesAreAddedAtTheEnd) {
  WriteFileBytes("b.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000)));
  WriteFileBytes("a.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000)));
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("b.qv"))),
                QUrl::fromLocalFile(QString::fromStdString(dir.File("a.qv")))});
  // What the window's drop handler does with the drag's data (a drop event
  // outside a real drag is not delivered).
  EXPECT_TRUE(window->acceptDrops());
  window->DropFiles(data);
  const Playlist& list = window->PlaylistModel();
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.At(1), dir.File("b.qv"));
  EXPECT_EQ(list.At(2), dir.File("a.qv"));
  EXPECT_EQ(Status().item, 0);  // nothing else changes
  // The box names the files; the whole path is the tooltip.
  ASSERT_EQ(window->PlaylistBox()->count(), 3);
  EXPECT_EQ(window->PlaylistBox()->item(1)->text(), QStringLiteral("b.qv"));
  EXPECT_EQ(window->PlaylistBox()->item(1)->toolTip(), QString::fromStdString(dir.File("b.qv")));
}

TEST_F(CommandsTest, AFolderOpensAsItsSoundFilesInNameOrder) {
  const std::string lessons = dir.File("lessons");
  std::filesystem::create_directories(lessons + "/more");
  for (const char* name : {"b.qv", "a.QV", "more/c.qv"})
    WriteFileBytes(lessons + "/" + name, QvFileBytes(RecordingFormat(), PatternBytes(5000 * 20)));
  for (const char* name : {"a.lrc", "notes.txt", "list.m3u"})
    WriteFileBytes(lessons + "/" + name, "not a lesson\n");
  std::filesystem::create_directory(dir.File("empty"));
  const int before = window->PlaylistModel().Count();
  // Dropped, given at start or by a file manager, a folder adds its lessons;
  // one with nothing to play says so.
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(lessons)),
                QUrl::fromLocalFile(QString::fromStdString(dir.File("empty")))});
  window->DropFiles(data);
  const std::vector<std::string> all = window->PlaylistModel().Entries();
  EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()),
            (std::vector<std::string>{lessons + "/a.QV", lessons + "/b.qv"}));
  EXPECT_TRUE(window->Notice().contains(QStringLiteral("empty"))) << window->Notice().toStdString();
  window->AddAndPlay({lessons});
  ASSERT_TRUE(Until([&] { return Status().item == before + 2 && Status().itemsHeard >= 1; }));
}

TEST_F(CommandsTest, TheOpenDialogShowsEveryFormatFromTheLearnersHome) {
  QStringList filters;
  QString selected, folder;
  QFileDialog::FileMode mode{};
  window->SetFileDialogHook([&](QFileDialog& d) {
    filters = d.nameFilters();
    selected = d.selectedNameFilter();
    folder = d.directory().absolutePath();
    mode = d.fileMode();
    QTimer::singleShot(0, &d, &QDialog::reject);
  });
  window->OpenFiles(true);
  ASSERT_FALSE(filters.isEmpty());
  EXPECT_EQ(selected, filters.first());
  for (const char* pattern : {"*.qv", "*.wav", "*.mp3", "*.m3u", "*.MP3"})
    EXPECT_TRUE(filters.first().contains(QLatin1String(pattern))) << pattern;
  EXPECT_EQ(folder, QDir::homePath());
  EXPECT_EQ(mode, QFileDialog::ExistingFiles);  // Add takes several files at once
  window->OpenFiles(false);
  EXPECT_EQ(mode, QFileDialog::ExistingFile);
}

TEST_F(CommandsTest, OpeningAndSavingElsewhereLeaveTheWorkingFolderAndRelativeEntriesAlone) {
  const std::string elsewhere = dir.File("elsewhere");
  std::filesystem::create_directory(elsewhere);
  WriteFileBytes(elsewhere + "/b.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 50)));
  const QString started = QDir::currentPath();
  auto choose = [&](const std::string& file) {
    window->SetFileDialogHook([file](QFileDialog& d) {
      d.setOption(QFileDialog::DontUseNativeDialog);
      d.selectFile(QString::fromStdString(file));
      QTimer::singleShot(0, &d, &QDialog::accept);
    });
  };
  choose(elsewhere + "/b.qv");
  window->OpenFiles(false);
  ASSERT_TRUE(Until([&] { return Status().item == 1 && Status().itemsOpened == 2; }));
  choose(elsewhere + "/saved.m3u");
  window->SaveList();
  EXPECT_EQ(QDir::currentPath(), started);
  EXPECT_TRUE(std::filesystem::exists(elsewhere + "/saved.m3u"));
  // The relative entry of the start still plays, from the folder Kestro began in.
  window->PlaylistBox()->setCurrentRow(0);
  window->PlaySelected();
  ASSERT_TRUE(Until([&] { return Status().item == 0 && Status().itemsOpened == 3; }))
      << window->EngineOf().LastError();
}

TEST_F(CommandsTest, DeletingTheEntryThatPlaysStopsItAndOthersKeepItsPlace) {
  for (const char* name : {"b.qv", "c.qv"}) {
    WriteFileBytes(name, QvFileBytes(RecordingFormat(), PatternBytes(5000 * 50)));
    window->OpenPath(dir.File(name), true);
  }
  window->TogglePlaylistView();
  // The entry that plays (lesson.qv, the first) deleted: it stops, and Play
  // takes the entry now in its place.
  window->PlaylistBox()->setCurrentRow(0);
  Click(kIdDelete);
  ASSERT_TRUE(Until([&] { return Status().stopped; }));
  ASSERT_EQ(window->PlaylistModel().Count(), 2);
  Click(kIdPlay);
  ASSERT_TRUE(Until([&] { return !Status().stopped && Status().itemsOpened == 2; }));
  EXPECT_EQ(Status().item, 0);
  EXPECT_EQ(window->PlaylistModel().At(Status().item), dir.File("b.qv"));
  // c.qv plays; deleting b.qv before it leaves it playing, its index in step.
  window->EngineOf().CommandPlayEntry(1);
  // The box has followed the engine to c.qv before the learner picks b.qv.
  ASSERT_TRUE(
      Until([&] { return Status().itemsOpened == 3 && window->PlaylistBox()->currentRow() == 1; }));
  window->PlaylistBox()->setCurrentRow(0);
  Click(kIdDelete);
  EXPECT_FALSE(Status().stopped);
  EXPECT_EQ(Status().item, 0);
  EXPECT_EQ(window->PlaylistModel().At(Status().item), dir.File("c.qv"));
  // Everything deleted: nothing plays on.
  window->SetQuestionBox([](const QString&, const QString&) { return true; });
  Click(kIdDeleteAll);
  ASSERT_TRUE(Until([&] { return Status().stopped; }));
  EXPECT_EQ(Status().item, -1);
}

TEST_F(CommandsTest, ADoubleClickPlaysTheEntryEvenIfTheListIsRefreshedBetweenTheClicks) {
  WriteFileBytes("b.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 50)));
  window->OpenPath(dir.File("b.qv"), true);
  QListWidget* box = window->PlaylistBox();
  window->TogglePlaylistView();
  ASSERT_EQ(box->count(), 2);
  QWidget* view = box->viewport();
  const QPoint at = box->visualItemRect(box->item(1)).center();
  // The first click selects; the window's refresh comes before the second.
  QTest::mousePress(view, Qt::LeftButton, {}, at);
  QTest::mouseRelease(view, Qt::LeftButton, {}, at);
  ASSERT_EQ(box->currentRow(), 1);
  window->RefreshPlaylistBox();
  QMouseEvent second(QEvent::MouseButtonDblClick, at, view->mapToGlobal(at), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view, &second);
  QTest::mouseRelease(view, Qt::LeftButton, {}, at);
  ASSERT_TRUE(Until([&] { return Status().item == 1 && Status().itemsOpened == 2; }));
}

TEST_F(CommandsTest, GlyphButtonsNameTheirCommands) {
  EXPECT_EQ(window->Control(kIdPlay)->toolTip(), QStringLiteral("播放 (Ctrl+W)"));
  EXPECT_EQ(window->Control(kIdDeleteAll)->toolTip(), QStringLiteral("清空列表"));
  EXPECT_EQ(window->Control(kIdOpen)->toolTip(), QStringLiteral("打开文件… (Ctrl+N)"));
  // The mode button tells what a press does, which changes with the mode.
  const QString manual = window->Control(kIdManual)->toolTip();
  QTest::keyClick(window.get(), Qt::Key_M, Qt::ControlModifier);
  EXPECT_NE(window->Control(kIdManual)->toolTip(), manual);
  EXPECT_TRUE(window->Control(kIdManual)->toolTip().endsWith(QStringLiteral("(Ctrl+M)")));
}

// The settings dialog alone.
class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog.SetMessageBox([this](const QString& text) { messages.push_back(text); });
  }
  SettingsDialog dialog;
  QStringList messages;
};

TEST_F(SettingsDialogTest, OpensClampedAndStepsKeepWhatWasTyped) {
  dialog.SetValues(3, 2, 3, 2.0f);  // a share of 3 % shows as 10
  dialog.show();
  EXPECT_EQ(dialog.Edit(0)->text(), QStringLiteral("3"));
  EXPECT_EQ(dialog.Edit(1)->text(), QStringLiteral("2"));
  EXPECT_EQ(dialog.Edit(2)->text(), QStringLiteral("2"));
  EXPECT_EQ(dialog.Edit(3)->text(), QStringLiteral("10"));
  dialog.Edit(1)->setText(QStringLiteral("33"));  // typed, then a spin step elsewhere
  QTest::mouseClick(dialog.findChild<QToolButton*>(QStringLiteral("up0")), Qt::LeftButton);
  EXPECT_EQ(dialog.Edit(0)->text(), QStringLiteral("4"));
  EXPECT_EQ(dialog.Edit(1)->text(), QStringLiteral("33"));  // kept as typed
  dialog.Edit(2)->setText(QStringLiteral("0.75"));          // a step goes on from what is typed
  QTest::mouseClick(dialog.findChild<QToolButton*>(QStringLiteral("down2")), Qt::LeftButton);
  EXPECT_EQ(dialog.Edit(2)->text(), QStringLiteral("0.7"));
  EXPECT_EQ(dialog.Edit(1)->text(), QStringLiteral("33"));
  for (int i = 0; i < 200; ++i)
    dialog.Step(3, +1);
  EXPECT_EQ(dialog.Edit(3)->text(), QStringLiteral("100"));  // the top of its range
}

TEST_F(SettingsDialogTest, OkRefusesOutOfRangeValuesInOrderAndKeepsTheFocus) {
  dialog.SetValues(3, 2, 5, 2.0f);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  dialog.Edit(0)->setText(QStringLiteral("0"));
  dialog.Edit(2)->setText(QStringLiteral("0.05"));
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(QStringLiteral("1 和 100"))) << messages[0].toStdString();
  EXPECT_TRUE(dialog.isVisible());
  dialog.Edit(0)->setText(QStringLiteral("7"));
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  ASSERT_EQ(messages.size(), 2);
  EXPECT_TRUE(messages[1].contains(QStringLiteral("0.1 和 10"))) << messages[1].toStdString();
  dialog.Edit(2)->setText(QStringLiteral("x"));
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_TRUE(messages.last().contains(QStringLiteral("数字")));
  dialog.Edit(2)->setText(QStringLiteral("1.5"));
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  uint32_t count, vertical, percent;
  float seconds;
  dialog.GetValues(&count, &vertical, &percent, &seconds);
  EXPECT_EQ(count, 7u);
  EXPECT_FLOAT_EQ(seconds, 1.5f);
}

TEST_F(SettingsDialogTest, TheAdaptiveSettingsCountOnlyWhenThatSplitIsChosen) {
  dialog.SetValues(3, 2, 5, 2.0f);
  dialog.SetSplit({true, false, 0.3f, 15.0f});
  dialog.show();
  EXPECT_FALSE(dialog.SplitEdit(0)->isEnabled());
  dialog.SplitEdit(1)->setText(QStringLiteral("500"));  // out of range, but not chosen
  dialog.TranscriptCheck()->setChecked(false);
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_FALSE(dialog.GetSplit().transcript);
  EXPECT_FLOAT_EQ(dialog.GetSplit().maxSentenceSeconds, 15.0f);

  dialog.SetSplit({true, false, 0.3f, 15.0f});
  dialog.show();
  dialog.AdaptiveButton()->click();
  EXPECT_TRUE(dialog.SplitEdit(0)->isEnabled());
  dialog.SplitEdit(1)->setText(QStringLiteral("500"));
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(QStringLiteral("2 和 120"))) << messages[0].toStdString();
  EXPECT_FALSE(dialog.GetSplit().adaptive);  // nothing kept until all pass
  dialog.SplitEdit(1)->setText(QStringLiteral("20"));
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.GetSplit().adaptive);
  EXPECT_FLOAT_EQ(dialog.GetSplit().maxSentenceSeconds, 20.0f);
}

}  // namespace

// A line is listed at its own time, not at its padded start: a line at 23.0 s
// whose pad begins at 22.85 s reads 0:23.
TEST(TranscriptViewTest, ALineShowsItsOwnTimeNotThePaddedStart) {
  TranscriptView view(nullptr);
  const uint32_t rate = 176400;
  view.SetSentences({Sentence{rate * 2285 / 100, rate * 24, "line", rate * 23}}, rate);
  ASSERT_EQ(view.count(), 1);
  EXPECT_TRUE(view.item(0)->text().startsWith(QStringLiteral("0:23")))
      << view.item(0)->text().toStdString();
}
