// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/qv_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "loaded_plugin.h"
#include "temp_dir.h"

namespace {

class QvWriterTest : public ::testing::Test {
 protected:
  QvWriterTest() : plugin(KESTRO_QV_PLUGIN), reader(plugin.codec()), format(RecordingFormat()) {
    writer.SetFormat(&format);
  }

  // Reads the whole file back through the qv plug-in.
  std::string ReadBack(WaveFormatEx* readFormat) {
    if (reader->Open(path.c_str(), readFormat) != 1) return "<cannot open>";
    std::string out;
    uint8_t buffer[5000];
    CodecBlock block{buffer, sizeof(buffer), 0, 0, 0, 0};
    while (reader->Read(&block, 0) == kReadFilled) {
      out.append(reinterpret_cast<char*>(buffer), block.bytesRead);
      block.position = block.nextPosition;
    }
    reader->Close();
    return out;
  }

  TempDir dir;
  std::string path = dir.File("RecordVM.qv");
  LoadedPlugin plugin;
  CodecServer* reader;
  WaveFormatEx format;
  QvWriter writer;
};

TEST_F(QvWriterTest, WrittenFileReadsBackByteForByte) {
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  std::string all;
  for (unsigned i = 0; i < 7; ++i) {
    const std::string chunk = PatternBytes(5000 - i * 3, i);
    ASSERT_EQ(writer.Append(chunk.data(), static_cast<uint32_t>(chunk.size())), 1);
    all += chunk;
    // A kill at any moment would leave whole frames.
    EXPECT_EQ((std::filesystem::file_size(path) - 23) % 4, 0u) << i;
  }
  writer.Finish();
  EXPECT_FALSE(writer.IsOpen());
  // Whole frames only: the odd byte at the end is no sound.
  ASSERT_EQ(all.size() % 4, 1u);
  all.pop_back();
  EXPECT_EQ(ReadFileBytes(path), QvFileBytes(format, all));

  WaveFormatEx readFormat{};
  EXPECT_EQ(ReadBack(&readFormat), all);
  EXPECT_EQ(readFormat.wFormatTag, 1);
  EXPECT_EQ(readFormat.nChannels, 2);
  EXPECT_EQ(readFormat.nSamplesPerSec, 44100u);
  EXPECT_EQ(readFormat.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(readFormat.nBlockAlign, 4);
  EXPECT_EQ(readFormat.wBitsPerSample, 16);
  EXPECT_EQ(readFormat.cbSize, 0);
}

TEST_F(QvWriterTest, StoppedAtOnceLeavesHeaderOnly) {
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  writer.Finish();
  EXPECT_EQ(ReadFileBytes(path).size(), 23u);
  WaveFormatEx readFormat{};
  ASSERT_EQ(reader->Open(path.c_str(), &readFormat), 1);
  EXPECT_EQ(reader->GetLength(), 0u);
}

TEST_F(QvWriterTest, SecondRecordingReplacesTheFirst) {
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  const std::string first = PatternBytes(9000, 1);
  writer.Append(first.data(), 9000);
  writer.Finish();
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  const std::string second = PatternBytes(100, 2);
  writer.Append(second.data(), 100);
  writer.Finish();
  EXPECT_EQ(ReadFileBytes(path), QvFileBytes(format, second));
}

TEST_F(QvWriterTest, BeginOnAnOpenFileRestartsIt) {
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  const std::string first = PatternBytes(300, 1);
  writer.Append(first.data(), 300);
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  const std::string second = PatternBytes(40, 5);
  writer.Append(second.data(), 40);
  writer.Finish();
  EXPECT_EQ(ReadFileBytes(path), QvFileBytes(format, second));
}

TEST_F(QvWriterTest, RefusalsDestroyNothing) {
  WriteFileBytes(path, QvFileBytes(format, "previous recording"));
  const std::string before = ReadFileBytes(path);

  QvWriter noFormat;
  EXPECT_EQ(noFormat.Begin(path.c_str()), 0);
  EXPECT_EQ(noFormat.Begin(dir.File("other.qv").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("other.qv")));

  // The reader holds the file: the recorder may not touch it, and vice versa.
  WaveFormatEx readFormat{};
  ASSERT_EQ(reader->Open(path.c_str(), &readFormat), 1);
  EXPECT_EQ(writer.Begin(path.c_str()), 0);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(writer.Append("x", 1), 0);
  reader->Close();
  EXPECT_EQ(ReadFileBytes(path), before);

  ASSERT_NE(writer.Begin(path.c_str()), 0);
  EXPECT_EQ(reader->Open(path.c_str(), &readFormat), 0);
  writer.Finish();
  EXPECT_EQ(reader->Open(path.c_str(), &readFormat), 1);
}

TEST_F(QvWriterTest, UnwritableFolderFailsCleanly) {
  if (::geteuid() == 0) {
    // root writes anywhere; a path inside a regular file cannot be created by anyone
    WriteFileBytes(dir.File("plain"), "x");
    EXPECT_EQ(writer.Begin(dir.File("plain/RecordVM.qv").c_str()), 0);
  } else {
    const std::string locked = dir.File("locked");
    ::mkdir(locked.c_str(), 0555);
    EXPECT_EQ(writer.Begin((locked + "/RecordVM.qv").c_str()), 0);
  }
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(writer.Append("x", 1), 0);
}

TEST_F(QvWriterTest, FullDiskKeepsThePreviousRecording) {
  const std::string previous = QvFileBytes(format, PatternBytes(100));
  WriteFileBytes(path, previous);
  {
    FileSizeLimit full(10);
    EXPECT_EQ(writer.Begin(path.c_str()), 0);
    EXPECT_FALSE(writer.IsOpen());
  }
  EXPECT_EQ(ReadFileBytes(path), previous);
  // A new file that cannot take its header is not left behind.
  {
    FileSizeLimit full(10);
    EXPECT_EQ(writer.Begin(dir.File("new.qv").c_str()), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.qv")));
}

TEST_F(QvWriterTest, FullDiskDuringRecordingLeavesAValidFile) {
  ASSERT_NE(writer.Begin(path.c_str()), 0);
  const std::string sound = PatternBytes(400);
  {
    FileSizeLimit full(23 + 200);
    EXPECT_EQ(writer.Append(sound.data(), 100), 1);
    EXPECT_EQ(writer.Append(sound.data() + 100, 300), 0);
  }
  writer.Finish();
  WaveFormatEx readFormat{};
  const std::string back = ReadBack(&readFormat);
  EXPECT_EQ(back, sound.substr(0, back.size()));
  EXPECT_GE(back.size(), 100u);
}

// A link at the recording's name is replaced by the recording; what it led
// to keeps its bytes. A FIFO there is refused at once, not waited on.
TEST_F(QvWriterTest, ALinkAtTheNameIsReplacedNotWrittenThrough) {
  const std::string thesis = dir.File("thesis.txt");
  const std::string sound = PatternBytes(4000);
  for (bool hard : {false, true}) {
    WriteFileBytes(thesis, "my thesis");
    ::unlink(path.c_str());
    ASSERT_EQ(hard ? ::link(thesis.c_str(), path.c_str()) : ::symlink(thesis.c_str(), path.c_str()),
              0);
    ASSERT_NE(writer.Begin(path.c_str()), 0) << hard;
    ASSERT_EQ(writer.Append(sound.data(), 4000), 1);
    writer.Finish();
    EXPECT_EQ(ReadFileBytes(thesis), "my thesis") << hard;
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadFileBytes(path), QvFileBytes(format, sound)) << hard;
  }
  ::unlink(path.c_str());
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(writer.Begin(path.c_str()), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(QvWriterTest, RefusesWhatIsNotAFile) {
  EXPECT_EQ(writer.Begin(dir.path().c_str()), 0);
  if (::access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(writer.Begin("/dev/full"), 0);
  }
  EXPECT_FALSE(writer.IsOpen());
}

}  // namespace
