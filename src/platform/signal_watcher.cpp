// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/signal_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <SDL.h>

namespace {

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void SignalWatcher::Start(std::function<void(int)> onSignal) {
  if (thread.joinable()) return;
  // SDL would otherwise install handlers of its own that only queue an event
  // nobody reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const int signals = ::signalfd(-1, &set, SFD_CLOEXEC);
  int pipeFds[2];
  if (signals < 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (signals >= 0) ::close(signals);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // the default action, then
    return;
  }
  wakeFd = pipeFds[1];
  thread = std::thread([signals, quitFd = pipeFds[0], onSignal = std::move(onSignal)] {
    pthread_setname_np(pthread_self(), "signals");
    bool told = false;
    for (;;) {
      pollfd fds[2] = {{signals, POLLIN, 0}, {quitFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) break;
      signalfd_siginfo info;
      if (::read(signals, &info, sizeof(info)) != sizeof(info)) continue;
      const int signal = static_cast<int>(info.ssi_signo);
      if (told) ::_exit(ExitStatusFor(signal));  // asked twice: the learner means it
      told = true;
      onSignal(signal);
    }
    ::close(signals);
    ::close(quitFd);
  });
}

SignalWatcher::~SignalWatcher() {
  if (!thread.joinable()) return;
  const char byte = 0;
  if (::write(wakeFd, &byte, 1) == 1) {
    thread.join();
  } else {
    thread.detach();
  }
  ::close(wakeFd);
}
