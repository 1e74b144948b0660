// SPDX-License-Identifier: GPL-3.0-or-later
// Where the learner left each file, kept across starts.
#include "library/resume_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "temp_dir.h"

namespace {

TEST(ResumeStore, APlaceIsFoundAgainUntilItsFileChanges) {
  TempDir dir;
  const std::string lesson = dir.File("a\tb\nc.wav");  // tabs and newlines survive the file
  WriteFileBytes(lesson, "sound");
  ResumeStore store;
  ASSERT_TRUE(store.Load(dir.File("state/kestro/resume.tsv")));
  EXPECT_FALSE(store.Find(lesson));
  store.Keep(lesson, {176400, {0, 44100, 88200}, 25, true});
  store.KeepSettings(ResumeStore::Settings{5, 3, 1.5f, 10});
  ASSERT_TRUE(store.Save());

  ResumeStore again;
  ASSERT_TRUE(again.Load(dir.File("state/kestro/resume.tsv")));
  // The same file by another name is the same entry.
  const auto place = again.Find(dir.File("./a\tb\nc.wav"));
  ASSERT_TRUE(place);
  EXPECT_EQ(place->position, 176400u);
  EXPECT_EQ(place->marks, (std::vector<uint32_t>{0, 44100, 88200}));
  EXPECT_EQ(place->speed, 25);
  EXPECT_TRUE(place->keepPitch);
  ASSERT_TRUE(again.KeptSettings());
  EXPECT_EQ(again.KeptSettings()->count, 5u);
  EXPECT_FLOAT_EQ(again.KeptSettings()->seconds, 1.5f);
  // Turned off: nothing found, nothing kept.
  again.SetEnabled(false);
  EXPECT_FALSE(again.Find(lesson));
  again.SetEnabled(true);

  WriteFileBytes(lesson, "other sound");
  EXPECT_FALSE(again.Find(lesson));
  store.Keep(lesson, {0, {}, 0, false});
  EXPECT_TRUE(store.Find(lesson));
}

TEST(ResumeStore, OnlyTheMostRecentFilesAreKept) {
  TempDir dir;
  ResumeStore store;
  ASSERT_TRUE(store.Load(dir.File("resume.tsv")));
  for (size_t i = 0; i <= ResumeStore::kMaxFiles; ++i) {
    const std::string file = dir.File(std::to_string(i));
    WriteFileBytes(file, "x");
    store.Keep(file, {static_cast<uint32_t>(i), {}, 0, false});
  }
  EXPECT_FALSE(store.Find(dir.File("0")));  // the oldest went
  EXPECT_TRUE(store.Find(dir.File("1")));
  EXPECT_TRUE(store.Find(dir.File(std::to_string(ResumeStore::kMaxFiles))));
}

class BrokenResumeFile : public ::testing::TestWithParam<std::string> {};

TEST_P(BrokenResumeFile, IsIgnoredAndReplacedByTheNextSave) {
  TempDir dir;
  const std::string state = dir.File("resume.tsv");
  WriteFileBytes(state, GetParam());
  WriteFileBytes(dir.File("lesson.wav"), "sound");
  ResumeStore store;
  std::string note;
  EXPECT_FALSE(store.Load(state, &note));
  EXPECT_NE(note.find("ignored"), std::string::npos) << note;
  EXPECT_FALSE(store.Find(dir.File("lesson.wav")));
  store.Keep(dir.File("lesson.wav"), {4, {}, 0, false});
  ASSERT_TRUE(store.Save());
  ResumeStore again;
  ASSERT_TRUE(again.Load(state));
  EXPECT_EQ(again.Find(dir.File("lesson.wav"))->position, 4u);
}

INSTANTIATE_TEST_SUITE_P(Contents, BrokenResumeFile,
                         ::testing::Values(std::string("\x89PNG\r\n\x1a\n\0\0", 10),
                                           "kestro-resume\t2\n",
                                           "kestro-resume\t1\nfile\tx\t1\t2\tthree\t0\t0\t\n",
                                           "kestro-resume\t1\nfile\tx\t1\t2\t3\t0\t0\t1,-2\n",
                                           "kestro-resume\t1\nfile\tx\\q\t1\t2\t3\t0\t0\t\n",
                                           "kestro-resume\t1\nsettings\t3\n",
                                           "kestro-resume\t1\n\n"));

}  // namespace
