// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// The black panel that shows the sound as it passes: the samples of the buffer
// now playing (or just recorded) as white dots, one sample per pixel column,
// around the middle line. A thread of its own renders each frame off screen
// and hands it to the widget, which only paints the finished frame.
class WaveformPanel : public QWidget {
 public:
  Q_DECLARE_TR_FUNCTIONS(WaveformPanel)

 public:
  // panelState.
  static constexpr uint32_t kPanelRun = 0x1;
  static constexpr uint32_t kPanelDraw = 0x4;
  static constexpr uint32_t kPanelStop = 0x8;
  static constexpr int kFrameDelay = 20;  // the pause after a frame is this + 10 ms

  explicit WaveformPanel(QWidget* parent = nullptr);
  ~WaveformPanel() override;

  // Takes the size of the place of control id in parent, and starts drawing.
  void CreateOverControl(const QRect& rect);
  void SetSampleFormat(uint32_t samplesPerSecond, uint16_t bitsPerSample, uint16_t channels);
  // From the sound-device callbacks: the buffer to draw from its first sample.
  // The panel keeps its own copy, so the device may reuse the buffer at once.
  bool ShowBuffer(const uint8_t* data, uint32_t bytes);
  void StartDrawThread();
  // Asks the drawing thread to end and waits until it has.
  void StopDrawThread();

  uint32_t PanelState() const { return panelState.load(); }
  // The last frame handed to the widget (for tests and screenshots).
  QImage Frame() const;
  // The line under the waveform that tells the learner where they are
  // (user-interface thread; repainted only when it changes).
  void SetCaption(const QString& text);
  // The learner's turn (the gap after a play): marked over the waveform.
  void SetTurn(bool on);
  bool Turn() const { return turn; }
  const QString& Caption() const { return caption; }
  // Draws one frame of the current buffer into image (w x h) and advances the
  // sample index; false when the buffer's samples are used up.
  bool DrawFrame(QImage& image);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void DrawLoop();

  std::atomic<uint32_t> panelState{0};
  std::atomic<uint32_t> samplesPerSecond{0};
  std::atomic<uint16_t> bitsPerSample{0};
  std::atomic<uint16_t> channels{0};

  mutable std::mutex bufferMutex;  // guards the copy and sampleIndex
  uint8_t buffer[5000] = {};
  uint32_t bufferBytes = 0;
  uint32_t sampleIndex = 0;
  bool haveBuffer = false;

  mutable std::mutex frameMutex;  // guards frame
  // ShowBuffer and the stop wake the drawing thread.
  void Wake();
  std::mutex wakeMutex;
  std::condition_variable woken;
  uint64_t wakes = 0;  // guarded by wakeMutex
  QImage frame;
  std::thread thread;
  QString caption;
  bool turn = false;
};
