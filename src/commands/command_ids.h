// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Control ids of the main window.
constexpr int kIdPlay = 1005;
constexpr int kIdRead = 1010;
constexpr int kIdRepeat = 1011;
constexpr int kIdCompare = 1012;
constexpr int kIdRecord = 1013;
constexpr int kIdPlayBack = 1021;
constexpr int kIdBegin = 1006;
constexpr int kIdEnd = 1007;
constexpr int kIdOpen = 1008;
constexpr int kIdManual = 1009;
constexpr int kIdProgress = 1014;
constexpr int kIdVolume = 1015;
constexpr int kIdSpeed = 1016;
constexpr int kIdPause = 1017;
constexpr int kIdStop = 1018;
constexpr int kIdPanelPlace = 1052;
constexpr int kIdMinimise = 1053;
constexpr int kIdClose = 1054;
constexpr int kIdExchange = 1061;
constexpr int kIdBalance = 1062;
constexpr int kIdAdd = 1063;
constexpr int kIdDelete = 1064;
constexpr int kIdDeleteAll = 1065;
constexpr int kIdPlaylist = 1067;

// Menu commands.
constexpr int kCmdNext = 32780;
constexpr int kCmdNewFile = 32781;
constexpr int kCmdExit = 32782;
constexpr int kCmdAutoManual = 32783;
constexpr int kCmdRead = 32784;
constexpr int kCmdRepeat = 32785;
constexpr int kCmdPlayBack = 32786;
constexpr int kCmdCompare = 32787;
constexpr int kCmdPause = 32788;
constexpr int kCmdPlay = 32789;
constexpr int kCmdStop = 32790;
constexpr int kCmdRecord = 32791;
constexpr int kCmdPrevious = 32792;
constexpr int kCmdAdd = 32794;
constexpr int kCmdDelete = 32795;
constexpr int kCmdDeleteAll = 32796;
constexpr int kCmdMinimise = 32797;
constexpr int kCmdSaveList = 32798;
constexpr int kCmdSettings = 32801;
// Slow down with the pitch kept (a check item).
constexpr int kCmdKeepPitch = 32802;
// Sentence by sentence, with a transcript (without one: mark by mark).
constexpr int kCmdPreviousSentence = 32803;
constexpr int kCmdNextSentence = 32804;
constexpr int kCmdRepeatSentence = 32805;
// Listening practice: the transcript's words hidden (a check item).
constexpr int kCmdHideText = 32806;
// Sentences from the transcript rather than at pauses (a check item, on).
constexpr int kCmdTranscriptSplit = 32807;
// Sentences from an analysis of the whole sound rather than at pauses (a check item).
constexpr int kCmdAdaptiveSplit = 32808;
// Each sentence of the open item as a clip, with the list for Anki.
constexpr int kCmdExportSentences = 32809;
// Where each file was left is kept, and it goes on from there (a check item, on).
constexpr int kCmdResume = 32810;
// The repeat settings are kept for the next start (a check item, off).
constexpr int kCmdRememberSettings = 32811;
// The window's size for the next start: the screen's scale, or 1x, 2x, 3x.
constexpr int kCmdScaleAuto = 32812;
constexpr int kCmdScale1 = 32813;
constexpr int kCmdScale2 = 32814;
constexpr int kCmdScale3 = 32815;
constexpr int kCmdAbout = 32778;
