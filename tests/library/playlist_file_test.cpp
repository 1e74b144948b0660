// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/playlist_file.h"
#include "platform/replacing_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <filesystem>

#include "temp_dir.h"

namespace {

using Entries = std::vector<std::string>;

TEST(PlaylistFile, ReadsEveryNonCommentLineSorted) {
  TempDir dir;
  const std::string path = dir.File("list.m3u");
  WriteFileBytes(path, "#EXTM3U\r\n#EXTINF:0,b\r\nb.qv\r\n\r\nA.qv\n#comment\nc.qv");
  Playlist list;
  EXPECT_EQ(LoadPlaylist(list, path), 3);
  EXPECT_EQ(list.Entries(), (Entries{"A.qv", "b.qv", "c.qv"}));
  // Loading adds to what is there; single additions stay at the end.
  list.Append("a-late.qv");
  WriteFileBytes(path, " spaced name.qv \r\n");
  EXPECT_EQ(LoadPlaylist(list, path), 1);
  EXPECT_EQ(list.Entries(), (Entries{" spaced name.qv ", "A.qv", "b.qv", "c.qv", "a-late.qv"}));
}

TEST(PlaylistFile, CommentsOnlyAndMissingFilesLoadNothing) {
  TempDir dir;
  const std::string path = dir.File("list.m3u");
  WriteFileBytes(path, "#EXTM3U\r\n#EXTINF:0,x\r\n#EXTINF:1,y\r\n");
  Playlist list;
  EXPECT_EQ(LoadPlaylist(list, path), 0);
  EXPECT_EQ(list.Count(), 0);
}

// What is no list of ours is refused whole, with why, and quickly: nothing
// that blocks (a FIFO), never ends (/dev/zero through a link) or is too big.
TEST(PlaylistFile, WhatIsNoListIsRefusedWithWhy) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo.m3u").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", dir.File("zero.m3u").c_str()), 0);
  std::string lines;
  for (int i = 0; i <= kMaxPlaylistEntries; ++i)
    lines += "e" + std::to_string(i) + ".mp3\n";
  WriteFileBytes(dir.File("many.m3u"), lines);
  WriteFileBytes(dir.File("huge.m3u"), "");
  ASSERT_EQ(::truncate(dir.File("huge.m3u").c_str(), kMaxPlaylistBytes + 1), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"missing.m3u", "No such file"},    {"fifo.m3u", "not a regular file"},
      {"zero.m3u", "not a regular file"}, {"many.m3u", "more than 200000 files"},
      {"huge.m3u", "larger than 64 MiB"}, {"", "folder"}};
  for (const auto& [name, why] : cases) {
    Playlist list;
    list.Append("kept.qv");
    std::string error;
    EXPECT_EQ(LoadPlaylist(list, dir.File(name), &error), -1) << name;
    EXPECT_NE(error.find(why), std::string::npos) << name << ": " << error;
    EXPECT_EQ(list.Entries(), Entries{"kept.qv"}) << name;
  }
}

TEST(PlaylistFile, AByteOrderMarkAndBlankLinesMakeNoEntries) {
  TempDir dir;
  const std::string path = dir.File("list.m3u");
  WriteFileBytes(path,
                 "\xEF\xBB\xBF#EXTM3U\r\n \r\n\t\nb.qv\r\n  \n\xEF\xBB\xBF"
                 "a.qv\n");
  Playlist list;
  EXPECT_EQ(LoadPlaylist(list, path), 2);
  // Only the mark at the very start is one; elsewhere it is part of a name.
  EXPECT_EQ(list.Entries(), (Entries{"b.qv",
                                     "\xEF\xBB\xBF"
                                     "a.qv"}));
  ASSERT_EQ(SavePlaylist(list, path), 1);
  EXPECT_EQ(ReadFileBytes(path).rfind("#EXTM3U\r\n", 0), 0u);
}

TEST(PlaylistFile, OverlongLineIsSkippedWhole) {
  TempDir dir;
  const std::string path = dir.File("list.m3u");
  const std::string longest(1023, 'k');
  WriteFileBytes(path, std::string(1024, 'x') + "\r\n" + std::string(3000, 'y') + "\n" + longest +
                           "\r\nshort.qv\r\n");
  Playlist list;
  EXPECT_EQ(LoadPlaylist(list, path), 2);
  EXPECT_EQ(list.Entries(), (Entries{longest, "short.qv"}));
}

TEST(PlaylistFile, Titles) {
  EXPECT_EQ(PlaylistTitle("C:\\Audio\\lesson1.qv"), "lesson1");
  EXPECT_EQ(PlaylistTitle("D:\\x\\my.talk.qv"), "my");
  EXPECT_EQ(PlaylistTitle("/home/me/dir.v2/talk.mp3"), "talk");
  EXPECT_EQ(PlaylistTitle("plain.wav"), "plain");
  EXPECT_EQ(PlaylistTitle("noext"), "noext");
  EXPECT_EQ(PlaylistTitle("dir/"), "");
}

