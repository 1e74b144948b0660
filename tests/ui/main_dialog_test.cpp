// SPDX-License-Identifier: GPL-3.0-or-later
// The main window off screen, with the real engine on the offline devices, in
// a program folder of its own.
#include "ui/main_dialog.h"
#include "ui/interface_language.h"
#include "ui/settings_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QToolTip>
#include <filesystem>
#include <memory>

#include "library/playlist_file.h"
#include "loaded_plugin.h"
#include "pcm.h"
#include "temp_dir.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "ui_tests";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);
    }
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A program folder (Skin, Arch, lessons, Kestro.m3u) as the current directory.
class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
    oldDir = cwd;
    ::mkdir(dir.File("Arch").c_str(), 0755);
    for (const auto& e : std::filesystem::directory_iterator(KESTRO_STAGE_DIR "/Arch"))
      CopyFile(e.path().string(), dir.File("Arch/" + e.path().filename().string()));
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  }
  void TearDown() override {
    window.reset();
    ASSERT_EQ(::chdir(oldDir.c_str()), 0);
  }
  void WithSkin() {
    ::mkdir(dir.File("Skin").c_str(), 0755);
    CopyFile(KESTRO_STAGE_DIR "/Skin/main.bmp", dir.File("Skin/main.bmp"));
  }
  void Start(bool failAllocation = false) {
    window = std::make_unique<MainDialog>(audio);
    window->SetMessageBox(
        [this](const QString& text, const QString&) { messages.push_back(text.toStdString()); });
    if (failAllocation) window->FailAllocationForTest();
    window->show();
    started = window->OnInitDialog();
  }
  // Lets the window's thread run until condition holds (a minute at most: only
  // a hang takes that long).
  bool Until(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(60000);
    while (!condition() && !deadline.hasExpired())
      QTest::qWait(10);
    return condition();
  }

  TempDir dir;
  std::string oldDir;
  AudioBackend audio{AudioBackend::Kind::kOffline};
  std::unique_ptr<MainDialog> window;
  std::vector<std::string> messages;
  bool started = false;
};

