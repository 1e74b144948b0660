// SPDX-License-Identifier: GPL-3.0-or-later
#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestro-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir, ignored);
}

std::string TempDir::File(const std::string& name) const {
  return dir + "/" + name;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void CopyFile(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

#include <signal.h>
#include <sys/resource.h>

FileSizeLimit::FileSizeLimit(unsigned long limit) {
  oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit r{};
  ::getrlimit(RLIMIT_FSIZE, &r);
  oldSoft = r.rlim_cur;
  r.rlim_cur = limit;
  if (::setrlimit(RLIMIT_FSIZE, &r) != 0) throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
  rlimit r{};
  ::getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = oldSoft;
  ::setrlimit(RLIMIT_FSIZE, &r);
  ::signal(SIGXFSZ, oldHandler);
}

::testing::AssertionResult BytesEqual(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
    ++i;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << i;
}
