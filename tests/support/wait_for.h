// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// Polls condition every 2 ms until it holds or ms of wall-clock time have
// passed; its last value. The limit only ends a test that would otherwise hang:
// it is far beyond what a loaded machine under a sanitizer needs.
bool WaitFor(const std::function<bool()>& condition, int ms = 60000);
