// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/codec_registry.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

std::string FakePlugin(const std::string& name) {
  return std::string(KESTRO_FAKE_PLUGIN_DIR) + "/" + name + ".so";
}

// An Arch folder holding copies of the named fake plug-ins, under new file names
// so that their scan order is the order given.
class ArchFolder {
 public:
  ArchFolder() { ::mkdir(dir.File("Arch").c_str(), 0755); }
  void Add(const std::string& as, const std::string& plugin) {
    CopyFile(FakePlugin(plugin), dir.File("Arch/" + as + ".so"));
  }
  std::string Pattern() const { return dir.File("Arch/*.so"); }
  std::string Path(const std::string& as) const { return dir.File("Arch/" + as + ".so"); }
  TempDir dir;
};

TEST(CodecRegistry, EmptyRegistry) {
  CodecRegistry registry;
  EXPECT_EQ(registry.Capacity(), 10u);
  EXPECT_EQ(registry.GetAllExtensions(), "");
  EXPECT_EQ(registry.FindModule("qv"), nullptr);
  EXPECT_EQ(registry.FindCodec("qv"), nullptr);
  EXPECT_EQ(BuildOpenFilter(registry), "m3u文件(*.m3u)|*.m3u||");
  registry.ScanPlugins("/nonexistent-kestro-dir/*.so");
  EXPECT_EQ(registry.GetAllExtensions(), "");
}

