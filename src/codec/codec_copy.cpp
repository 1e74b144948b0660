// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/codec_copy.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool CopyAll(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno != EINTR) return false;
      if (put > 0) done += put;
    }
  }
}

}  // namespace

CodecCopy::~CodecCopy() {
  if (handle != nullptr) ::dlclose(handle);
}

bool CodecCopy::Load(void* module, std::string* problem) {
  link_map* map = nullptr;
  if (module == nullptr || ::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
      map->l_name == nullptr || map->l_name[0] == '\0') {
    *problem = "the plug-in's library cannot be found";
    return false;
  }
  const std::string original = map->l_name;
  const int in = ::open(original.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *problem = original + ": " + std::strerror(errno);
    return false;
  }
  // In memory where the system allows it, else a temporary file removed at once.
  std::string copyPath;
  std::string tempPath;
  int out = ::memfd_create("kestro-codec", MFD_CLOEXEC);
  if (out >= 0) {
    copyPath = "/proc/self/fd/" + std::to_string(out);
  } else {
    const char* dir = std::getenv("TMPDIR");
    tempPath =
        std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/kestro-codec-XXXXXX";
    out = ::mkstemp(tempPath.data());
    copyPath = tempPath;
  }
  const bool copied = out >= 0 && CopyAll(in, out);
  ::close(in);
  if (copied) handle = ::dlopen(copyPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* why = handle == nullptr ? ::dlerror() : nullptr;
  if (out >= 0) ::close(out);
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
  if (handle == nullptr) {
    *problem = copied ? std::string(why != nullptr ? why : "it would not load")
                      : "no room to copy the plug-in";
    return false;
  }
  auto getServer = reinterpret_cast<GetServerFunction>(::dlsym(handle, KESTRO_GET_SERVER_NAME));
  if (getServer != nullptr) getServer(&server);
  if (server == nullptr) {
    ::dlclose(handle);
    handle = nullptr;
    *problem = "the copy of the plug-in hands out no codec";
    return false;
  }
  return true;
}
