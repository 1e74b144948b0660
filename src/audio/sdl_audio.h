// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <SDL2/SDL.h>

#include <string>

#include "codec/codec_server.h"

// Starts SDL's audio subsystem once per process; false with error set when no
// audio driver can start (no sound server, an unknown SDL_AUDIODRIVER, ...).
bool InitSdlAudio(std::string* error);

// The SDL sample format for a PCM format, or 0 when SDL cannot play it.
SDL_AudioFormat SdlFormatOf(const WaveFormatEx& format);

// Opens an SDL device for format without any conversion on our side (SDL
// converts to what the hardware takes). Returns 0 with error set on failure.
SDL_AudioDeviceID OpenSdlDevice(const WaveFormatEx& format, bool capture, std::string* error);