TEST_F(MainDialogTest, StartsWithTheSkinItsControlsInPlaceAndReading) {
  WithSkin();
  WriteFileBytes("lesson.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 40)));
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\nlesson.qv\r\n");
  Start();
  ASSERT_TRUE(started);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(window->size(), QSize(292, 186));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Kestro"));
  EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(window->TitleStrip(), QRect(QPoint(100, 1), QPoint(291, 12)));
  // Template places (dialog units x 1.5) and the pixel places of the layout.
  EXPECT_EQ(window->Control(kIdPlay)->geometry(), QRect(212, 36, 47, 14));
  EXPECT_EQ(window->Control(kIdClose)->geometry(), QRect(255, 2, 11, 11));
  EXPECT_EQ(window->Control(kIdRepeat)->geometry(), QRect(93, 147, 39, 30));
  EXPECT_EQ(window->Control(kIdProgress)->geometry(), QRect(7, 132, 121, 4));
  EXPECT_EQ(window->Control(kIdBalance)->geometry(), QRect(212, 113, 46, 5));
  EXPECT_EQ(window->Panel()->geometry(), QRect(8, 21, 194, 104));
  EXPECT_EQ(window->PlaylistBox()->geometry(), QRect(8, 21, 194, 104));
  EXPECT_TRUE(window->Panel()->isVisible());
  EXPECT_FALSE(window->PlaylistBox()->isVisible());
  EXPECT_EQ(window->Slider(kIdVolume)->Position(), 50);
  // The listed lesson opens and reads: 阅读 turns green, and the panel draws.
  ASSERT_TRUE(
      Until([&] { return window->ModeButton(kIdRead)->CaptionColor() == kCaptionRunning; }));
  ASSERT_TRUE(Until([&] { return !window->Panel()->Frame().isNull(); }));
  EXPECT_EQ(window->PlaylistBox()->count(), 1);
  EXPECT_EQ(window->PlaylistBox()->item(0)->text(), QStringLiteral("lesson.qv"));
  // The picture is the skin with the title painted on it.
  const QImage shot = window->grab().toImage();
  EXPECT_EQ(shot.size(), QSize(292, 186));
}

// The window's words in English on an English locale, in Chinese on a Chinese
// one: the captions, the menus, a dialog, and the words of the skin's face.
TEST_F(MainDialogTest, TheWindowSpeaksTheLocalesLanguage) {
  EXPECT_EQ(InterfaceLanguage::ForLocale(QLocale(QStringLiteral("en_US"))), "en");
  EXPECT_EQ(InterfaceLanguage::ForLocale(QLocale(QStringLiteral("de_DE"))), "en");
  EXPECT_EQ(InterfaceLanguage::ForLocale(QLocale::c()), "en");
  EXPECT_EQ(InterfaceLanguage::ForLocale(QLocale(QStringLiteral("zh_CN"))), "zh");
  EXPECT_EQ(InterfaceLanguage::ForLocale(QLocale(QStringLiteral("zh_TW"))), "zh");
  WithSkin();
  const QImage chinese = [&] {
    Start();
    return window->grab().toImage();
  }();
  EXPECT_EQ(window->ModeButton(kIdRepeat)->text(), QStringLiteral("复读"));
  window.reset();
  InterfaceLanguage words;
  ASSERT_TRUE(words.Install(QStringLiteral("en")));
  Start();
  ASSERT_TRUE(started);
  QStringList captions, items;
  for (int id : {kIdManual, kIdRead, kIdRepeat, kIdRecord, kIdPlayBack, kIdCompare})
    captions << window->ModeButton(id)->text();
  EXPECT_EQ(captions, (QStringList{"Manual", "Read", "Repeat", "Record", "Replay", "Compare"}));
  for (QAction* a : window->PopupMenu(1)->actions())
    items << a->text();
  EXPECT_EQ(items, (QStringList{"Add", "Delete", "Delete all", "Save the list"}));
  EXPECT_EQ(window->Action(kCmdKeepPitch)->text(), QStringLiteral("&Keep pitch"));
  // Every control says what it does, with its key where it has one.
  EXPECT_EQ(window->Control(kIdExchange)->toolTip(),
            QStringLiteral("Switch between the playlist and the waveform"));
  EXPECT_EQ(window->Control(kIdRecord)->toolTip(),
            QStringLiteral("Record your voice (paused too) (Ctrl+D)"));
  EXPECT_EQ(window->Action(kCmdNewFile)->text(), QStringLiteral("&Open files…"));
  for (int id : {kIdPlay, kIdPause, kIdStop, kIdBegin, kIdEnd, kIdOpen, kIdRead, kIdRepeat,
                 kIdPlayBack, kIdCompare, kIdManual})
    EXPECT_TRUE(window->Control(id)->toolTip().contains(QStringLiteral("(Ctrl+"))) << id;
  for (int id : {kIdProgress, kIdVolume, kIdSpeed, kIdBalance, kIdAdd, kIdDelete, kIdDeleteAll})
    EXPECT_FALSE(window->Control(id)->toolTip().isEmpty()) << id;
  EXPECT_EQ(SettingsDialog().windowTitle(), QStringLiteral("Automatic repeat settings"));
  // The face's words are drawn in English over Kestro's own skin, and only there.
  const QImage english = window->grab().toImage();
  const QRect label(262, 111, 24, 24);
  EXPECT_EQ(english.copy(label), DrawSkinFace(1, MainDialog::Labels()).copy(label));
  EXPECT_NE(english.copy(label), chinese.copy(label));
  words.Remove();
  window.reset();
  Start();
  EXPECT_EQ(window->ModeButton(kIdCompare)->text(), QStringLiteral("对比"));
}

TEST_F(MainDialogTest, WithoutASkinItSaysSoOnceAndKeepsTheTemplateSize) {
  Start();
  ASSERT_TRUE(started);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "main.bmp file lost");
  EXPECT_EQ(window->size(), QSize(278, 381));
  EXPECT_TRUE(window->TitleStrip().isEmpty());
}

