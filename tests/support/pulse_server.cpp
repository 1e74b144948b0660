// SPDX-License-Identifier: GPL-3.0-or-later
#include "pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "wait_for.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outPath,
                         const std::string& errPath) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid = fork();
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) dup2(out, STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid > 0;
}

void ChildProcess::End(int signal) {
  if (pid <= 0) return;
  kill(pid, signal);
  int status = 0;
  waitpid(pid, &status, 0);
  pid = -1;
}

PulseServer::~PulseServer() {
  StopFeeding();
  capture.End(SIGTERM);
  server.End(SIGTERM);
  sessionManager.End(SIGTERM);
  pipewire.End(SIGTERM);
  bus.End(SIGTERM);
}

bool PulseServer::Start(std::string* why) {
  const std::string socket = dir + "/pulse/native";
  setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
  setenv("PULSE_SINK", "out", 1);
  setenv("PULSE_SOURCE", "in", 1);
  // The server's own folder: its socket, and no cookie or state of the user's.
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  unlink((dir + "/in.fifo").c_str());  // left by a server that was killed
  if (kind == Kind::kPulseAudio) return StartPulseAudio(why);
  if (!pipewire.Running() && !StartPipeWire(why)) return false;
  if (!server.Start({"pipewire-pulse"}, "/dev/null", dir + "/server.log")) {
    *why = "pipewire-pulse cannot be started";
    return false;
  }
  if (!Answers(why)) return false;
  const std::string load = "pactl load-module module-pipe-source source_name=in file=" + dir +
                           "/in.fifo format=s16le rate=44100 channels=2 > /dev/null 2>&1";
  if (std::system(load.c_str()) != 0) {
    *why = "PipeWire's pulse server took no pipe source";
    return false;
  }
  return Answers(why);
}

bool PulseServer::StartPipeWire(std::string* why) {
  // A null sink of PipeWire's own, in a configuration folder of the test's.
  const std::string config = dir + "/config";
  std::filesystem::create_directories(config + "/pipewire/pipewire.conf.d");
  WriteText(config + "/pipewire/pipewire.conf.d/out.conf",
            "context.objects = [ { factory = adapter args = { factory.name = "
            "support.null-audio-sink node.name = \"out\" media.class = \"Audio/Sink\" "
            "audio.position = [ FL FR ] audio.rate = 44100 } } ]\n");
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("PIPEWIRE_RUNTIME_DIR", dir.c_str(), 1);
  const std::string address = "unix:path=" + dir + "/bus";
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  const std::string log = dir + "/pipewire.log";
  if (!bus.Start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address},
                 "/dev/null", log) ||
      !WaitFor([&] { return access((dir + "/bus").c_str(), F_OK) == 0; }, 10000) ||
      !pipewire.Start({"pipewire"}, "/dev/null", log) ||
      !WaitFor([&] { return access((dir + "/pipewire-0").c_str(), F_OK) == 0; }, 10000) ||
      !sessionManager.Start({"wireplumber"}, "/dev/null", log)) {
    *why = "PipeWire cannot be started (see " + log + ")";
    return false;
  }
  return true;
}

bool PulseServer::Answers(std::string* why) {
  // The sink is there once the session manager has set it up.
  const std::string ask = "pactl list short sinks 2>/dev/null | grep -q out";
  if (!WaitFor([&] { return std::system(ask.c_str()) == 0; }, 10000)) {
    *why = "the private sound server did not answer (see " + dir + "/server.log)";
    server.End(SIGKILL);
    return false;
  }
  return true;
}

bool PulseServer::StartPulseAudio(std::string* why) {
  const std::string fifo = dir + "/in.fifo";
  const bool started = server.Start(
      {"pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
       "--disallow-module-loading", "-L", "module-null-sink sink_name=out rate=44100 channels=2",
       "-L",
       "module-pipe-source source_name=in file=" + fifo + " format=s16le rate=44100 channels=2",
       // Last: once it answers, the sink and the source are there.
       "-L", "module-native-protocol-unix auth-anonymous=1"},
      "/dev/null", dir + "/server.log");
  if (!started) {
    *why = "pulseaudio cannot be started";
    return false;
  }
  return Answers(why);
}

void PulseServer::Kill() {
  StopFeeding();
  capture.End(SIGTERM);
  server.End(SIGKILL);
}

void PulseServer::Freeze() {
  server.Signal(SIGSTOP);
}

void PulseServer::Feed(const std::string& pcm, int afterMs) {
  StopFeeding();
  feeding = true;
  feeder = std::thread([this, pcm, afterMs] {
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs);
    while (feeding && std::chrono::steady_clock::now() < start)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int fd = open((dir + "/in.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) return;
    // 10 ms at a time, at the pace of the sound, then silence while asked.
    constexpr size_t kChunk = 1764;
    const std::string silence(kChunk, '\0');
    auto next = std::chrono::steady_clock::now();
    for (size_t at = 0; feeding; at += kChunk) {
      const std::string chunk = at < pcm.size() ? pcm.substr(at, kChunk) : silence;
      size_t done = 0;
      while (feeding && done < chunk.size()) {
        const ssize_t n = write(fd, chunk.data() + done, chunk.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
    close(fd);
  });
}

void PulseServer::StopFeeding() {
  feeding = false;
  if (feeder.joinable()) feeder.join();
}

bool PulseServer::CaptureTo(const std::string& path) {
  unlink(path.c_str());  // an earlier capture's bytes must not pass for this one's
  if (!capture.Start({"parec", "--latency-msec=20", "-d", "out.monitor", "--format=s16le",
                      "--rate=44100", "--channels=2", "--raw"},
                     path, dir + "/capture.log")) {
    return false;
  }
  // A new server's monitor takes a moment to deliver; from then on it gives
  // the sink's silence at least.
  return WaitFor(
      [&] {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 && info.st_size > 0;
      },
      10000);
}

bool PulseServer::SomethingPlays() const {
  FILE* p = popen("pactl list short sink-inputs 2>/dev/null", "r");
  if (p == nullptr) return false;
  char line[256];
  const bool any = fgets(line, sizeof(line), p) != nullptr;
  pclose(p);
  return any;
}
