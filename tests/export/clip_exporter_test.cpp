// SPDX-License-Identifier: GPL-3.0-or-later
// Cancelling clips between two: those written stay whole, the list is not written.
#include "export/clip_exporter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>

#include "loaded_plugin.h"
#include "temp_dir.h"

namespace {

TEST(ClipExporter, ACancelKeepsTheClipsWrittenAndWritesNoList) {
  TempDir dir;
  const std::string pcm = PatternBytes(176400 * 3);
  WriteFileBytes(dir.File("lesson.qv"), QvFileBytes(RecordingFormat(), pcm));
  LoadedPlugin plugin(KESTRO_QV_PLUGIN);
  ASSERT_NE(plugin.codec(), nullptr);
  const std::vector<ClipExporter::Span> spans = {
      {0, 176400, "a"}, {176400, 352800, "b"}, {352800, 529200, "c"}};
  std::string error;
  ClipExporter exporter;
  EXPECT_FALSE(exporter.Export(plugin.codec(), dir.File("lesson.qv"), spans, dir.File("out"), false,
                               {}, &error, [](size_t done, size_t) { return done < 2; }));
  EXPECT_EQ(error, "cancelled after 2 of 3 clips");
  // The second clip is a whole second of MP3 (the encoder pads its ends).
  SF_INFO info{};
  SNDFILE* clip = sf_open(dir.File("out/lesson-002.mp3").c_str(), SFM_READ, &info);
  ASSERT_NE(clip, nullptr);
  EXPECT_NEAR(static_cast<double>(info.frames), 44100.0, 2400.0);
  sf_close(clip);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out/lesson-003.mp3")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out/lesson.tsv")));
  EXPECT_EQ(ClipExporter::FirstExisting(dir.File("lesson.qv"), 3, dir.File("out")),
            dir.File("out/lesson-001.mp3"));
}

}  // namespace
