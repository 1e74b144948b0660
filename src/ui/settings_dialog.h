// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cstdint>
#include <functional>

#include "commands/setting_range.h"
#include "engine/engine.h"

class QCheckBox;
class QRadioButton;
class QToolButton;

// The automatic repeat settings: how often a found sentence plays, the level
// that counts as silence, how long a silence ends a sentence, and the share of
// samples measured. Each value has an edit with up/down arrows beside it.
// Below them, how sentences are found: from a transcript when there is one,
// otherwise at pauses (the four settings) or by the adaptive split. Last, the
// learner's turn after each play (shadowing) and the stop after each sentence
// (dictation).
class SettingsDialog : public QDialog {
 public:
  Q_DECLARE_TR_FUNCTIONS(SettingsDialog)

 public:
  using MessageBox = std::function<void(const QString& text)>;
  struct Split {
    bool transcript = true;
    bool adaptive = false;
    float minPauseSeconds = 0.3f;
    float maxSentenceSeconds = 15.0f;
  };

  explicit SettingsDialog(QWidget* parent = nullptr);

  void SetValues(uint32_t count, uint32_t vertical, uint32_t percent, float seconds);
  void GetValues(uint32_t* count, uint32_t* vertical, uint32_t* percent, float* seconds) const;
  void SetSplit(const Split& split);
  Split GetSplit() const { return split; }
  void SetGaps(const GapSettings& gaps);
  GapSettings GetGaps() const { return gaps; }
  // Tests see the messages instead of a box that would wait.
  void SetMessageBox(MessageBox box) { messageBox = std::move(box); }

  // The edits in the order 次数, 纵向精度, 横向精度(s), 采样数(%).
  QLineEdit* Edit(int i) const { return edits[i]; }
  // One step of a spin: +1 or -1, as a click on its up or down arrow.
  void Step(int i, int delta);
  QCheckBox* TranscriptCheck() const { return transcriptCheck; }
  QRadioButton* PauseButton() const { return pauseButton; }
  QRadioButton* AdaptiveButton() const { return adaptiveButton; }
  // The adaptive split's edits: 最短停顿(s), 最长句子(s).
  QLineEdit* SplitEdit(int i) const { return splitEdits[i]; }
  // 不留间隔, 固定间隔(s), 句长倍数: the gap's kinds in GapSettings' order.
  QRadioButton* GapButton(int kind) const { return gapButtons[kind]; }
  // The gap's edits: seconds, factor.
  QLineEdit* GapEdit(int i) const { return gapEdits[i]; }
  QCheckBox* StopAfterCheck() const { return stopAfterCheck; }
  QCheckBox* RecordCheck() const { return recordCheck; }
  QPushButton* OkButton() const { return ok; }
  QPushButton* CancelButton() const { return cancel; }
  QPushButton* HelpButton() const { return help; }

  // The clamping of the values handed in, then the edits written.
  void SyncSpins();

 protected:
  void showEvent(QShowEvent* event) override;
  void accept() override;

 private:
  void WriteEdits();
  // Reads a seconds edit; false (told, focused) when not a number in range.
  bool ReadSeconds(QLineEdit* edit, const SettingRange& range, float* value);
  void Message(const QString& text);
  void ShowHelp();

  uint32_t samplePercent = 5;
  uint32_t repeatCount = 3;
  uint32_t verticalPrecision = 2;
  float horizontalSeconds = 2.0f;
  std::array<int, 4> spinPositions{};
  std::array<QLineEdit*, 4> edits{};
  Split split;
  QCheckBox* transcriptCheck = nullptr;
  QRadioButton* pauseButton = nullptr;
  QRadioButton* adaptiveButton = nullptr;
  std::array<QLineEdit*, 2> splitEdits{};
  GapSettings gaps;
  std::array<QRadioButton*, 3> gapButtons{};
  std::array<QLineEdit*, 2> gapEdits{};
  QCheckBox* stopAfterCheck = nullptr;
  QCheckBox* recordCheck = nullptr;
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  QPushButton* help = nullptr;
  MessageBox messageBox;
};
