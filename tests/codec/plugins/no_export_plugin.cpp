// SPDX-License-Identifier: GPL-3.0-or-later
// A loadable library that offers no GetServer.
extern "C" __attribute__((visibility("default"))) int NotAServer(int x) {
  return x + 1;
}
