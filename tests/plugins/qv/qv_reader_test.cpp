// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "loaded_plugin.h"
#include "temp_dir.h"

namespace {

class QvReaderTest : public ::testing::Test {
 protected:
  QvReaderTest() : plugin(KESTRO_QV_PLUGIN), codec(plugin.codec()) {}

  // Opens a file holding bytes; returns Open's result.
  int32_t OpenBytes(const std::string& bytes, WaveFormatEx* format = nullptr) {
    const std::string path = dir.File("sound.qv");
    WriteFileBytes(path, bytes);
    WaveFormatEx scratch{};
    return codec->Open(path.c_str(), format ? format : &scratch);
  }

  // Reads blocks of capacity bytes from position 0 until Read returns 2.
  std::string ReadAll(uint32_t capacity, uint32_t readLimit = 0) {
    std::vector<uint8_t> buffer(capacity);
    CodecBlock block{buffer.data(), capacity, 0, 0, 0, 0};
    std::string out;
    while (codec->Read(&block, readLimit) == kReadFilled) {
      out.append(reinterpret_cast<char*>(buffer.data()), block.bytesRead);
      EXPECT_EQ(block.nextPosition, block.position + block.bytesRead);
      block.position = block.nextPosition;
    }
    return out;
  }

  TempDir dir;
  LoadedPlugin plugin;
  CodecServer* codec;
};

TEST_F(QvReaderTest, OpensRecordingAndDeliversDataInBlocks) {
  const WaveFormatEx expected = RecordingFormat();
  const std::string pcm = PatternBytes(12345);
  WaveFormatEx format{};
  ASSERT_EQ(OpenBytes(QvFileBytes(expected, pcm), &format), 1);
  EXPECT_EQ(codec->IsOpen(), 1);
  // Whole frames only: the byte of a frame cut off at the end is no sound.
  EXPECT_EQ(codec->GetLength(), pcm.size() - 1);
  EXPECT_EQ(0, std::memcmp(&format, &expected, sizeof(format)));
  EXPECT_EQ(ReadAll(5000), pcm.substr(0, pcm.size() - 1));
  codec->Close();
  EXPECT_EQ(codec->IsOpen(), 0);
  EXPECT_EQ(codec->GetLength(), 0xFFFFFFFFu);
}

TEST_F(QvReaderTest, ExtensionAndSingleObject) {
  EXPECT_STREQ(codec->GetExtension(), ".qv");
  CodecServer* again = nullptr;
  CodecServer** slot = &again;
  EXPECT_EQ(plugin.getServer()(slot), slot);
  EXPECT_EQ(again, codec);
}

TEST_F(QvReaderTest, HeaderOnlyFileHasLengthZero) {
  ASSERT_EQ(OpenBytes(QvFileBytes(RecordingFormat(), "")), 1);
  EXPECT_EQ(codec->GetLength(), 0u);
  uint8_t buffer[16];
  CodecBlock block{buffer, sizeof(buffer), 7, 0, 9, 0};
  EXPECT_EQ(codec->Read(&block, 0), kReadEnd);
  EXPECT_EQ(block.bytesRead, 7u);
  EXPECT_EQ(block.nextPosition, 9u);
}

TEST_F(QvReaderTest, RejectsShortAndForeignFiles) {
  const std::string good = QvFileBytes(RecordingFormat(), "abcd");
  for (size_t i = 0; i < 5; ++i) {
    std::string bad = good;
    bad[i] ^= 0x20;
    EXPECT_EQ(OpenBytes(bad), 0) << "signature byte " << i;
    EXPECT_EQ(codec->IsOpen(), 0);
  }
  EXPECT_EQ(OpenBytes(""), 0);
  EXPECT_EQ(OpenBytes("qvox"), 0);
  EXPECT_EQ(OpenBytes(good.substr(0, 22)), 0);  // header cut short
  EXPECT_EQ(codec->IsOpen(), 0);
  WaveFormatEx format{};
  EXPECT_EQ(codec->Open(dir.File("missing.qv").c_str(), &format), 0);
  EXPECT_EQ(codec->Open(dir.path().c_str(), &format), 0);  // a directory
  EXPECT_EQ(codec->IsOpen(), 0);
  // A file that is not ours is left as it was.
  EXPECT_EQ(ReadFileBytes(dir.File("sound.qv")), good.substr(0, 22));
}

TEST_F(QvReaderTest, OnlyPlayableFormatsOpen) {
  // Mono and stereo, 8 and 16 bits, with fields that agree: passed on as stored.
  for (const auto& [channels, bits] : {std::pair{1, 8}, {1, 16}, {2, 8}, {2, 16}}) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    const WaveFormatEx good{kWaveFormatPcm, static_cast<uint16_t>(channels), 22050, 22050u * align,
                            align,          static_cast<uint16_t>(bits),     0};
    WaveFormatEx format{};
    ASSERT_EQ(OpenBytes(QvFileBytes(good, PatternBytes(100)), &format), 1) << channels << bits;
    EXPECT_EQ(0, std::memcmp(&format, &good, sizeof(format)));
    codec->Close();
  }
  // What no device could play is refused, as a zero field is.
  const WaveFormatEx base = RecordingFormat();
  std::vector<WaveFormatEx> bad(7, base);
  bad[0].wBitsPerSample = 1;
  bad[1].nBlockAlign = 65535;
  bad[2].nChannels = 7;
  bad[3].wFormatTag = 0x55;
  bad[4].nAvgBytesPerSec = 12345;
  bad[5].nSamplesPerSec = 0;
  bad[6].wBitsPerSample = 24;
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(OpenBytes(QvFileBytes(bad[i], PatternBytes(100))), 0) << i;
    EXPECT_EQ(codec->IsOpen(), 0) << i;
  }
}