TEST(CodecRegistry, ScanSkipsWhatOffersNoCodec) {
  ArchFolder arch;
  arch.Add("1", "fake_aa");
  arch.Add("2", "fake_no_export");
  arch.Add("3", "fake_null");
  ::mkdir(arch.dir.File("Arch/4.so").c_str(), 0755);  // a directory named like a plug-in
  WriteFileBytes(arch.dir.File("Arch/5.so"), "this is text, not a library\n");
  arch.Add("6", "fake_ab");

  CodecRegistry registry;
  registry.ScanPlugins(arch.Pattern().c_str());
  EXPECT_EQ(registry.GetAllExtensions(), ".aa.ab");
  EXPECT_EQ(registry.GetExtensionAt(2), "");
  EXPECT_EQ(BuildOpenFilter(registry),
            "aa文件(*.aa)|*.aa|ab文件(*.ab)|*.ab|m3u文件(*.m3u)|*.m3u|所有文件(*.*)|*.*||");
  // Rejected libraries are not kept loaded.
  EXPECT_EQ(::dlopen(arch.Path("3").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(CodecRegistry, ElevenPluginsGrowTheTableInOrder) {
  ArchFolder arch;
  const char* exts[] = {"aa", "ab", "ac", "ad", "ae", "af", "ag", "ah", "ai", "aj", "ak"};
  for (int i = 0; i < 11; ++i)
    arch.Add("p" + std::to_string(10 + i), std::string("fake_") + exts[i]);
  CodecRegistry registry;
  registry.ScanPlugins(arch.Pattern().c_str());
  EXPECT_EQ(registry.Capacity(), 20u);
  EXPECT_EQ(registry.GetExtensionAt(10), ".ak");
  EXPECT_EQ(registry.GetExtensionAt(11), "");
  EXPECT_EQ(registry.GetExtensionAt(99), "");
  EXPECT_EQ(registry.GetAllExtensions(), ".aa.ab.ac.ad.ae.af.ag.ah.ai.aj.ak");
  ASSERT_NE(registry.FindCodec("ak"), nullptr);
  EXPECT_STREQ(registry.FindCodec("ak")->GetExtension(), ".ak");
}

TEST(CodecRegistry, LookupByWholeExtensionFirstRegisteredWins) {
  ArchFolder arch;
  arch.Add("a", "fake_same");
  arch.Add("b", "fake_same");
  arch.Add("c", "fake_upper");
  CodecRegistry registry;
  registry.ScanPlugins(arch.Pattern().c_str());
  ASSERT_EQ(registry.GetAllExtensions(), ".same.same.UP");

  void* first = ::dlopen(arch.Path("a").c_str(), RTLD_NOW | RTLD_NOLOAD);
  void* second = ::dlopen(arch.Path("b").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(registry.FindModule("same"), first);
  EXPECT_EQ(registry.FindModule("SaMe"), first);
  EXPECT_EQ(registry.FindModule("up"), registry.FindModule("UP"));
  EXPECT_NE(registry.FindModule("up"), nullptr);
  // Only the whole extension: a piece of it, a longer one or none finds nothing.
  for (const char* other : {"sa", "e", "ame", "samee", "same ", "", ".", "wav"})
    EXPECT_EQ(registry.FindModule(other), nullptr) << '"' << other << '"';
  CodecServer* codec = registry.FindCodec("same");
  ASSERT_NE(codec, nullptr);
  EXPECT_EQ(codec, registry.FindCodec("same"));  // always the same object
  ::dlclose(first);
  ::dlclose(second);
}

TEST(CodecRegistry, AddEntryRefusesEmptyParts) {
  CodecRegistry registry;
  int dummy;
  EXPECT_EQ(registry.AddEntry(nullptr, ".qv"), 0);
  EXPECT_EQ(registry.AddEntry(&dummy, ""), 0);
  EXPECT_EQ(registry.GetAllExtensions(), "");
}

TEST(CodecRegistry, UnloadsLibrariesWhenDestroyed) {
  ArchFolder arch;
  arch.Add("x", "fake_aa");
  {
    CodecRegistry registry;
    registry.ScanPlugins(arch.Pattern().c_str());
    ASSERT_NE(registry.FindModule("aa"), nullptr);
    EXPECT_NE(::dlopen(arch.Path("x").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    ::dlclose(registry.FindModule("aa"));  // drop the reference the check took
  }
  EXPECT_EQ(::dlopen(arch.Path("x").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(CodecRegistry, ExtensionOfPath) {
  std::string ext;
  ASSERT_TRUE(ExtensionOfPath("/home/a/Lesson.QV", &ext));
  EXPECT_EQ(ext, "qv");
  ASSERT_TRUE(ExtensionOfPath("x.wav ", &ext));
  EXPECT_EQ(ext, "wav ");  // a trailing space is part of the name
  ASSERT_TRUE(ExtensionOfPath("x.", &ext));
  EXPECT_EQ(ext, "");
  ASSERT_TRUE(ExtensionOfPath("x.mp3", &ext));
  EXPECT_EQ(ext, "mp3");
  ASSERT_TRUE(ExtensionOfPath("song.q", &ext));
  EXPECT_EQ(ext, "q");
  EXPECT_FALSE(ExtensionOfPath(".qv", &ext));  // a dot in the first place alone does not count
  EXPECT_FALSE(ExtensionOfPath("noext", &ext));
  ASSERT_TRUE(ExtensionOfPath("/dir.d/noext", &ext));
  EXPECT_EQ(ext, "d/noext");  // matches no codec
}

TEST(CodecRegistry, QvPluginAloneGivesItsFilter) {
  ArchFolder arch;
  CopyFile(KESTRO_QV_PLUGIN, arch.dir.File("Arch/qv.so"));
  CodecRegistry registry;
  registry.ScanPlugins(arch.Pattern().c_str());
  EXPECT_EQ(registry.GetAllExtensions(), ".qv");
  EXPECT_EQ(BuildOpenFilter(registry),
            "qv文件(*.qv)|*.qv|m3u文件(*.m3u)|*.m3u|所有文件(*.*)|*.*||");
  std::string ext;
  ASSERT_TRUE(ExtensionOfPath("Lesson.QV", &ext));
  ASSERT_NE(registry.FindCodec(ext), nullptr);
  EXPECT_STREQ(registry.FindCodec(ext)->GetExtension(), ".qv");
  EXPECT_EQ(registry.FindCodec("q"), nullptr);
}

}  // namespace

namespace {

TEST(CodecRegistry, ProgramFolderOffersEveryFormat) {
  CodecRegistry registry;
  registry.ScanPlugins((std::string(KESTRO_STAGE_PLUGIN_DIR) + "/*.so").c_str());
  const std::vector<std::string> formats = {"3gp", "aac",  "amr", "flac", "m4a",  "m4b",
                                            "m4v", "mka",  "mkv", "mov",  "mp3",  "mp4",
                                            "ogg", "opus", "qv",  "wav",  "webm", "wma"};
  std::string all, filter;
  for (const std::string& ext : formats) {
    all += "." + ext;
    filter += ext + "文件(*." + ext + ")|*." + ext + "|";
  }
  EXPECT_EQ(registry.GetAllExtensions(), all);
  EXPECT_EQ(BuildOpenFilter(registry), filter + "m3u文件(*.m3u)|*.m3u|所有文件(*.*)|*.*||");
  for (const std::string& ext : formats) {
    CodecServer* codec = registry.FindCodec(ext);
    ASSERT_NE(codec, nullptr) << ext;
    EXPECT_EQ(std::string(codec->GetExtension()), "." + ext);
  }
}

}  // namespace