TEST_F(MainDialogTest, AFailedAllocationLeavesTheStoredPlaylistAlone) {
  WithSkin();
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\na.mp3\r\nb.mp3\r\n");
  Start(true);
  EXPECT_FALSE(started);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Malloc memory error");
  EXPECT_EQ(window->EngineOf().Status().passes, 0u);  // no engine thread ran
  window->ExitProgram();
  EXPECT_EQ(ReadFileBytes("Kestro.m3u"), "#EXTM3U\r\na.mp3\r\nb.mp3\r\n");
}

TEST_F(MainDialogTest, EnterKeepsTheWindowAndEscEndsItSavingTheList) {
  WithSkin();
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\nc.mp3\r\nA.mp3\r\nb.mp3\r\n");
  Start();
  QTest::keyClick(window.get(), Qt::Key_Return);
  QTest::keyClick(window.get(), Qt::Key_Enter);
  EXPECT_FALSE(window->Exited());
  EXPECT_TRUE(window->isVisible());
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_TRUE(window->Exited());
  EXPECT_FALSE(window->isVisible());
  // Every thread has ended; the list is saved sorted as it was loaded.
  EXPECT_EQ(window->EngineOf().Status().flags, ENG_EXITED);
  EXPECT_EQ(window->Panel()->PanelState(), 0u);
  EXPECT_EQ(
      ReadFileBytes("Kestro.m3u"),
      "#EXTM3U\r\n#EXTINF:-1,A\r\nA.mp3\r\n#EXTINF:-1,b\r\nb.mp3\r\n#EXTINF:-1,c\r\nc.mp3\r\n");
  EXPECT_NE(::access("___1234567890____.__1234567___", F_OK), 0);  // the probe is gone
}

// A list that could not be read is the learner's to repair: they are told,
// and it is not saved over at exit; a save's leftovers from a kill are removed.
TEST_F(MainDialogTest, AListThatCannotBeReadIsToldAndKept) {
  WithSkin();
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\na.mp3\r\n");
  ASSERT_EQ(::truncate("Kestro.m3u", kMaxPlaylistBytes + 1), 0);
  WriteFileBytes(".Kestro.m3u.Ab12Cd", "#EXTM3U\r\n");
  Start();
  ASSERT_TRUE(started);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Kestro.m3u: it is larger than 64 MiB"), std::string::npos)
      << messages[0];
  EXPECT_NE(::access(".Kestro.m3u.Ab12Cd", F_OK), 0);
  window->ExitProgram();
  EXPECT_EQ(std::filesystem::file_size("Kestro.m3u"), uintmax_t(kMaxPlaylistBytes + 1));
  EXPECT_EQ(ReadFileBytes("Kestro.m3u").substr(0, 14), "#EXTM3U\r\na.mp3");
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(MainDialogTest, AListThatCannotBeSavedIsToldAtExit) {
  WithSkin();
  Start();
  ASSERT_TRUE(started);
  ::mkdir("Kestro.m3u", 0755);  // a folder took the list's place meanwhile
  window->ExitProgram();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("播放列表没有保存"), std::string::npos) << messages[0];
}

TEST_F(MainDialogTest, TheTitleIsGreyWhileAnotherWindowIsActive) {
  WithSkin();
  Start();
  QWidget other;
  other.show();
  QApplication::setActiveWindow(&other);
  ASSERT_TRUE(Until([&] { return window->TitleColor() == 0x808080u; }));
  QApplication::setActiveWindow(window.get());
  ASSERT_TRUE(Until([&] { return window->TitleColor() == 0u; }));
}

