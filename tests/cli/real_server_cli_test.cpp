// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli on a real sound server, started by the test: PulseAudio, or
// PipeWire's pulse server where it can be started.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "cli_runner.h"
#include "loaded_plugin.h"
#include "pulse_server.h"
#include "wait_for.h"

namespace {

class RealServerCli : public ::testing::TestWithParam<PulseServer::Kind> {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(cli.File("server"));
    std::string why;
    if (!server.Start(&why)) {
      GTEST_SKIP() << "no such sound server for this test: " << why;
    }
  }

  CliRunner cli;
  PulseServer server{cli.File("server"), GetParam()};
};

TEST_P(RealServerCli, EveryPlayEndsAtTheLessonsEndIdleAndUnderLoad) {
  // Short lessons, many times: a server that is slow to start a stream, or a
  // sink whose clock stalls on a busy machine, is no loss.
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), LessonPcm(176400, 1)));
  for (const bool loaded : {false, true}) {
    std::vector<ChildProcess> hogs(loaded ? 2 : 0);
    for (ChildProcess& hog : hogs)
      ASSERT_TRUE(hog.Start({"sh", "-c", "while :; do :; done"}, "/dev/null", "/dev/null"));
    int lost = 0;
    for (int play = 0; play < 20; ++play) {
      const CliRunner::Result r = cli.Run("lesson.qv");
      EXPECT_EQ(r.exitCode, 0) << (loaded ? "loaded" : "idle") << ", play " << play << ": "
                               << r.err;
      EXPECT_EQ(r.err, "");
      if (r.err.find("went away") != std::string::npos) ++lost;
    }
    EXPECT_EQ(lost, 0) << (loaded ? "under two CPU hogs" : "idle");
    for (ChildProcess& hog : hogs)
      hog.End(SIGKILL);
  }
}

TEST_P(RealServerCli, AServerThatDiesIsToldAndTheRunFails) {
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), LessonPcm(176400 * 60, 1)));
  // Plain play, and a script that goes on after the loss.
  for (const char* script : {"", "wait 3000\nstatus\n"}) {
    const std::string heard = cli.File("heard.raw");
    ASSERT_TRUE(server.CaptureTo(heard));
    auto run = std::async(std::launch::async, [&] { return cli.Run("lesson.qv", script); });
    ASSERT_TRUE(
        WaitFor([&] { return ReadFileBytes(heard).find_first_not_of('\0') != std::string::npos; }));
    server.Kill();
    const CliRunner::Result r = run.get();
    EXPECT_EQ(r.exitCode, 1) << script;
    EXPECT_NE(r.err.find("the sound output went away"), std::string::npos) << r.err;
    if (*script != '\0') {
      EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;
    }
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerCli,
                         ::testing::Values(PulseServer::Kind::kPulseAudio,
                                           PulseServer::Kind::kPipeWire),
                         [](const auto& info) { return PulseServer::Name(info.param); });

}  // namespace
