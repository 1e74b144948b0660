#include "wait_for.h"

#include <chrono>
#include <thread>

bool WaitFor(const std::function<bool()>& condition, int ms) {
  for (int i = 0; i < ms / 2; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}
