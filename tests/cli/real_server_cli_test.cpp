// kestro-cli on a real sound server that dies under it: a private PulseAudio
// daemon started by the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "cli_runner.h"
#include "loaded_plugin.h"
#include "pulse_server.h"
#include "wait_for.h"

namespace {

TEST(RealServerCli, AServerThatDiesIsToldAndTheRunFails) {
  CliRunner cli;
  PulseServer server(cli.File("server"));
  std::filesystem::create_directory(cli.File("server"));
  std::string why;
  if (!server.Start(&why)) {
    GTEST_SKIP() << "no PulseAudio server for this test: " << why;
  }
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), LessonPcm(176400 * 60, 1)));
  // Plain play, and a script that goes on after the loss.
  for (const char* script : {"", "wait 3000\nstatus\n"}) {
    auto run = std::async(std::launch::async, [&] { return cli.Run("lesson.qv", script); });
    ASSERT_TRUE(WaitFor([&] { return server.SomethingPlays(); }));
    server.Kill();
    const CliRunner::Result r = run.get();
    EXPECT_EQ(r.exitCode, 1) << script;
    EXPECT_NE(r.err.find("the sound output went away"), std::string::npos) << r.err;
    if (*script != '\0') {
      EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;
    }
    ASSERT_TRUE(server.Start(&why)) << why;
  }
}

}  // namespace
