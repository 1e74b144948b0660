// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a step of the engine thread's pass tells the pass: go on to the next
// step, start the pass again (at the item change), or end it and sleep until
// the next finished buffer.
enum class StepOutcome { kGoOn, kRestart, kAwaitBuffer };