TEST_F(QvReaderTest, SeekGoesToDataOffset) {
  const std::string pcm = PatternBytes(3000);
  ASSERT_EQ(OpenBytes(QvFileBytes(RecordingFormat(), pcm)), 1);
  uint8_t buffer[100];
  CodecBlock block{buffer, sizeof(buffer), 0, 1000, 0, 1};
  ASSERT_EQ(codec->Read(&block, 0), kReadFilled);
  EXPECT_EQ(block.seekRequested, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 100), pcm.substr(1000, 100));
  EXPECT_EQ(block.nextPosition, 1100u);
  // Without a seek request the stream simply goes on, whatever position says.
  block.position = 0;
  ASSERT_EQ(codec->Read(&block, 0), kReadFilled);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 100), pcm.substr(1100, 100));
  // A seek back to the start works too.
  block.position = 0;
  block.seekRequested = 1;
  ASSERT_EQ(codec->Read(&block, 0), kReadFilled);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 100), pcm.substr(0, 100));
}

TEST_F(QvReaderTest, ReadLimit) {
  const std::string pcm = PatternBytes(1000);
  ASSERT_EQ(OpenBytes(QvFileBytes(RecordingFormat(), pcm)), 1);
  // 0 and limits past the end read to the end of the data.
  EXPECT_EQ(ReadAll(300, 0), pcm);
  for (uint32_t limit : {1000u, 1001u, 0xFFFFFFFFu}) {
    codec->Close();
    ASSERT_EQ(OpenBytes(QvFileBytes(RecordingFormat(), pcm)), 1);
    EXPECT_EQ(ReadAll(300, limit), pcm) << limit;
  }
  // The block that starts before the limit is delivered whole.
  codec->Close();
  ASSERT_EQ(OpenBytes(QvFileBytes(RecordingFormat(), pcm)), 1);
  EXPECT_EQ(ReadAll(300, 301), pcm.substr(0, 600));

  // At the limit: nothing read, and a pending seek stays pending.
  uint8_t buffer[10];
  CodecBlock block{buffer, sizeof(buffer), 3, 500, 4, 1};
  EXPECT_EQ(codec->Read(&block, 500), kReadEnd);
  EXPECT_EQ(block.seekRequested, 1);
  EXPECT_EQ(block.bytesRead, 3u);
  EXPECT_EQ(block.nextPosition, 4u);
}

TEST_F(QvReaderTest, ReadWhileClosedDeliversNothing) {
  uint8_t buffer[10];
  CodecBlock block{buffer, sizeof(buffer), 0, 0, 0, 0};
  EXPECT_EQ(codec->Read(&block, 0), kReadEnd);
  EXPECT_EQ(codec->IsOpen(), 0);
}

TEST_F(QvReaderTest, OpenSharesWithReadersAndExcludesTheRecorder) {
  const std::string path = dir.File("held.qv");
  WriteFileBytes(path, QvFileBytes(RecordingFormat(), "xyzw"));
  int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  WaveFormatEx format{};
  EXPECT_EQ(codec->Open(path.c_str(), &format), 0);
  ::close(fd);
  EXPECT_EQ(codec->Open(path.c_str(), &format), 1);
  // Another reader may open it too; a writer may not while it is open.
  fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

// The plug-in shows the loader GetServer and nothing else.
TEST(QvPluginExports, OnlyGetServer) {
  const std::string command = std::string("nm -D --defined-only ") + KESTRO_QV_PLUGIN;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  ASSERT_TRUE(pipe);
  std::vector<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe.get())) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
      text.pop_back();
    const size_t space = text.rfind(' ');
    symbols.push_back(text.substr(space == std::string::npos ? 0 : space + 1));
  }
  EXPECT_EQ(symbols, std::vector<std::string>{"GetServer"});
}

}  // namespace
