// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/clip_exporter.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "codec/codec_registry.h"
#include "export/wav_file_writer.h"
#include "platform/replacing_file.h"

std::string ClipExporter::ClipExtension(const std::string& lessonPath) {
  std::string extension;
  if (ExtensionOfPath(lessonPath, &extension) && WavFileWriter::Writes("x." + extension))
    return extension;
  return "mp3";
}

std::vector<std::string> ClipExporter::FileNames(const std::string& lessonPath, size_t count) {
  const std::string name = std::filesystem::path(lessonPath).stem().string();
  const std::string extension = ClipExtension(lessonPath);
  std::vector<std::string> files;
  for (size_t i = 0; i < count; ++i) {
    char number[32];
    std::snprintf(number, sizeof(number), "-%03zu.", i + 1);
    files.push_back(name + number + extension);
  }
  files.push_back(name + ".tsv");
  return files;
}

std::string ClipExporter::FirstExisting(const std::string& lessonPath, size_t count,
                                        const std::string& dir) {
  for (const std::string& file : FileNames(lessonPath, count)) {
    const std::filesystem::path there = std::filesystem::path(dir) / file;
    std::error_code ignored;
    if (std::filesystem::exists(std::filesystem::symlink_status(there, ignored)))
      return there.string();
  }
  return std::string();
}

std::string ClipExporter::TsvLine(const std::string& file, const std::string& text, double start,
                                  double end) {
  std::string field;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      field += "<br>";
    } else {
      field += c;
    }
  }
  if (field.find_first_of("\t\"") != std::string::npos) {
    std::string quoted = "\"";
    for (char c : field) {
      quoted += c;
      if (c == '"') quoted += '"';
    }
    field = quoted + "\"";
  }
  char times[64];
  std::snprintf(times, sizeof(times), "\t%.3f\t%.3f\n", start, end);
  return "[sound:" + file + "]\t" + field + times;
}

bool ClipExporter::Export(CodecServer* codec, const std::string& lessonPath,
                          const std::vector<Span>& spans, const std::string& dir, bool force,
                          const WavFileWriter::Options& options, std::string* error,
                          const Progress& progress) {
  namespace fs = std::filesystem;
  std::vector<std::string> files = FileNames(lessonPath, spans.size());
  const std::string listPath = (fs::path(dir) / files.back()).string();
  files.pop_back();
  std::error_code made;
  fs::create_directories(dir, made);
  if (made || !fs::is_directory(dir)) {
    *error = "cannot make the folder " + dir + (made ? ": " + made.message() : "");
    return false;
  }
  if (!force) {
    const std::string there = FirstExisting(lessonPath, spans.size(), dir);
    if (!there.empty()) {
      *error = there + " is there already: give --force to replace it";
      return false;
    }
  }
  WaveFormatEx format{};
  if (codec->Open(lessonPath.c_str(), &format) == 0 || format.nBlockAlign == 0) {
    *error = lessonPath + ": it cannot be opened";
    return false;
  }
  constexpr uint32_t kBlock = 64 * 1024;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
  std::string list;
  bool ok = true;
  for (size_t i = 0; ok && i < spans.size(); ++i) {
    const Span& span = spans[i];
    const std::string path = (fs::path(dir) / files[i]).string();
    WavFileWriter clip;
    ok = clip.Create(path, error, options);
    CodecBlock block{buffer.get(), kBlock - kBlock % format.nBlockAlign, 0, span.start, 0, 1};
    while (ok && block.position < span.end && codec->Read(&block, span.end) == kReadFilled) {
      const uint32_t n = std::min(block.bytesRead, span.end - block.position);
      ok = clip.Append(format, block.data, n);
      block.position = block.nextPosition;
    }
    if (ok && !clip.Close()) ok = false;
    if (!ok) {
      const std::string why = clip.Error();
      if (!why.empty()) *error = why;
      if (error->empty()) *error = "cannot write " + path;
      clip.Discard();
      break;
    }
    const double rate = format.nAvgBytesPerSec;
    list += TsvLine(files[i], span.text, span.start / rate, span.end / rate);
    if (progress && !progress(i + 1, spans.size())) {
      *error = "cancelled after " + std::to_string(i + 1) + " of " + std::to_string(spans.size()) +
               " clips";
      ok = false;
    }
  }
  codec->Close();
  if (!ok) return false;
  ReplacingFile file;
  std::string why;
  if (!file.Create(listPath, &why) || !file.Write(list.data(), list.size()) || !file.Commit(&why)) {
    *error = why.empty() ? "cannot write " + listPath : why;
    return false;
  }
  return true;
}
