// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/codec_server.h"
#include "export/wav_file_writer.h"

// Each sentence of a lesson as a sound file of its own, with a list of them
// that Anki's text import takes as it is: DIR/NAME-001.EXT ... and DIR/NAME.tsv.
class ClipExporter {
 public:
  struct Span {
    uint32_t start = 0;  // byte positions of the lesson's sound
    uint32_t end = 0;
    std::string text;
  };
  // Told after each clip; false cancels.
  using Progress = std::function<bool(size_t done, size_t total)>;

  // The kind of file the clips of lesson are: the lesson's own when it is one
  // the writer makes, otherwise MP3.
  static std::string ClipExtension(const std::string& lessonPath);
  // The files for count sentences of lesson: the clips, then the list.
  static std::vector<std::string> FileNames(const std::string& lessonPath, size_t count);
  // The first of those that is in dir already, or empty when none is.
  static std::string FirstExisting(const std::string& lessonPath, size_t count,
                                   const std::string& dir);
  // One line of the list: "[sound:FILE]", text (lines joined by <br>, quoted
  // when it holds a tab or a quote), start and end in seconds, tab-separated.
  static std::string TsvLine(const std::string& file, const std::string& text, double start,
                             double end);

  // Writes the clips of lesson (read with codec) into dir, made when missing.
  // Without force nothing is written when any of the files is there already.
  // False with *error naming the file when anything fails: the clips written
  // before stay whole, the list is written only when all are.
  bool Export(CodecServer* codec, const std::string& lessonPath, const std::vector<Span>& spans,
              const std::string& dir, bool force, const WavFileWriter::Options& options,
              std::string* error, const Progress& progress = nullptr);
};