TEST(PlaylistFile, WritesExactText) {
  TempDir dir;
  const std::string path = dir.File("out.m3u");
  Playlist list;
  ASSERT_EQ(SavePlaylist(list, path), 1);
  EXPECT_EQ(ReadFileBytes(path), "#EXTM3U\r\n");

  list.Append("C:\\Audio\\lesson1.qv");
  list.Append("/home/me/b.talk.mp3");
  ASSERT_EQ(SavePlaylist(list, path), 1);
  EXPECT_EQ(ReadFileBytes(path),
            "#EXTM3U\r\n#EXTINF:-1,lesson1\r\nC:\\Audio\\lesson1.qv\r\n"
            "#EXTINF:-1,b\r\n/home/me/b.talk.mp3\r\n");

  Playlist back;
  LoadPlaylist(back, path);
  EXPECT_EQ(back.Entries(), (Entries{"/home/me/b.talk.mp3", "C:\\Audio\\lesson1.qv"}));
  // Nothing but the list itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(PlaylistFile, FailedSaveKeepsTheOldList) {
  TempDir dir;
  const std::string path = dir.File("Kestro.m3u");
  WriteFileBytes(path, "#EXTM3U\r\nold.qv\r\n");
  ::chmod(path.c_str(), 0640);
  Playlist list;
  for (int i = 0; i < 200; ++i)
    list.Append("/some/long/path/to/lesson" + std::to_string(i) + ".mp3");
  {
    FileSizeLimit full(100);
    EXPECT_EQ(SavePlaylist(list, path), 0);
  }
  EXPECT_EQ(ReadFileBytes(path), "#EXTM3U\r\nold.qv\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  EXPECT_EQ(SavePlaylist(list, dir.File("no-such-dir/x.m3u")), 0);
  EXPECT_EQ(SavePlaylist(list, dir.path()), 0);  // a directory is not replaced

  // A successful save keeps the file's permissions.
  ASSERT_EQ(SavePlaylist(list, path), 1);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(PlaylistFile, SavingReplacesALinkNotWhatItLeadsTo) {
  TempDir dir;
  const std::string target = dir.File("thesis.txt");
  const std::string link = dir.File("Kestro.m3u");
  WriteFileBytes(target, "my thesis\n");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  Playlist list;
  list.Append("a.qv");
  ASSERT_EQ(SavePlaylist(list, link), 1);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(link), "#EXTM3U\r\n#EXTINF:-1,a\r\na.qv\r\n");
  EXPECT_EQ(ReadFileBytes(target), "my thesis\n");
}

}  // namespace

namespace {

// Saves next in a child process that is killed at point; returns what the
// list file holds afterwards.
std::string SaveKilledAt(const std::string& path, const Entries& next, PlaylistSavePoint point) {
  static PlaylistSavePoint killAt;
  killAt = point;
  const pid_t child = ::fork();
  if (child == 0) {
    SetPlaylistSaveHook([](PlaylistSavePoint p) {
      if (p == killAt) ::kill(::getpid(), SIGKILL);
    });
    Playlist list;
    for (const auto& e : next)
      list.Append(e);
    SavePlaylist(list, path);
    ::_exit(0);  // not reached when the kill came
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  return ReadFileBytes(path);
}

TEST(PlaylistFile, AKilledSaveLeavesTheOldOrTheNewListWhole) {
  TempDir dir;
  const std::string path = dir.File("Kestro.m3u");
  Playlist old;
  old.Append("a.mp3");
  old.Append("b.mp3");
  ASSERT_EQ(SavePlaylist(old, path), 1);
  const std::string oldText = ReadFileBytes(path);
  const Entries next = {"c.mp3", "d.mp3", "e.mp3"};
  const std::string newText = PlaylistText(next);
  for (int run = 0; run < 5; ++run) {
    EXPECT_EQ(SaveKilledAt(path, next, kBeforeRename), oldText) << run;
    ASSERT_EQ(SavePlaylist(old, path), 1);
    EXPECT_EQ(SaveKilledAt(path, next, kAfterRename), newText) << run;
    ASSERT_EQ(SavePlaylist(old, path), 1);
  }
  // Each kill before the rename left its file; the next start removes those
  // and nothing of the learner's.
  WriteFileBytes(dir.File("Kestro.m3u.backup"), "#EXTM3U\r\nmine.mp3\r\n");
  EXPECT_EQ(ReplacingFile::RemoveLeftovers(path), 5);
  Entries names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Entries{"Kestro.m3u", "Kestro.m3u.backup"}));
}

}  // namespace
