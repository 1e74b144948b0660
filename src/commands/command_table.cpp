// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands/command_table.h"

#include <algorithm>

#include "engine/engine.h"
#include "engine/engine_flags.h"

// The window translates these (lupdate reads the marks); elsewhere they stand as written.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif
#define TR(text) QT_TRANSLATE_NOOP("MainDialog", text)

namespace {

using M = CommandMenu;
constexpr uint32_t kItem = ENG_ITEM_CHANGE;

// The order in which the names are listed to the learner; place orders a
// menu's items.
constexpr Command kCommands[] = {
    {kCmdPlay, "play", TR("播放(&W)"), "Ctrl+W", kIdPlay, TR("播放"), M::kMain, 3, true, false,
     [](Engine& e) { e.CommandPlay(); }, kItem | ENG_RESUME_REQ},
    {kCmdPause, "pause", TR("暂停(&P)"), "Ctrl+P", kIdPause, TR("暂停"), M::kMain, 4, false, false,
     [](Engine& e) { e.CommandPause(); }, ENG_PAUSE_REQ},
    {kCmdStop, "stop", TR("停止(&T)"), "Ctrl+T", kIdStop, TR("停止"), M::kMain, 5, false, false,
     [](Engine& e) { e.CommandStop(); }, ENG_STOP_REQ},
    {kCmdPrevious, "previous", TR("上一个(&L)"), "Ctrl+L", kIdBegin, TR("上一个"), M::kMain, 1,
     false, false, [](Engine& e) { e.CommandPrevious(); }, kItem},
    {kCmdNext, "next", TR("下一个(&I)"), "Ctrl+I", kIdEnd, TR("下一个"), M::kMain, 2, false, false,
     [](Engine& e) { e.CommandNext(); }, kItem},
    {kCmdRead, "read", TR("阅读(&A)"), "Ctrl+A", kIdRead,
     TR("阅读：从这里标记一段的开头；在别的模式中回到阅读"), M::kMain, 6, true, false,
     [](Engine& e) { e.CommandRead(); }, ENG_READ_REQ},
    {kCmdRepeat, "repeat", TR("复读(&S)"), "Ctrl+S", kIdRepeat,
     TR("复读：反复播放从开头标记到这里的一段；再按一次暂停"), M::kMain, 7, false, false,
     [](Engine& e) { e.CommandRepeat(); }, ENG_REPEAT_REQ},
    {kCmdRecord, "record", TR("录音(&D)"), "Ctrl+D", kIdRecord,
     TR("录音：录下你的声音（暂停时也可以）"), M::kMain, 8, false, false,
     [](Engine& e) { e.CommandRecord(); }, ENG_RECORD_REQ},
    {kCmdPlayBack, "playback", TR("回放(&F)"), "Ctrl+F", kIdPlayBack, TR("回放：播放你的录音"),
     M::kMain, 9, false, false, [](Engine& e) { e.CommandPlayBack(); }, ENG_PLAYBACK_REQ},
    {kCmdCompare, "compare", TR("对比(&G)"), "Ctrl+G", kIdCompare,
     TR("对比：轮流播放你的录音和原文"), M::kMain, 10, false, false,
     [](Engine& e) { e.CommandCompare(); }, ENG_COMPARE_REQ},
    // The button's tip tells the mode it is in.
    {kCmdAutoManual, "auto", TR("自动/手动(&M)"), "Ctrl+M", kIdManual, nullptr, M::kMain, 11, false,
     false, [](Engine& e) { e.CommandAutoManual(); }, 0},
    {kCmdPreviousSentence, "previous-sentence", TR("上一句"), "Ctrl+Left", 0, nullptr,
     M::kSentences, 0, false, false, [](Engine& e) { e.CommandSentence(-1); }, ENG_SENTENCE_REQ},
    {kCmdNextSentence, "next-sentence", TR("下一句"), "Ctrl+Right", 0, nullptr, M::kSentences, 1,
     false, false, [](Engine& e) { e.CommandSentence(1); }, ENG_SENTENCE_REQ},
    {kCmdRepeatSentence, "repeat-sentence", TR("重复本句"), "Ctrl+R", 0, nullptr, M::kSentences, 2,
     false, false, [](Engine& e) { e.CommandSentence(0); }, ENG_SENTENCE_REQ},
    {kCmdHideText, "hide-text", TR("隐藏文字"), "Ctrl+H", 0, nullptr, M::kSentences, 3, false, true,
     nullptr, 0},
    {kCmdNewFile, "open-files", TR("新文件(&N)"), "Ctrl+N", kIdOpen, TR("打开文件…"), M::kMain, 0,
     false, false, nullptr, 0},
    {kCmdSettings, "repeat-settings", TR("复读设置"), nullptr, 0, nullptr, M::kAdvanced, 0, false,
     false, nullptr, 0},
    {kCmdKeepPitch, "keep-pitch", TR("保持音调(&K)"), nullptr, 0, nullptr, M::kAdvanced, 1, false,
     true, [](Engine& e) { e.SetKeepPitch(!e.KeepPitch()); }, ENG_SPEED_REQ},
    {kCmdTranscriptSplit, "transcript-split", TR("按字幕分句"), nullptr, 0, nullptr, M::kAdvanced,
     2, false, true, [](Engine& e) { e.SetTranscriptSplit(!e.TranscriptSplit()); }, 0},
    {kCmdAdaptiveSplit, "adaptive-split", TR("自适应分句"), nullptr, 0, nullptr, M::kAdvanced, 3,
     false, true,
     [](Engine& e) {
       const EngineStatus s = e.Status();
       e.SetAdaptiveSplit(!s.adaptiveSplit, s.minPauseMs, s.maxSentenceMs);
     },
     0},
    {kCmdResume, "resume", TR("从上次停止处继续"), nullptr, 0, nullptr, M::kAdvanced, 4, true, true,
     nullptr, 0},
    {kCmdRememberSettings, "remember-settings", TR("记住设置"), nullptr, 0, nullptr, M::kAdvanced,
     5, false, true, nullptr, 0},
    {kCmdScaleAuto, "scale-auto", TR("随屏幕"), nullptr, 0, nullptr, M::kScale, 0, false, true,
     nullptr, 0},
    {kCmdScale1, "scale-1", TR("1×"), nullptr, 0, nullptr, M::kScale, 1, false, true, nullptr, 0},
    {kCmdScale2, "scale-2", TR("2×"), nullptr, 0, nullptr, M::kScale, 2, false, true, nullptr, 0},
    {kCmdScale3, "scale-3", TR("3×"), nullptr, 0, nullptr, M::kScale, 3, false, true, nullptr, 0},
    {kCmdExportSentences, "export-sentences", TR("导出句子…"), nullptr, 0, nullptr, M::kSentences,
     4, true, false, nullptr, 0},
    {kCmdAdd, "add-files", TR("添加"), nullptr, kIdAdd, TR("向列表添加文件"), M::kPlaylist, 0,
     false, false, nullptr, 0},
    {kCmdDelete, "delete", TR("删除"), nullptr, kIdDelete, TR("从列表删除选中的一项"), M::kPlaylist,
     1, false, false, nullptr, 0},
    {kCmdDeleteAll, "delete-all", TR("全部删除"), nullptr, kIdDeleteAll, TR("清空列表"),
     M::kPlaylist, 2, false, false, nullptr, 0},
    {kCmdSaveList, "save-list", TR("保存列表"), nullptr, 0, nullptr, M::kPlaylist, 3, false, false,
     nullptr, 0},
    {kCmdAbout, "about", TR("关于 Kestro(&A)..."), nullptr, 0, nullptr, M::kTitle, 0, false, false,
     nullptr, 0},
    {kCmdMinimise, "minimise", TR("最小化"), nullptr, kIdMinimise, TR("最小化"), M::kTitle, 1,
     false, false, nullptr, 0},
    {kCmdExit, "exit", TR("退出"), nullptr, kIdClose, TR("退出"), M::kTitle, 2, false, false,
     nullptr, 0},
};

constexpr CommandSubmenu kSubmenus[] = {
    {M::kAdvanced, M::kMain, TR("高级设置"), true},
    {M::kScale, M::kAdvanced, TR("窗口大小"), false},
    {M::kSentences, M::kMain, TR("逐句"), false},
};

}  // namespace

std::span<const Command> Commands() {
  return kCommands;
}

std::span<const CommandSubmenu> CommandSubmenus() {
  return kSubmenus;
}

const Command* CommandWithId(int id) {
  const auto* c = std::find_if(std::begin(kCommands), std::end(kCommands),
                               [id](const Command& command) { return command.id == id; });
  return c == std::end(kCommands) ? nullptr : c;
}

const Command* CommandNamed(std::string_view name) {
  const auto* c = std::find_if(std::begin(kCommands), std::end(kCommands),
                               [name](const Command& command) { return command.name == name; });
  return c == std::end(kCommands) ? nullptr : c;
}
