// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/waveform_panel.h"

#include "skin/skin_drawing.h"

#include <pthread.h>

#include <QMetaObject>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstring>

WaveformPanel::WaveformPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::black);
  setPalette(p);
  setAutoFillBackground(true);
}

WaveformPanel::~WaveformPanel() {
  StopDrawThread();
}

void WaveformPanel::CreateOverControl(const QRect& rect) {
  setGeometry(rect);
  show();
  StartDrawThread();
}

void WaveformPanel::SetSampleFormat(uint32_t rate, uint16_t bits, uint16_t count) {
  samplesPerSecond = rate;
  bitsPerSample = bits;
  channels = count;
}

bool WaveformPanel::ShowBuffer(const uint8_t* data, uint32_t bytes) {
  {
    std::lock_guard<std::mutex> lock(bufferMutex);
    bufferBytes = std::min<uint32_t>(bytes, sizeof(buffer));
    if (data != nullptr) std::memcpy(buffer, data, bufferBytes);
    sampleIndex = 0;
    haveBuffer = data != nullptr;
  }
  // The whole word, but a stop already asked for stays asked for.
  uint32_t old = panelState.load();
  while (!panelState.compare_exchange_weak(old, kPanelDraw | (old & kPanelStop))) {
  }
  Wake();
  return true;
}

void WaveformPanel::StartDrawThread() {
  if (thread.joinable()) return;
  panelState = kPanelRun;
  thread = std::thread([this] {
    pthread_setname_np(pthread_self(), "waveform");
    DrawLoop();
  });
}

void WaveformPanel::StopDrawThread() {
  if (!thread.joinable()) return;
  panelState.fetch_or(kPanelStop);
  Wake();
  thread.join();
}

void WaveformPanel::Wake() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex);
    ++wakes;
  }
  woken.notify_all();
}

QImage WaveformPanel::Frame() const {
  std::lock_guard<std::mutex> lock(frameMutex);
  return frame;
}

bool WaveformPanel::DrawFrame(QImage& image) {
  image.fill(Qt::black);
  const int w = image.width();
  const int half = image.height() / 2;
  const uint32_t step = bitsPerSample.load() == 16 ? 2 : 1;
  std::lock_guard<std::mutex> lock(bufferMutex);
  if (!haveBuffer) return false;
  const uint32_t count = bufferBytes / step;
  bool drew = false;
  for (int x = 0; x < w && sampleIndex < count; ++x) {
    int y;
    if (step == 2) {
      int16_t v;
      std::memcpy(&v, buffer + sampleIndex * 2, 2);
      y = v * half / 32767;
    } else {
      y = (static_cast<int>(buffer[sampleIndex]) - 128) * half / 128;
    }
    const int row = half - y;
    if (row >= 0 && row < image.height()) image.setPixel(x, row, qRgb(255, 255, 255));
    sampleIndex += step;
    drew = true;
  }
  return drew;
}

void WaveformPanel::DrawLoop() {
  using std::chrono::milliseconds;
  QImage image(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
  image.fill(Qt::black);
  uint64_t seen = 0;
  for (;;) {
    const uint32_t state = panelState.load();
    if (state & kPanelStop) break;
    bool samplesLeft = false;
    if (state & kPanelDraw) {
      {
        std::lock_guard<std::mutex> lock(bufferMutex);
        samplesLeft =
            haveBuffer && sampleIndex < bufferBytes / (bitsPerSample.load() == 16 ? 2 : 1);
      }
      if (samplesLeft) {
        DrawFrame(image);
        {
          // The finished frame changes hands; the old one is drawn over next.
          std::lock_guard<std::mutex> lock(frameMutex);
          std::swap(frame, image);
          if (image.isNull()) image = QImage(frame.size(), QImage::Format_RGB32);
        }
        QMetaObject::invokeMethod(
            this, [this] { update(); }, Qt::QueuedConnection);
        std::this_thread::sleep_for(milliseconds(kFrameDelay + 10));
      }
    }
    if (!samplesLeft) {
      // The buffer's samples are used up (or none came yet): the last picture
      // stands, and the thread sleeps, until the next buffer or the stop.
      std::unique_lock<std::mutex> lock(wakeMutex);
      woken.wait(lock, [&] { return wakes != seen; });
      seen = wakes;
    }
  }
  panelState = 0;
}

void WaveformPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QImage shown = Frame();
  if (shown.isNull()) {
    painter.fillRect(rect(), Qt::black);
  } else {
    painter.drawImage(0, 0, shown);
  }
  if (turn) {
    // The sound has stopped for the learner to speak: a band and a word, in
    // the caption's green, so the panel is never just empty.
    const QRect band = rect().adjusted(0, height() / 3, 0, -height() / 3);
    painter.fillRect(band, QColor(0, 200, 0, 60));
    QFont font = SkinFont();
    font.setPixelSize(std::max(12, band.height() / 2));
    painter.setFont(font);
    painter.setPen(QColor(0, 230, 0));
    painter.drawText(band, Qt::AlignCenter, tr("跟读"));
  }
  if (!caption.isEmpty()) {
    QFont font = SkinFont();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(QColor(0, 200, 0));  // the running caption's green
    // At the top: the bottom of the panel is the sentence's line.
    painter.drawText(rect().adjusted(3, 1, -3, 0), Qt::AlignLeft | Qt::AlignTop, caption);
  }
}

void WaveformPanel::SetTurn(bool on) {
  if (on == turn) return;
  turn = on;
  update();
}

void WaveformPanel::SetCaption(const QString& text) {
  if (text == caption) return;
  caption = text;
  update();
}
