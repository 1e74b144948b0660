#pragma once

#include <functional>

// Polls condition every 2 ms until it holds or ms have passed; its last value.
bool WaitFor(const std::function<bool()>& condition, int ms = 5000);
