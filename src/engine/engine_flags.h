// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// engineFlags: modes, requests and mode-end markers.
constexpr uint32_t ENG_READ_REQ = 0x1;
constexpr uint32_t ENG_PAUSE_REQ = 0x2;
constexpr uint32_t ENG_RESUME_REQ = 0x4;
constexpr uint32_t ENG_PLAYBACK_REQ = 0x8;
constexpr uint32_t ENG_REPEAT_REQ = 0x10;
constexpr uint32_t ENG_RECORD_REQ = 0x20;
constexpr uint32_t ENG_SENTENCE_REQ = 0x40;  // go to a sentence (or mark) of the item
constexpr uint32_t ENG_COMPARE_REQ = 0x80;
constexpr uint32_t ENG_COMPARING = 0x100;
constexpr uint32_t ENG_COMPARE_END = 0x200;
constexpr uint32_t ENG_PLAYING = 0x400;
constexpr uint32_t ENG_REPEATING = 0x800;
constexpr uint32_t ENG_REPEAT_END = 0x1000;
constexpr uint32_t ENG_EXITED = 0x2000;
constexpr uint32_t ENG_RECORDING = 0x4000;
constexpr uint32_t ENG_RECORD_END = 0x8000;
constexpr uint32_t ENG_PLAYING_BACK = 0x10000;
constexpr uint32_t ENG_PLAYBACK_END = 0x20000;
constexpr uint32_t ENG_SEEK_REQ = 0x40000;
constexpr uint32_t ENG_VOLUME_REQ = 0x80000;
constexpr uint32_t ENG_SPEED_REQ = 0x100000;
constexpr uint32_t ENG_STOP_REQ = 0x200000;
constexpr uint32_t ENG_ITEM_CHANGE = 0x40000000;
constexpr uint32_t ENG_QUIT = 0x80000000;

// The bits other threads post: requests from commands and device callbacks.
constexpr uint32_t kPostedBits = ENG_READ_REQ | ENG_PAUSE_REQ | ENG_RESUME_REQ | ENG_PLAYBACK_REQ |
                                 ENG_REPEAT_REQ | ENG_RECORD_REQ | ENG_SENTENCE_REQ |
                                 ENG_COMPARE_REQ | ENG_SEEK_REQ | ENG_VOLUME_REQ | ENG_SPEED_REQ |
                                 ENG_STOP_REQ | ENG_ITEM_CHANGE;

// The modes whose buffers move the progress display.
constexpr uint32_t ENG_SOUNDING_MODES =
    ENG_COMPARING | ENG_PLAYING | ENG_REPEATING | ENG_PLAYING_BACK;
