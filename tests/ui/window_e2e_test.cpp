// SPDX-License-Identifier: GPL-3.0-or-later
// The real kestro binary on a real X server (Xvfb), with SDL's disk driver for
// sound, pressed with xdotool as a learner would press it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include <QColorSpace>
#include <QGuiApplication>
#include <QImage>

#include "loaded_plugin.h"
#include "pcm.h"
#include "skin/skin_art.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::string& command) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Waits for pid up to limit; true (with its status) when it ended.
bool WaitExit(pid_t pid, std::chrono::milliseconds limit, int* status) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (::waitpid(pid, status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[256];
  while (std::fgets(buf, sizeof(buf), p) != nullptr)
    out += buf;
  ::pclose(p);
  return out;
}

class WindowEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // Xvfb picks a free display itself and tells its number once it is ready.
    // Without -noreset it starts afresh whenever its last client leaves, and
    // refuses connections meanwhile: kestro starting while an xdotool call
    // ends could not connect.
    const std::string told = dir.File("display");
    xvfb = Spawn("exec Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp -noreset > '" + told +
                 "' 2>/dev/null");
    std::string number;
    for (int i = 0; i < 500; ++i) {
      if (::access(told.c_str(), R_OK) == 0) number = ReadFileBytes(told);
      if (!number.empty() && number.back() == '\n') break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(number.empty()) << "no X server";
    number.erase(number.find_last_not_of("\n") + 1);
    display = ":" + number;
    // Told, and taking connections (a server on a busy machine may take a while).
    bool answers = false;
    for (int i = 0; i < 600 && !answers; ++i) {
      answers = std::system(("DISPLAY=" + display + " timeout 20 xdotool getdisplaygeometry" +
                             " > /dev/null 2>&1")
                                .c_str()) == 0;
      if (!answers) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(answers) << "the X server on " << display << " takes no connection";
    std::filesystem::copy(KESTRO_STAGE_DIR "/Arch", dir.File("Arch"));
    std::filesystem::copy(KESTRO_STAGE_DIR "/Skin", dir.File("Skin"));
  }
  void TearDown() override {
    if (kestro > 0) ::kill(-kestro, SIGKILL), ::waitpid(kestro, nullptr, 0);
    if (busPid > 0) ::kill(busPid, SIGTERM);
    // Asked to end, the server removes its lock and socket; the next test's
    // server may then take the same display number safely.
    int status = 0;
    ::kill(-xvfb, SIGTERM);
    if (!WaitExit(xvfb, std::chrono::seconds(20), &status)) {
      ::kill(-xvfb, SIGKILL);
      ::waitpid(xvfb, nullptr, 0);
    }
  }
  // Starts kestro in the folder and returns its window's id once it shows
  // (empty when it never does).
  std::string StartKestro(const std::string& arguments = "") {
    kestro = Spawn(Env() + "exec '" KESTRO_STAGE_DIR "/kestro' " + arguments + " 2>kestro.err");
    std::string window;
    // Mapped, not just created: a window not yet viewable cannot be read or clicked.
    for (int i = 0; i < 6000 && window.empty(); ++i) {      // sanitizer builds start slowly
      if (::waitpid(kestro, nullptr, WNOHANG) == kestro) {  // it ended: no window will come
        kestro = -1;
        break;
      }
      window = Output("DISPLAY=" + display +
                      " xdotool search --onlyvisible --name '^Kestro$' 2>/dev/null | head -1");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!window.empty()) window.erase(window.find_last_not_of("\n") + 1);
    return window;
  }
  // The window as it shows once shown(image) holds: the window repaints when
  // it gets to it, so the picture is taken again until then (a minute at most).
  QImage ShotWhen(const std::string& window, const std::string& name,
                  const std::function<bool(const QImage&)>& shown) {
    const std::string path = dir.File(name);
    QImage image;
    for (int i = 0; i < 60; ++i) {
      ::unlink(path.c_str());
      if (X("import -window " + window + " " + path + " 2>/dev/null")) {
        // As the program draws: a PNG of few colours reads as a palette image,
        // and import tags it sRGB.
        image = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
        image.setColorSpace(QColorSpace());
        if (!image.isNull() && shown(image)) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return image;
  }
  // An X command on the test's display; none may hang the test.
  bool X(const std::string& command) const {
    return std::system(("DISPLAY=" + display + " timeout 20 " + command).c_str()) == 0;
  }
  // Whether the display area shows the (light) playlist rather than the black panel.
  static bool ListShown(const QImage& image) {
    const QRect area(8, 21, 194, 104);
    int light = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x)
        light += qGray(image.pixel(x, y)) > 200;
    }
    return light > area.width() * area.height() / 2;
  }
  // What the driver played from where expected's first sound shows up, once
  // at least bytes of it have come (a minute at most), without its silences.
  std::string HeardFrom(const std::string& expected, size_t bytes) const {
    const std::string played = dir.File("out.raw");
    auto heard = [&] {
      if (::access(played.c_str(), R_OK) != 0) return std::string();
      const std::string sounding = Sounding(ReadFileBytes(played));
      const size_t at = sounding.find(expected.substr(0, 4000));
      return at == std::string::npos ? std::string() : sounding.substr(at);
    };
    for (int i = 0; i < 6000 && heard().size() < bytes; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return heard();
  }
  void EndKestro() {
    ::kill(-kestro, SIGKILL);
    ::waitpid(kestro, nullptr, 0);
    kestro = -1;
  }
  std::string KestroSaid() const {
    const std::string err = dir.File("kestro.err");
    return ::access(err.c_str(), R_OK) == 0 ? ReadFileBytes(err) : std::string();
  }
  // No session bus unless the test starts one: without it Kestro goes on silently.
  std::string Env() const {
    const std::string bus = busAddress.empty() ? "unix:path=" + dir.path() + "/no-bus" : busAddress;
    return "cd '" + dir.path() + "' && DISPLAY=" + display + " XDG_STATE_HOME='" + dir.path() +
           "/state' XDG_CONFIG_HOME='" + dir.path() + "/config' DBUS_SESSION_BUS_ADDRESS='" + bus +
           "' QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=out.raw " +
           (lang.empty() ? "" : "LC_ALL= LC_MESSAGES= LANGUAGE= LANG=" + lang + " ");
  }
  // A private session bus for this test, ended with it.
  bool StartBus() {
    const std::string told = Output("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    const size_t newline = told.find('\n');
    if (newline == std::string::npos) return false;
    busAddress = told.substr(0, newline);
    busPid = std::atoi(told.c_str() + newline + 1);
    return busPid > 0;
  }
  // dbus-send to Kestro's MPRIS object on the test's bus; its reply.
  std::string Mpris(const std::string& call) const {
    return Output("DBUS_SESSION_BUS_ADDRESS='" + busAddress +
                  "' timeout 20 dbus-send --session --print-reply "
                  "--dest=org.mpris.MediaPlayer2.kestro /org/mpris/MediaPlayer2 " +
                  call + " 2>&1");
  }
  std::string Property(const std::string& name) const {
    return Mpris(
        "org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player string:" + name);
  }

  TempDir dir;
  std::string display;
  pid_t xvfb = -1;
  pid_t kestro = -1;
  std::string busAddress;
  pid_t busPid = -1;
  std::string lang;  // the locale kestro starts in (empty: the test's own)
};

TEST_F(WindowEndToEnd, PlaysTheListAtTheStartUpLevelAndTheCloseButtonEndsIt) {
  // 4.3 s of sound without a zero sample, longer than the test lets it play (a
  // new device would start the disk driver's file anew).
  const std::string lesson = PatternBytes(5000 * 150, 9);
  WriteFileBytes(dir.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  WriteFileBytes(dir.File("Kestro.m3u"), "#EXTM3U\nlesson.qv\n");
  const std::string window = StartKestro();
  ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
  // A second of the lesson has reached the driver's file.
  const std::string played = dir.File("out.raw");
  for (int i = 0; i < 6000; ++i) {
    if (::access(played.c_str(), R_OK) == 0 && Sounding(ReadFileBytes(played)).size() >= 176400)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // A click on the close button (255, 2, 11 x 11 in the window).
  ASSERT_EQ(std::system(
                ("DISPLAY=" + display + " xdotool mousemove --window " + window + " 260 7 click 1")
                    .c_str()),
            0);
  // How soon it ends is measured by bench/window_bench; here only that it does.
  int status = 0;
  ASSERT_TRUE(WaitExit(kestro, std::chrono::seconds(60), &status)) << "still running";
  kestro = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << ReadFileBytes(dir.File("kestro.err"));
  EXPECT_EQ(ReadFileBytes(dir.File("Kestro.m3u")),
            "#EXTM3U\r\n#EXTINF:-1,lesson\r\nlesson.qv\r\n");  // saved by the exit
  // No session bus: nothing said of it.
  EXPECT_EQ(KestroSaid().find("bus"), std::string::npos) << KestroSaid();

  // What the device played, without the silence the driver writes around it:
  // the lesson's bytes at the start-up volume (50 of 100: level 0x7FFF).
  const std::string sounding = Sounding(ReadFileBytes(dir.File("out.raw")));
  const std::string scaled = Scaled(lesson, 0x7FFF);
  ASSERT_GE(sounding.size(), 176400u);  // at least a second of it
  ASSERT_LE(sounding.size(), scaled.size());
  EXPECT_TRUE(BytesEqual(sounding, scaled.substr(0, sounding.size())));
}

// As a file manager starts it: the file named plays; a logout's SIGTERM then
// ends it as the close button does, the list saved with the file in it.
TEST_F(WindowEndToEnd, AFileNamedOnTheCommandLinePlaysAndSigtermEndsItWhole) {
  WriteFileBytes(dir.File("listed.qv"),
                 QvFileBytes(RecordingFormat(), PatternBytes(5000 * 150, 3)));
  const std::string named = PatternBytes(5000 * 150, 8);
  WriteFileBytes(dir.File("named.qv"), QvFileBytes(RecordingFormat(), named));
  WriteFileBytes(dir.File("Kestro.m3u"), "#EXTM3U\nlisted.qv\n");
  ASSERT_FALSE(StartKestro("named.qv").empty()) << "no window; kestro said: " << KestroSaid();
  // Half a second of the named file's own sound reaches the driver.
  const std::string scaled = Scaled(named, 0x7FFF);
  const std::string sound = HeardFrom(scaled, 88200);
  ASSERT_GE(sound.size(), 88200u) << KestroSaid();
  EXPECT_TRUE(BytesEqual(sound.substr(0, 88200), scaled.substr(0, 88200)));

  ASSERT_EQ(::kill(kestro, SIGTERM), 0);
  int status = 0;
  ASSERT_TRUE(WaitExit(kestro, std::chrono::seconds(60), &status)) << "SIGTERM ignored";
  kestro = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << KestroSaid();
  const std::string list = ReadFileBytes(dir.File("Kestro.m3u"));
  EXPECT_EQ(list, "#EXTM3U\r\n#EXTINF:-1,listed\r\nlisted.qv\r\n#EXTINF:-1,named\r\nnamed.qv\r\n");
}

TEST_F(WindowEndToEnd, TheFirstFileNamedPlaysAndTheListKeepsTheLearnersOrder) {
  std::string lessons[3];
  const char* names[3] = {"a_first.qv", "c_third.qv", "b_second.qv"};
  for (int i = 0; i < 3; ++i) {
    lessons[i] = NoiseBytes(5000 * 150, 20 + i);
    WriteFileBytes(dir.File(names[i]), QvFileBytes(RecordingFormat(), lessons[i]));
  }
  WriteFileBytes(dir.File("Kestro.m3u"), "#EXTM3U\na_first.qv\n");
  ASSERT_FALSE(StartKestro("--no-resume c_third.qv b_second.qv").empty()) << KestroSaid();
  const std::string scaled = Sounding(Scaled(lessons[1], 0x7FFF));
  const std::string sound = HeardFrom(scaled, 88200);
  ASSERT_GE(sound.size(), 88200u) << "c_third.qv is not what plays; " << KestroSaid();
  EXPECT_TRUE(BytesEqual(sound.substr(0, 88200), scaled.substr(0, 88200)));
  ASSERT_EQ(::kill(kestro, SIGTERM), 0);
  int status = 0;
  ASSERT_TRUE(WaitExit(kestro, std::chrono::seconds(60), &status));
  kestro = -1;
  EXPECT_EQ(ReadFileBytes(dir.File("Kestro.m3u")),
            "#EXTM3U\r\n#EXTINF:-1,a_first\r\na_first.qv\r\n#EXTINF:-1,c_third\r\nc_third.qv\r\n"
            "#EXTINF:-1,b_second\r\nb_second.qv\r\n");
  // Started again with nothing named: the list's first entry plays, not its second.
  ::unlink(dir.File("out.raw").c_str());
  ASSERT_FALSE(StartKestro("--no-resume").empty()) << KestroSaid();
  const std::string first = Sounding(Scaled(lessons[0], 0x7FFF));
  const std::string again = HeardFrom(first, 88200);
  ASSERT_GE(again.size(), 88200u) << "a_first.qv is not what plays; " << KestroSaid();
  EXPECT_TRUE(BytesEqual(again.substr(0, 88200), first.substr(0, 88200)));
}

// A film opened with "Open with": its sound is what FFmpeg's own decoder
// makes of it, the picture ignored.
TEST_F(WindowEndToEnd, AFilmNamedOnTheCommandLinePlaysItsSound) {
  ASSERT_TRUE(std::system(("cd '" + dir.path() +
                           "' && ffmpeg -v error -y -t 6 -i '" KESTRO_SPEECH "' -f lavfi -i "
                           "testsrc=size=160x120:rate=10 -map 1:v -map 0:a -shortest -c:v libx264 "
                           "-preset ultrafast -c:a aac -aac_pns 0 film.mp4 && ffmpeg -v error -y "
                           "-i film.mp4 -f s16le film.raw")
                              .c_str()) == 0);
  ASSERT_FALSE(StartKestro("film.mp4").empty()) << "no window; kestro said: " << KestroSaid();
  const std::string scaled = Sounding(Scaled(ReadFileBytes(dir.File("film.raw")), 0x7FFF));
  const std::string sound = HeardFrom(scaled, 88200);
  ASSERT_GE(sound.size(), 88200u) << KestroSaid();
  EXPECT_TRUE(BytesEqual(sound.substr(0, 88200), scaled.substr(0, 88200)));
}

TEST_F(WindowEndToEnd, KeysAndClicksChangeWhatTheWindowShows) {
  const std::string lesson = PatternBytes(5000 * 400, 4);
  WriteFileBytes(dir.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  WriteFileBytes(dir.File("Kestro.m3u"), "#EXTM3U\nlesson.qv\n");
  const std::string window = StartKestro();
  ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
  // No command may hang the test (import waits for ever on a window gone).
  const std::string x = "DISPLAY=" + display + " timeout 20 ";
  auto region = [](const QImage& image, const QRect& r) { return image.copy(r); };
  const QRect manual(7, 147, 39, 30), display(8, 21, 194, 104);
  // The 手动 button's caption, inside the dotted frame the button shows once
  // it has the keyboard focus (which comes when it comes).
  const QRect caption = manual.adjusted(6, 6, -6, -6);
  // No window manager: a click on the bare skin gives the window the focus.
  ASSERT_EQ(std::system((x + "xdotool mousemove --window " + window + " 280 178 click 1").c_str()),
            0);
  ASSERT_EQ(std::system((x + "xdotool windowfocus --sync " + window).c_str()), 0);
  // The window once it has painted its buttons (a light face, not the black
  // of a window not yet drawn) and they look the same in two pictures in a row.
  auto painted = [&](const QImage& i) {
    int light = 0;
    for (int yy = manual.top(); yy <= manual.bottom(); ++yy) {
      for (int xx = manual.left(); xx <= manual.right(); ++xx)
        light += qGray(i.pixel(xx, yy)) > 150;
    }
    return light > manual.width() * manual.height() / 2;
  };
  QImage previous;
  const QImage before = ShotWhen(window, "before.png", [&](const QImage& i) {
    const bool settled =
        painted(i) && !previous.isNull() && region(i, manual) == region(previous, manual);
    previous = i;
    return settled;
  });
  ASSERT_TRUE(painted(before));
  ASSERT_EQ(before.size(), QSize(292, 186));
  // Ctrl+M: the 手动 button now reads 自动.
  ASSERT_EQ(std::system((x + "xdotool key ctrl+m").c_str()), 0);
  const QImage automatic = ShotWhen(window, "auto.png", [&](const QImage& i) {
    return region(i, caption) != region(before, caption);
  });
  EXPECT_NE(region(automatic, caption), region(before, caption));
  ASSERT_EQ(std::system((x + "xdotool key ctrl+m").c_str()), 0);
  const QImage again = ShotWhen(window, "manual.png", [&](const QImage& i) {
    return region(i, caption) == region(before, caption);
  });
  EXPECT_EQ(region(again, caption), region(before, caption));
  // A click on the exchange button (191, 126) shows the playlist in the display.
  ASSERT_EQ(std::system((x + "xdotool mousemove --window " + window + " 196 131 click 1").c_str()),
            0);
  EXPECT_TRUE(ListShown(ShotWhen(window, "list.png", ListShown)));  // not the black panel
}

// Two entries; the window plays the second first (it reads on after the
// first): a double click on the first plays it, every time.
TEST_F(WindowEndToEnd, ADoubleClickOnAnEntryPlaysIt) {
  WriteFileBytes(dir.File("a.qv"), QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 5)));
  WriteFileBytes(dir.File("b.qv"), QvFileBytes(RecordingFormat(), PatternBytes(5000 * 400, 6)));
  WriteFileBytes(dir.File("Kestro.m3u"), "#EXTM3U\nb.qv\na.qv\n");
  const std::string window = StartKestro();
  ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
  ASSERT_TRUE(X("xdotool mousemove --window " + window + " 196 131 click 1"));
  ASSERT_TRUE(ListShown(ShotWhen(window, "list.png", ListShown)));
  // The first row (a.qv, sorted in) is 15 pixels high from the list's top.
  ASSERT_TRUE(X("xdotool mousemove --window " + window + " 60 29 click --repeat 2 --delay 80 1"));
  const std::string scaled = Scaled(PatternBytes(5000 * 400, 5), 0x7FFF).substr(0, 4000);
  const std::string played = dir.File("out.raw");
  bool heard = false;
  for (int i = 0; i < 6000 && !heard; ++i) {
    heard = ReadFileBytes(played).find(scaled) != std::string::npos;
    if (!heard) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(heard) << "the double-clicked entry did not play; kestro said: " << KestroSaid();
}

// The desktop's sound menu and the media keys: MPRIS calls on a private
// session bus play, pause and seek the real program, and read where it is.
TEST_F(WindowEndToEnd, TheSoundMenuPlaysPausesAndSeeksItOnTheSessionBus) {
  // 17 s of sound that repeats nowhere and has no sample the volume could
  // bring to zero.
  std::string lesson(5000 * 600, '\0');
  std::mt19937 random(11);
  for (size_t i = 0; i < lesson.size(); i += 2) {
    const int magnitude = 256 + static_cast<int>(random() % 32000);
    const auto sample = static_cast<int16_t>(random() % 2 ? magnitude : -magnitude);
    std::memcpy(&lesson[i], &sample, 2);
  }
  // A name a URL must encode.
  WriteFileBytes(dir.File("my lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  WriteFileBytes(dir.File("Kestro.m3u"), "#EXTM3U\nmy lesson.qv\n");
  ASSERT_TRUE(StartBus());
  ASSERT_FALSE(StartKestro().empty()) << "no window; kestro said: " << KestroSaid();
  // Held once seen: while the item opens the status may still change.
  auto until = [](const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  auto status = [&] { return Property("PlaybackStatus"); };
  auto position = [&] {
    const std::string reply = Property("Position");
    const size_t at = reply.find("int64 ");
    return at == std::string::npos ? -1LL : std::atoll(reply.c_str() + at + 6);
  };
  ASSERT_TRUE(until([&] { return status().find("\"Playing\"") != std::string::npos; }))
      << status() << KestroSaid();
  EXPECT_NE(Property("Metadata").find("\"my lesson\""), std::string::npos) << Property("Metadata");
  EXPECT_NE(Property("Metadata").find("\"file://" + dir.path() + "/my%20lesson.qv\""),
            std::string::npos)
      << Property("Metadata");

  // To 10 s: what is heard is the lesson from there.
  Mpris("org.mpris.MediaPlayer2.Player.SetPosition objpath:/org/kestro/item/0 int64:10000000");
  ASSERT_TRUE(until([&] { return position() >= 10000000; })) << position();
  const std::string from = Scaled(lesson.substr(176400 * 101 / 10), 0x7FFF);
  const std::string heard = HeardFrom(from, 88200);
  ASSERT_GE(heard.size(), 88200u) << KestroSaid();
  EXPECT_TRUE(BytesEqual(heard.substr(0, 88200), from.substr(0, 88200)));

  // Paused, the place stays while the device's time passes (it writes
  // silence meanwhile); Play goes on from it.
  Mpris("org.mpris.MediaPlayer2.Player.Pause");
  ASSERT_TRUE(until([&] { return status().find("\"Paused\"") != std::string::npos; }));
  const long long paused = position();
  const std::string played = dir.File("out.raw");
  const size_t before = ReadFileBytes(played).size();
  ASSERT_TRUE(until([&] { return ReadFileBytes(played).size() >= before + 88200; }));
  EXPECT_EQ(position(), paused);
  // A seek while paused moves the place at once and says so; Play goes on
  // from it.
  const std::string monitored = dir.File("signals.txt");
  Output("DBUS_SESSION_BUS_ADDRESS='" + busAddress +
         "' timeout 60 dbus-monitor --session \"type='signal',member='Seeked'\" > '" + monitored +
         "' 2>&1 & sleep 0.5");
  Mpris("org.mpris.MediaPlayer2.Player.SetPosition objpath:/org/kestro/item/0 int64:14000000");
  ASSERT_TRUE(until([&] { return position() == 14000000; })) << position();
  EXPECT_NE(status().find("\"Paused\""), std::string::npos);
  EXPECT_TRUE(until([&] {
    return ReadFileBytes(monitored).find("int64 14000000") != std::string::npos;
  })) << ReadFileBytes(monitored);
  Mpris("org.mpris.MediaPlayer2.Player.PlayPause");
  const std::string later = Scaled(lesson.substr(176400 * 14), 0x7FFF);
  const std::string resumed = HeardFrom(later, 88200);
  ASSERT_GE(resumed.size(), 88200u) << KestroSaid();
  EXPECT_TRUE(BytesEqual(resumed.substr(0, 88200), later.substr(0, 88200)));
  EXPECT_NE(status().find("\"Playing\""), std::string::npos);
  // The rate is the speed slider's: set from the menu, told back.
  EXPECT_NE(Property("Rate").find("double 1"), std::string::npos) << Property("Rate");
  Mpris(
      "org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2.Player string:Rate "
      "variant:double:0.75");
  // What the device plays at: the file's rate to the nearest 100 Hz below.
  const auto rate = [&] {
    const std::string reply = Property("Rate");
    const size_t at = reply.find("double ");
    return at == std::string::npos ? 0.0 : std::atof(reply.c_str() + at + 7);
  };
  EXPECT_TRUE(until([&] { return std::abs(rate() - 0.75) < 0.005; })) << rate();
}

// The window at 2x: twice the size, every control where twice its 1x place
// says and drawn the same, a learner's own skin enlarged without smoothing,
// Kestro's own skin drawn afresh at the finer scale.
TEST_F(WindowEndToEnd, AtTwiceTheScaleEveryPixelIsTwiceAsLargeAndTheOwnSkinIsDrawnFiner) {
  // The face without text: the controls of the right column, the sliders, the
  // small buttons, the title strip's buttons and the foot of the window.
  const QRect places[] = {QRect(203, 16, 89, 127), QRect(0, 126, 203, 17), QRect(0, 179, 292, 7),
                          QRect(250, 0, 42, 16)};
  auto doubled = [](const QImage& image, const QRect& r) {
    return image.copy(r).scaled(r.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  };
  auto twice = [](const QRect& r) { return QRect(r.topLeft() * 2, r.size() * 2); };
  // Shapes are drawn afresh at 2x, so a slanting edge steps finer; a control
  // or skin a pixel out of place would differ along whole edges or everywhere.
  auto nearly = [](const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x)
        differing += a.pixel(x, y) != b.pixel(x, y);
    }
    return differing * 100 <= a.width() * a.height();
  };
  // A learner's own skin: squares of colours no smoothing could leave alone.
  QImage own(kSkinWidth, kSkinHeight, QImage::Format_RGB32);
  std::mt19937 random(7);
  for (int y = 0; y < own.height(); ++y) {
    for (int x = 0; x < own.width(); ++x)
      own.setPixel(x, y, random() | 0xFF000000u);
  }
  const std::string ownBytes = EncodeBmp24(own);
  lang = "zh_CN.UTF-8";  // the words of the face drawn below
  WriteFileBytes(dir.File("Skin/main.bmp"), ownBytes);
  ASSERT_EQ(std::system(("DISPLAY=" + display + " xdotool mousemove 639 479").c_str()), 0);
  std::string window = StartKestro("--scale=1");
  ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
  QImage previous;
  const QImage single = ShotWhen(window, "1x.png", [&](const QImage& i) {
    bool same = !previous.isNull() && i.size() == QSize(kSkinWidth, kSkinHeight);
    for (const QRect& r : places)
      same = same && i.copy(r) == previous.copy(r);
    previous = i;
    return same && i.copy(places[2]) == own.copy(places[2]);
  });
  ASSERT_EQ(single.size(), QSize(kSkinWidth, kSkinHeight));
  EndKestro();
  // 2x kept from the menu's choice.
  std::filesystem::create_directories(dir.File("config/kestro"));
  WriteFileBytes(dir.File("config/kestro/kestro.conf"), "scale = 2\n");
  window = StartKestro();
  ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
  auto likeSingle = [&](const QImage& i) {
    bool same = i.size() == QSize(2 * kSkinWidth, 2 * kSkinHeight);
    for (const QRect& r : places)
      same = same && nearly(i.copy(twice(r)), doubled(single, r));
    return same;
  };
  const QImage large = ShotWhen(window, "2x.png", likeSingle);
  EXPECT_EQ(large.size(), QSize(2 * kSkinWidth, 2 * kSkinHeight));
  EXPECT_TRUE(likeSingle(large));
  EndKestro();
  // Nothing chosen: the desktop's scale (X's Xft.dpi), rounded to a whole factor.
  auto desktopDpi = [&](int dpi) {
    return X("sh -c \"printf 'Xft.dpi: " + std::to_string(dpi) + "\\n' | xrdb -nocpp -merge\"");
  };
  ::unlink(dir.File("config/kestro/kestro.conf").c_str());
  for (const auto& [dpi, scale] : {std::pair{168, 2}, std::pair{120, 1}}) {
    ASSERT_TRUE(desktopDpi(dpi));
    window = StartKestro();
    ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
    const QSize size(scale * kSkinWidth, scale * kSkinHeight);
    EXPECT_EQ(ShotWhen(window, "dpi.png", [&](const QImage& i) { return i.size() == size; }).size(),
              size)
        << dpi << " dpi";
    EndKestro();
  }
  ASSERT_TRUE(desktopDpi(288));
  // Kestro's own skin at 2x, the option winning over the kept choice and the
  // desktop's 3x: the labels are the face drawn at 2x, not the 1x file doubled.
  std::filesystem::copy_file(KESTRO_STAGE_DIR "/Skin/main.bmp", dir.File("Skin/main.bmp"),
                             std::filesystem::copy_options::overwrite_existing);
  WriteFileBytes(dir.File("config/kestro/kestro.conf"), "scale = 3\n");
  window = StartKestro("--scale=2");
  ASSERT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "window_e2e_tests";
  static char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);  // for the fonts of the drawing
  const QImage fine = DrawSkinFace(2);
  const QImage file(QString::fromUtf8(KESTRO_STAGE_DIR "/Skin/main.bmp"));
  const QRect labels(262, 111, 24, 24);
  const QImage shown = ShotWhen(window, "own2x.png", [&](const QImage& i) {
    return i.copy(twice(labels)) == fine.copy(twice(labels));
  });
  EXPECT_EQ(shown.size(), QSize(2 * kSkinWidth, 2 * kSkinHeight));
  EXPECT_EQ(shown.copy(twice(labels)), fine.copy(twice(labels)));
  EXPECT_NE(shown.copy(twice(labels)), doubled(file, labels));
}

// The locale chooses the window's words, and --lang overrides it.
TEST_F(WindowEndToEnd, AnEnglishLocaleGetsEnglishWordsAndLangChooses) {
  // The captions of five mode buttons (the first may show the focus frame).
  const QRect modes(48, 147, 224, 30);
  auto shot = [&](const std::string& locale, const std::string& arguments) {
    lang = locale;
    const std::string window = StartKestro(arguments);
    EXPECT_FALSE(window.empty()) << "no window; kestro said: " << KestroSaid();
    if (window.empty()) return QImage();
    QImage previous;
    const QImage image = ShotWhen(window, "modes.png", [&](const QImage& i) {
      int light = 0;  // drawn: light buttons, not a black window
      for (int x = modes.left(); x <= modes.right(); ++x)
        light += qGray(i.pixel(x, 150)) > 150;
      const bool settled = !previous.isNull() && i.copy(modes) == previous.copy(modes);
      previous = i;
      return settled && light > modes.width() / 2;
    });
    EndKestro();
    return image.copy(modes);
  };
  const QImage chinese = shot("zh_CN.UTF-8", "");
  const QImage english = shot("en_US.UTF-8", "");
  EXPECT_NE(english, chinese);
  EXPECT_EQ(shot("en_US.UTF-8", "--lang=zh"), chinese);
  EXPECT_EQ(shot("C", "--lang=en"), english);
}

}  // namespace
