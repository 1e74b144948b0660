#pragma once

#include <cstdint>
#include <thread>

class Engine;

// Reads the open item's codec ahead in 5000-byte blocks, measures how quiet each
// block is, and hands the blocks to the engine thread through the BlockRing.
// Steered by the engine's decodeControl word.
class DecodeThread {
 public:
  explicit DecodeThread(Engine& engine) : engine(engine) {}
  ~DecodeThread() { Join(); }
  DecodeThread(const DecodeThread&) = delete;
  DecodeThread& operator=(const DecodeThread&) = delete;

  void Start();
  // Waits for the thread to end (it ends on DEC_QUIT).
  void Join();
  bool Running() const { return thread.joinable(); }

 private:
  void Run();

  Engine& engine;
  std::thread thread;
  bool blockHeld = false;
  float silenceRatio = 0;
};