TEST_F(MainDialogTest, PlaylistCommandsEditTheSharedList) {
  WithSkin();
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\nb.qv\r\nA.qv\r\nc.qv\r\n");
  Start();
  Playlist& list = window->PlaylistModel();
  EXPECT_EQ(list.Entries(), (std::vector<std::string>{"A.qv", "b.qv", "c.qv"}));
  window->OpenPath("a-late.qv", true);  // Add: at the end, whatever its name
  EXPECT_EQ(list.At(3), "a-late.qv");
  WriteFileBytes("more.m3u", "#EXTM3U\r\nB2.qv\r\n");
  window->OpenPath("more.m3u", true);  // Add of a list extends it, sorted in
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.At(2), "B2.qv");
  window->OpenPath("more.m3u", false);  // Open of a list replaces it
  EXPECT_EQ(list.Entries(), std::vector<std::string>{"B2.qv"});
  // Delete all asks first: no keeps the list.
  QString asked;
  bool answer = false;
  window->SetQuestionBox([&](const QString& text, const QString&) {
    asked = text;
    return answer;
  });
  window->DeleteAll();
  EXPECT_EQ(list.Count(), 1);
  EXPECT_TRUE(asked.contains(QStringLiteral("全部 1 个"))) << asked.toStdString();
  answer = true;
  window->DeleteAll();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(window->PlaylistBox()->count(), 0);
  window->TogglePlaylistView();
  EXPECT_TRUE(window->PlaylistBox()->isVisible());
  EXPECT_FALSE(window->Panel()->isVisible());
}

