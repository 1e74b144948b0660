// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli on the formats learners' lessons and films come in, made with
// the ffmpeg command from the demo's speech.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli_runner.h"

namespace {

void Make(CliRunner& cli, const std::string& command) {
  ASSERT_EQ(std::system(("cd '" + cli.dir.path() + "' && ffmpeg -v error -y " + command).c_str()),
            0)
      << command;
}

// A whole number of AAC frames, so that the .m4a decodes to the .wav's length.
const char* kSpeech = "-i '" KESTRO_SPEECH "' -af atrim=end_sample=1763328 ";

TEST(LessonFormats, AnM4aDrillFindsTheSentencesOfItsWav) {
  CliRunner cli;
  Make(cli, std::string(kSpeech) + "lesson.wav");
  Make(cli, "-i lesson.wav -c:a aac -b:a 96k lesson.m4a");
  const auto wav = cli.Run("--drill=from-wav.wav lesson.wav");
  const auto m4a = cli.Run("--drill=from-m4a.wav lesson.m4a");
  ASSERT_EQ(wav.exitCode, 0) << wav.err;
  ASSERT_EQ(m4a.exitCode, 0) << m4a.err;
  EXPECT_NE(wav.out.find("sentences: 6"), std::string::npos) << wav.out;
  EXPECT_EQ(m4a.out, wav.out);
  // The same sentences repeated as often: the same length to the byte.
  EXPECT_EQ(cli.WavData("from-m4a.wav").size(), cli.WavData("from-wav.wav").size());
}

TEST(LessonFormats, AFilmsSoundPlaysAsFfmpegDecodesIt) {
  CliRunner cli;
  Make(cli, "-t 20 -i '" KESTRO_SPEECH
            "' -f lavfi -i testsrc=size=160x120:rate=10 -map 1:v "
            "-map 0:a -shortest "
            "-c:v libx264 -preset ultrafast -c:a libopus film.mkv");
  Make(cli, "-i film.mkv -vn -f s16le film.raw");
  const auto r = cli.Run("--audio=offline --wav=heard.wav film.mkv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string heard = cli.WavData("heard.wav");
  const std::string reference = ReadFileBytes(cli.File("film.raw"));
  ASSERT_EQ(heard.size(), reference.size());
  int most = 0;
  for (size_t i = 0; i + 1 < heard.size(); i += 2) {
    const int a = static_cast<int16_t>((uint8_t)heard[i] | (uint8_t)heard[i + 1] << 8);
    const int b = static_cast<int16_t>((uint8_t)reference[i] | (uint8_t)reference[i + 1] << 8);
    most = std::max(most, std::abs(a - b));
  }
  EXPECT_LE(most, 1);
}

// A lesson cut off in its middle: its header promises more than it holds.
// What the window and status show as its length becomes what was heard.
TEST(LessonFormats, ACutLessonsLengthBecomesWhatWasHeard) {
  CliRunner cli;
  Make(cli, "-t 100 -i '" KESTRO_SPEECH "' -c:a aac -movflags +faststart whole.m4a");
  const std::string whole = ReadFileBytes(cli.File("whole.m4a"));
  WriteFileBytes(cli.File("cut.m4a"), whole.substr(0, whole.size() / 2));
  const auto r =
      cli.Run("--audio=offline --wav=heard.wav cut.m4a", "status\nwait-mode idle\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t first = r.out.find("length=");
  const size_t last = r.out.rfind("length=");
  ASSERT_NE(first, last) << r.out;
  // A script's playlist plays round: idle between the plays may be caught
  // after the first or a later one, so what was heard is whole plays of it.
  const size_t heard = cli.WavData("heard.wav").size();
  const size_t length = std::stoul(r.out.substr(last + 7));
  ASSERT_GT(length, 0u);
  EXPECT_GT(std::stoul(r.out.substr(first + 7)), length);
  EXPECT_EQ(heard % length, 0u) << heard << " heard, length " << length;
  EXPECT_GE(heard, length);
}

}  // namespace
