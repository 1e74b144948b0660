// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli --resume: a file goes on where it was left, with its marks; a
// changed file or a broken state file starts afresh.
#include <gtest/gtest.h>

#include <regex>

#include "cli_runner.h"
#include "export/wav_file_writer.h"
#include "loaded_plugin.h"

namespace {

// The pos= of each status line.
std::vector<uint32_t> Positions(const std::string& out) {
  std::vector<uint32_t> found;
  const std::regex pos("pos=([0-9]+)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), pos); it != std::sregex_iterator();
       ++it)
    found.push_back(static_cast<uint32_t>(std::stoul((*it)[1])));
  return found;
}

void WriteLesson(CliRunner& cli, size_t seconds) {
  WavFileWriter w;
  ASSERT_TRUE(w.Create(cli.File("lesson.wav"), nullptr));
  const std::string pcm = LessonPcm(176400 * seconds, 7);
  w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(pcm.data()),
           static_cast<uint32_t>(pcm.size()));
  ASSERT_TRUE(w.Close());
}

TEST(Resume, AFileGoesOnWhereItWasLeftWithItsMarks) {
  CliRunner cli;
  WriteLesson(cli, 60);
  const std::string env = "XDG_STATE_HOME='" + cli.File("state") + "'";
  const std::string args = "--resume --audio=offline lesson.wav";
  // Marked at 20 s (阅读 while reading), left at 40 s.
  auto r = cli.Run(args, "wait 20000\nread\nwait 20000\nstatus\nquit\n", env);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<uint32_t> left = Positions(r.out);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_NEAR(left[0] / 176400.0, 40.0, 0.2);

  r = cli.Run(args, "status\nsentence again\nwait 100\nstatus\nquit\n", env);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<uint32_t> again = Positions(r.out);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0], left[0]);
  EXPECT_NEAR(again[1] / 176400.0, 20.0, 0.2);  // back at the mark kept

  // Without --resume every file starts at its beginning.
  r = cli.Run("--audio=offline lesson.wav", "wait 100\nstatus\nquit\n", env);
  EXPECT_LT(Positions(r.out).at(0), 176400u);
  // A file changed since starts afresh.
  WriteLesson(cli, 59);
  r = cli.Run(args, "status\nquit\n", env);
  EXPECT_EQ(Positions(r.out).at(0), 0u);
  // A broken state file is told, ignored and replaced.
  WriteFileBytes(cli.File("state/kestro/resume.tsv"), "not ours\n");
  r = cli.Run(args, "status\nquit\n", env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("ignored"), std::string::npos) << r.err;
  EXPECT_EQ(Positions(r.out).at(0), 0u);
  EXPECT_EQ(ReadFileBytes(cli.File("state/kestro/resume.tsv")).rfind("kestro-resume\t1\n", 0), 0u);
}

}  // namespace
