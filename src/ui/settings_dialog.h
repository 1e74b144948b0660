#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cstdint>
#include <functional>

class QToolButton;

// The automatic repeat settings: how often a found sentence plays, the level
// that counts as silence, how long a silence ends a sentence, and the share of
// samples measured. Each value has an edit with up/down arrows beside it.
class SettingsDialog : public QDialog {
 public:
  using MessageBox = std::function<void(const QString& text)>;

  explicit SettingsDialog(QWidget* parent = nullptr);

  void SetValues(uint32_t count, uint32_t vertical, uint32_t percent, float seconds);
  void GetValues(uint32_t* count, uint32_t* vertical, uint32_t* percent, float* seconds) const;
  // Tests see the messages instead of a box that would wait.
  void SetMessageBox(MessageBox box) { messageBox = std::move(box); }

  // The edits in the order 次数, 纵向精度, 横向精度(s), 采样数(%).
  QLineEdit* Edit(int i) const { return edits[i]; }
  // One step of a spin: +1 or -1, as a click on its up or down arrow.
  void Step(int i, int delta);
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
  void Message(const QString& text);
  void ShowHelp();

  uint32_t samplePercent = 5;
  uint32_t repeatCount = 3;
  uint32_t verticalPrecision = 2;
  float horizontalSeconds = 2.0f;
  std::array<int, 4> spinPositions{};
  std::array<QLineEdit*, 4> edits{};
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  QPushButton* help = nullptr;
  MessageBox messageBox;
};
