// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// A fresh directory under the system's temporary folder, removed with everything
// in it when the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return dir; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string dir;
};

// Whole-file helpers for tests.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
void CopyFile(const std::string& from, const std::string& to);

// While it exists, no file of this process may grow past limit bytes: writes
// beyond it fail as they would on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long limit);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  unsigned long oldSoft;
  void (*oldHandler)(int);
};

#include <gtest/gtest.h>

// Compares two byte strings and, when they differ, says where instead of
// printing them whole.
::testing::AssertionResult BytesEqual(const std::string& actual, const std::string& expected);
