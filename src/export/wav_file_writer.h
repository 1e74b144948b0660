// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sndfile.h>
#include <cstdint>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <vector>

#include "codec/codec_server.h"
#include "dsp/rate_converter.h"
#include "platform/replacing_file.h"

// Appends sound to a sound file whose kind its name's extension chooses: .wav
// (a plain PCM header that every player reads; RF64 once it passes 4 GiB),
// .flac, .ogg (Vorbis), .opus or .mp3, the others through libsndfile. The
// header takes the format of the first sound written and its sizes are
// brought up to date by Flush and on close. The file is written beside its
// name and takes the name on a close that stored it whole; until then the
// name keeps what it held. With a loudness given, the sound is gathered in a
// temporary file and brought to that loudness on close (16-bit then).
class WavFileWriter {
 public:
  struct Options {
    // 0..1, higher is better: libsndfile's Vorbis and MP3 VBR quality, Opus's
    // bit rate, FLAC's compression level; negative for each kind's default
    // for speech (0.3, 0, 0.1, 0.5).
    double quality = -1;
    bool normalize = false;
    double loudness = -16;  // LUFS, when normalize
  };

  WavFileWriter() = default;
  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  // Begins the file for path (replacing any file there at Close); false with
  // error set when it cannot, or when the extension names no kind it writes.
  bool Create(const std::string& path, std::string* error, const Options& options);
  bool Create(const std::string& path, std::string* error) { return Create(path, error, {}); }
  // Whether the extension of path names a kind of file Create writes.
  static bool Writes(const std::string& path);
  // The 80-byte WAV header for dataBytes of format: RIFF with a JUNK chunk
  // kept for growth, or RF64 with its ds64 chunk there when the sizes need it.
  static constexpr size_t kWavHeaderBytes = 80;
  static std::string WavHeader(const WaveFormatEx& format, uint64_t dataBytes);
  // Appends bytes; the first call fixes the header's format.
  bool Append(const WaveFormatEx& format, const uint8_t* data, uint32_t count);
  bool Flush();
  // False when any of the sound could not be written (a full disk).
  bool Close();
  // Ends the file without putting it in place: the name keeps what it held.
  void Discard();
  bool IsOpen() const;
  // Why a write failed, or empty when none has.
  std::string Error() const;
  uint64_t DataBytes() const;
  // The file the sound is in now: the one beside the name until Close, the
  // name afterwards (what Flush made valid can be read there).
  std::string WrittenPath() const;

 private:
  enum class Kind { kWav, kFlac, kOgg, kOpus, kMp3 };
  static bool KindOf(const std::string& path, Kind* kind);
  static void FillWavHeader(const WaveFormatEx& format, uint64_t dataBytes,
                            uint8_t header[kWavHeaderBytes]);
  bool OpenSound(const WaveFormatEx& format);
  bool OpenEncoder();
  // WAV: the header for what was written so far, at the file's start.
  bool WriteHeader();
  // Writes 16-bit frames in the sound's format to the file.
  bool Encode(const int16_t* samples, size_t frames);
  bool WriteAll(int fd, const void* data, size_t size);
  // Brings the gathered sound to the loudness and writes it.
  bool WriteNormalized();

  mutable std::mutex mutex;
  std::string path;
  ReplacingFile file;
  bool created = false;
  Kind kind = Kind::kWav;
  Options options;
  SNDFILE* sound = nullptr;  // all kinds but WAV
  bool opened = false;       // the format of the sound is known
  bool wavOpen = false;      // WAV: the header's place is taken
  WaveFormatEx wavFormat{};  // what the file holds
  uint64_t dataBytes = 0;    // what was appended
  uint64_t wavBytes = 0;     // WAV: the data written to the file
  RateConverter converter;   // Opus at a rate it does not take
  bool converting = false;
  std::vector<int16_t> converted;
  int spool = -1;  // with normalize: the sound as appended, 16-bit
  // Writes the whole frames of the piece held so far.
  bool WriteWholeFrames();

  static constexpr size_t kPieceBytes = 256 * 1024;
  std::unique_ptr<uint8_t[]> piece;  // made once, by the first Create
  size_t held = 0;
  uint32_t frameBytes = 1;
  bool failed = false;
  std::string error;
  void Fail(const char* what);
};
