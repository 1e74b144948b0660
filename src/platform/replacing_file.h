// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// A file written beside its name and put in place only when whole, so that a
// crash, a full disk or a kill leaves whatever the name held before. The name
// is replaced, never written through: a symbolic link or a hard link there is
// replaced by the new file and what it led to stays as it was.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();  // an uncommitted file is removed
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Makes the temporary file beside path, with the permissions the file at path
  // has (or new files get). False with error set when path is a folder or a
  // device, or the folder cannot take the file.
  bool Create(const std::string& path, std::string* error);
  // The temporary file's descriptor, or -1.
  int Descriptor() const { return fd; }
  const std::string& TemporaryPath() const { return temp; }
  // Writes all of data at the file's current end; false when the disk refuses.
  bool Write(const void* data, size_t size);
  // Syncs and closes the file and renames it over the name; false with error
  // set (and the temporary removed) when any of that fails.
  bool Commit(std::string* error);
  // Renames the file over the name now and hands its still open descriptor
  // to the caller (who writes on and closes it); -1 when the rename fails.
  int PutInPlace(std::string* error);
  // Removes the temporary file; the name keeps what it held.
  void Abandon();

  // The temporary files a killed writer of path left behind, removed; returns
  // how many were.
  static int RemoveLeftovers(const std::string& path);

 private:
  bool RenameOverName(std::string* error);

  std::string path;
  std::string temp;
  int fd = -1;
};

// True when both paths name one existing file (the same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// Why path cannot be read as a file, or empty when it is an existing regular
// file: a FIFO, a device or a folder would block a reader or feed it endlessly.
std::string WhyNotARegularFile(const std::string& path);