TEST_F(MainDialogTest, OpenPlaysTheChosenFileAndDeleteBeforeItKeepsTheIndex) {
  WithSkin();
  WriteFileBytes("one.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 1)));
  WriteFileBytes("two.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 2)));
  audio.Clock().SetHeld(true);  // nothing ends on its own
  Start();
  // The empty list's start-up has been served (it idles), as a learner's click comes later.
  ASSERT_TRUE(Until([&] { return window->EngineOf().Status().passes >= 3; }));
  window->OpenPath("one.qv", false);
  window->OpenPath("two.qv", false);
  // Both opens served, and the window has shown the engine's choice (it hears
  // of it through its event queue).
  ASSERT_TRUE(Until([&] {
    const EngineStatus s = window->EngineOf().Status();
    return s.item == 1 && !s.openPending && s.itemsOpened >= 1 &&
           std::string(s.mode) == "reading" && window->PlaylistBox()->currentRow() == 1;
  })) << window->EngineOf().Status().item
      << " " << window->EngineOf().Status().mode << " " << window->EngineOf().Status().itemsOpened
      << " " << window->PlaylistBox()->currentRow() << " " << window->EngineOf().LastError();
  window->PlaylistBox()->setCurrentRow(0);
  window->DeleteSelected();
  // The engine's index follows the entry that plays, now the first.
  EXPECT_EQ(window->PlaylistModel().Count(), 1);
  EXPECT_EQ(window->EngineOf().Status().item, 0);
  EXPECT_EQ(window->PlaylistModel().At(0), "two.qv");
  EXPECT_FALSE(window->EngineOf().Status().stopped);
}

TEST_F(MainDialogTest, AnEntryThatCannotBePlayedIsNamedAndMarkedWithoutABox) {
  WithSkin();
  // Sorted as listed; reading starts after the first entry and wraps to it.
  WriteFileBytes("a-good.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 10, 1)));
  WriteFileBytes("c-broken.qv", "not a recording");
  // Opens, but holds less than one frame: nothing can be decoded.
  WriteFileBytes("d-empty.qv", QvFileBytes(RecordingFormat(), "\x01\x02"));
  WriteFileBytes("Kestro.m3u",
                 "#EXTM3U\r\na-good.qv\r\nb-gone.qv\r\nc-broken.qv\r\nd-empty.qv\r\n");
  Start();
  ASSERT_TRUE(Until([&] {
    return window->PlaylistBox()->count() == 4 &&
           window->PlaylistBox()->item(3)->foreground().color() == QColor(Qt::gray);
  }));
  for (int i : {1, 2, 3}) {
    EXPECT_EQ(window->PlaylistBox()->item(i)->foreground().color(), QColor(Qt::gray)) << i;
    EXPECT_TRUE(window->PlaylistBox()->item(i)->toolTip().contains(QStringLiteral("无法播放")));
  }
  EXPECT_TRUE(window->PlaylistBox()->item(3)->toolTip().contains(QStringLiteral("no sound")));
  EXPECT_NE(window->PlaylistBox()->item(0)->foreground().color(), QColor(Qt::gray));
  EXPECT_TRUE(window->Notice().contains(QStringLiteral("d-empty.qv")))
      << window->Notice().toStdString();
  EXPECT_TRUE(messages.empty());  // no box to click away
}

TEST_F(MainDialogTest, WithoutASoundDeviceTheLearnerIsToldOnceWhy) {
  WithSkin();
  WriteFileBytes("a.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 10, 1)));
  WriteFileBytes("b.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 10, 2)));
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\na.qv\r\nb.qv\r\n");
  audio.Faults().refuseOutput = true;
  Start();
  ASSERT_TRUE(Until([&] { return !messages.empty(); }));
  window->EngineOf().CommandNext();  // another try fails the same way
  QTest::qWait(300);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("the output device refused to open"), std::string::npos)
      << messages[0];
}

TEST_F(MainDialogTest, AModeThatCannotStartSaysWhyInTheTitleStrip) {
  WithSkin();
  WriteFileBytes("a.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 1)));
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\na.qv\r\n");
  audio.Clock().SetHeld(true);  // nothing is heard
  Start();
  ASSERT_TRUE(Until([&] { return window->EngineOf().Status().itemsOpened == 1; }));
  window->EngineOf().CommandCompare();
  ASSERT_TRUE(Until([&] { return window->Notice().startsWith(QStringLiteral("无法执行: ")); }))
      << window->Notice().toStdString();
  EXPECT_TRUE(window->Notice().contains(QStringLiteral("compare")))
      << window->Notice().toStdString();
  EXPECT_TRUE(messages.empty());  // no box to click away
  // Too long for the strip, it is read whole in the strip's tooltip.
  const QPoint strip(60, 5);
  QHelpEvent help(QEvent::ToolTip, strip, window->mapToGlobal(strip));
  QApplication::sendEvent(window.get(), &help);
  EXPECT_TRUE(QToolTip::text().contains(window->Notice())) << QToolTip::text().toStdString();
}

// Five tone sentences of 1 s with pauses of 0.3 s, and their subtitles.
TEST_F(MainDialogTest, TheTranscriptFollowsWhatIsHeardAndALineDoubleClickedRepeats) {
  WithSkin();
  std::string pcm, srt;
  for (int k = 0; k < 5; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
    pcm.append(tone.begin(), tone.end());
    pcm.append(13230 * 4, '\0');
    srt += std::to_string(k + 1) + "\n00:00:0" + std::to_string(1300 * k / 1000) + "," +
           std::to_string(1300 * k % 1000 + 1000).substr(1) + " --> 00:00:0" +
           std::to_string((1300 * k + 1000) / 1000) + "," +
           std::to_string((1300 * k + 1000) % 1000 + 1000).substr(1) + "\n第" +
           std::to_string(k + 1) + "句 line\n\n";
  }
  WriteFileBytes("lesson.qv", QvFileBytes(RecordingFormat(), pcm));
  WriteFileBytes("lesson.srt", srt);
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\nlesson.qv\r\n");
  audio.Clock().SetHeld(true);
  Start();
  TranscriptView* view = window->Transcript();
  ASSERT_TRUE(Until([&] { return view->count() == 5 && view->HasSentences(); }));
  // Reading starts with nothing open: that is no file that gave no sound.
  EXPECT_TRUE(window->Notice().isEmpty()) << window->Notice().toStdString();
  // The exchange button: the playlist, then the transcript.
  window->TogglePlaylistView();
  window->TogglePlaylistView();
  EXPECT_TRUE(window->TranscriptVisible());
  EXPECT_EQ(view->item(2)->text(), QStringLiteral("0:02  第3句 line"));

  // Next twice, then a little sound: the view follows the third sentence.
  window->RunCommand(kCmdNextSentence);
  window->RunCommand(kCmdNextSentence);
  ASSERT_TRUE(Until([&] {
    audio.Clock().Advance(20000000);
    return window->EngineOf().Status().sentence == 3;
  }));
  ASSERT_TRUE(Until([&] { return view->Followed() == 3 && view->currentRow() == 2; }));
  // The sound menu's line is the one heard, whichever view the window shows.
  EXPECT_EQ(window->SentenceShown(), QStringLiteral("第3句 line"));

  // A double click on the fifth line repeats its sentence, pads and all.
  view->scrollToItem(view->item(4));
  const QRect line = view->visualItemRect(view->item(4));
  QWidget* area = view->viewport();
  QTest::mousePress(area, Qt::LeftButton, {}, line.center());
  QTest::mouseRelease(area, Qt::LeftButton, {}, line.center());
  QMouseEvent second(QEvent::MouseButtonDblClick, line.center(), area->mapToGlobal(line.center()),
                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(area, &second);
  QTest::mouseRelease(area, Qt::LeftButton, {}, line.center());
  ASSERT_TRUE(Until([&] { return window->EngineOf().Status().flags & ENG_REPEATING; }));
  const EngineStatus s = window->EngineOf().Status();
  EXPECT_EQ(s.passageStart, (5200 - 150) * 441 / 10 * 4u);
  EXPECT_EQ(s.passageEnd, (6200 + 250) * 441 / 10 * 4u);

  // Listening practice: the words go, the times stay.
  window->RunCommand(kCmdHideText);
  EXPECT_EQ(view->item(2)->text(), QStringLiteral("0:02  ……"));
  EXPECT_TRUE(window->SentenceShown().isEmpty());
}

// Speech without a pause the method can find: after half a minute the learner
// is told what to try, once.
TEST_F(MainDialogTest, AutomaticModeThatFindsNoSentenceSaysWhatToTry) {
  WithSkin();
  const std::vector<uint8_t> tone = ToneBytes(440, 40.0, 44100, 2);
  WriteFileBytes("lesson.qv",
                 QvFileBytes(RecordingFormat(), std::string(tone.begin(), tone.end())));
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\nlesson.qv\r\n");
  audio.Clock().SetHeld(true);
  Start();
  ASSERT_TRUE(Until([&] { return window->EngineOf().Status().itemsOpened == 1; }));
  window->RunCommand(kCmdAutoManual);
  ASSERT_TRUE(Until([&] {
    audio.Clock().Advance(200000000);
    return window->EngineOf().Status().position > 29u * 176400;
  }));
  EXPECT_FALSE(window->Notice().contains(QStringLiteral("未找到句子")));
  ASSERT_TRUE(Until([&] {
    audio.Clock().Advance(50000000);
    return window->Notice().contains(QStringLiteral("自动复读 30 秒未找到句子"));
  })) << window->Notice().toStdString();
  EXPECT_EQ(window->EngineOf().Status().sentencesFound, 0u);
}

TEST_F(MainDialogTest, ASoundServerThatGoesAwayIsToldAndPlayWorksAgain) {
  WithSkin();
  WriteFileBytes("a.qv", QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 1)));
  WriteFileBytes("Kestro.m3u", "#EXTM3U\r\na.qv\r\n");
  Start();
  ASSERT_TRUE(Until([&] { return window->EngineOf().Status().position > 0; }));
  audio.Faults().loseOutput = true;
  ASSERT_TRUE(Until([&] { return !messages.empty(); }));
  EXPECT_NE(messages[0].find("went away"), std::string::npos) << messages[0];
  EXPECT_TRUE(Until([&] { return window->EngineOf().Status().stopped; }));
  // Back: Play opens the device again, and nothing more is told.
  audio.Faults().loseOutput = false;
  const uint32_t opened = window->EngineOf().Status().itemsOpened;
  window->EngineOf().CommandPlay();
  ASSERT_TRUE(Until([&] {
    return window->EngineOf().Status().itemsOpened > opened && !window->EngineOf().Status().stopped;
  }));
  EXPECT_EQ(messages.size(), 1u);
}

// The panel's dot rows for known samples, in a panel of 194 x 104.
TEST(WaveformPanelTest, DotsLieWhereTheSamplesSay) {
  WaveformPanel panel;
  panel.resize(194, 104);
  QImage image(194, 104, QImage::Format_RGB32);
  auto row = [&](int x) {
    for (int y = 0; y < image.height(); ++y)
      if (image.pixel(x, y) == qRgb(255, 255, 255)) return y;
    return -1;
  };
  panel.SetSampleFormat(44100, 16, 2);
  const int16_t samples[] = {32767, 0, 0, 0, -32768, 0, 16384, 0};
  panel.ShowBuffer(reinterpret_cast<const uint8_t*>(samples), sizeof(samples));
  ASSERT_TRUE(panel.DrawFrame(image));
  EXPECT_EQ(row(0), 0);   // 52 - 52
  EXPECT_EQ(row(1), 52);  // the right channel is skipped: every column is a frame
  EXPECT_EQ(row(2), -1);  // -32768 would be row 104, below the last one
  EXPECT_EQ(row(3), 26);  // 52 - 26
  EXPECT_EQ(row(4), -1);  // the samples are used up
  EXPECT_FALSE(panel.DrawFrame(image));

  panel.SetSampleFormat(22050, 8, 1);
  const uint8_t bytes[] = {128, 255, 0};
  panel.ShowBuffer(bytes, sizeof(bytes));
  ASSERT_TRUE(panel.DrawFrame(image));
  EXPECT_EQ(row(0), 52);
  EXPECT_EQ(row(1), 1);   // 52 - 51
  EXPECT_EQ(row(2), -1);  // row 104

  // A wide buffer: at most 194 samples a frame, the next frame goes on from there.
  panel.SetSampleFormat(44100, 16, 2);
  std::vector<int16_t> ramp(2500);
  for (size_t i = 0; i < ramp.size(); ++i)
    ramp[i] = static_cast<int16_t>(i % 2 == 0 ? 32767 : -100);
  panel.ShowBuffer(reinterpret_cast<const uint8_t*>(ramp.data()), 5000);
  ASSERT_TRUE(panel.DrawFrame(image));
  EXPECT_EQ(row(193), 0);
  ASSERT_TRUE(panel.DrawFrame(image));
}

TEST(WaveformPanelTest, AStopIsNeverLostToABufferShownMeanwhile) {
  for (int run = 0; run < 50; ++run) {
    WaveformPanel panel;
    panel.resize(194, 104);
    panel.StartDrawThread();
    std::atomic<bool> going{true};
    const uint8_t data[100] = {};
    std::thread shower([&] {
      while (going)
        panel.ShowBuffer(data, sizeof(data));
    });
    panel.StopDrawThread();  // returns only once the thread has ended
    EXPECT_EQ(panel.PanelState() & ~(WaveformPanel::kPanelDraw | WaveformPanel::kPanelStop), 0u);
    going = false;
    shower.join();
  }
}

}  // namespace
