// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace {

QRect FromDialogUnits(int x, int y, int w, int h) {
  auto px = [](int du) { return static_cast<int>(std::lround(du * 1.5)); };
  return QRect(px(x), px(y), px(w), px(h));
}

// Edits 1068, 1069, 1070, 1071 with their labels and spins.
struct Row {
  const char* label;
  QRect labelPlace, editPlace, spinPlace;
  SettingRange range;
  int spinSteps;  // spin steps to the unit: the seconds spin in tenths
};
const Row kRows[4] = {
    {QT_TRANSLATE_NOOP("SettingsDialog", "次数："), FromDialogUnits(7, 7, 26, 10),
     FromDialogUnits(67, 4, 34, 12), FromDialogUnits(100, 3, 8, 13), kRepeatCountRange, 1},
    {QT_TRANSLATE_NOOP("SettingsDialog", "纵向精度："), FromDialogUnits(6, 24, 45, 10),
     FromDialogUnits(67, 22, 34, 12), FromDialogUnits(101, 21, 8, 13), kVerticalPrecisionRange, 1},
    {QT_TRANSLATE_NOOP("SettingsDialog", "横向精度(s)："), FromDialogUnits(5, 43, 54, 11),
     FromDialogUnits(67, 42, 34, 12), FromDialogUnits(101, 41, 8, 13), kHorizontalSecondsRange, 10},
    {QT_TRANSLATE_NOOP("SettingsDialog", "采样数(%):"), FromDialogUnits(5, 64, 41, 10),
     FromDialogUnits(67, 62, 34, 12), FromDialogUnits(102, 61, 8, 13), kSamplePercentRange, 1},
};

bool ParseUnsigned(const QString& text, uint32_t* value) {
  bool ok = false;
  const qulonglong v = text.trimmed().toULongLong(&ok);
  if (!ok || v > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("自动复读设置"));
  setFixedSize(FromDialogUnits(0, 0, 151, 253).size());
  for (int i = 0; i < 4; ++i) {
    const Row& row = kRows[i];
    auto* label = new QLabel(tr(row.label), this);
    label->setGeometry(row.labelPlace);
    edits[i] = new QLineEdit(this);
    edits[i]->setGeometry(row.editPlace);
    // The spin: two arrows at the edit's right edge; they step the field and
    // the dialog writes every edit anew.
    const QRect place(row.editPlace.right() + 1, row.spinPlace.top(), row.spinPlace.width(),
                      row.spinPlace.height());
    auto* up = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(place.x(), place.y(), place.width(), place.height() / 2);
    auto* down = new QToolButton(this);
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(place.x(), place.y() + place.height() / 2, place.width(),
                      place.height() - place.height() / 2);
    connect(up, &QToolButton::clicked, this, [this, i] { Step(i, +1); });
    connect(down, &QToolButton::clicked, this, [this, i] { Step(i, -1); });
    up->setObjectName(QStringLiteral("up%1").arg(i));
    down->setObjectName(QStringLiteral("down%1").arg(i));
  }
  transcriptCheck = new QCheckBox(tr("有字幕时按字幕分句"), this);
  transcriptCheck->setGeometry(FromDialogUnits(7, 82, 140, 11));
  pauseButton = new QRadioButton(tr("停顿检测（按以上设置）"), this);
  pauseButton->setGeometry(FromDialogUnits(7, 95, 140, 11));
  adaptiveButton = new QRadioButton(tr("自适应分句"), this);
  adaptiveButton->setGeometry(FromDialogUnits(7, 108, 140, 11));
  const char* splitLabels[2] = {QT_TR_NOOP("最短停顿(s)："), QT_TR_NOOP("最长句子(s)：")};
  for (int i = 0; i < 2; ++i) {
    auto* label = new QLabel(tr(splitLabels[i]), this);
    label->setGeometry(FromDialogUnits(17, 123 + 15 * i, 50, 10));
    splitEdits[i] = new QLineEdit(this);
    splitEdits[i]->setGeometry(FromDialogUnits(67, 121 + 15 * i, 34, 12));
    connect(adaptiveButton, &QRadioButton::toggled, splitEdits[i], &QLineEdit::setEnabled);
  }
  // The split's radio buttons and the gap's are two groups.
  auto* splitGroup = new QButtonGroup(this);
  splitGroup->addButton(pauseButton);
  splitGroup->addButton(adaptiveButton);
  auto* gapGroup = new QButtonGroup(this);
  const char* gapLabels[3] = {QT_TR_NOOP("跟读：不留间隔"), QT_TR_NOOP("固定间隔(s)："),
                              QT_TR_NOOP("句长倍数：")};
  for (int i = 0; i < 3; ++i) {
    gapButtons[i] = new QRadioButton(tr(gapLabels[i]), this);
    gapButtons[i]->setGeometry(FromDialogUnits(7, 154 + 15 * i, i == 0 ? 140 : 58, 11));
    gapGroup->addButton(gapButtons[i], i);
    if (i == 0) continue;
    gapEdits[i - 1] = new QLineEdit(this);
    gapEdits[i - 1]->setGeometry(FromDialogUnits(67, 153 + 15 * i, 34, 12));
    connect(gapButtons[i], &QRadioButton::toggled, gapEdits[i - 1], &QLineEdit::setEnabled);
  }
  recordCheck = new QCheckBox(tr("跟读录音（间隔中录下并回放）"), this);
  recordCheck->setGeometry(FromDialogUnits(7, 199, 140, 11));
  stopAfterCheck = new QCheckBox(tr("逐句暂停（听写）"), this);
  stopAfterCheck->setGeometry(FromDialogUnits(7, 212, 140, 11));
  ok = new QPushButton(tr("确定"), this);
  ok->setGeometry(FromDialogUnits(15, 235, 36, 14));
  ok->setDefault(true);
  cancel = new QPushButton(tr("取消"), this);
  cancel->setGeometry(FromDialogUnits(59, 235, 33, 14));
  help = new QPushButton(tr("帮助"), this);
  help->setGeometry(FromDialogUnits(101, 235, 33, 14));
  connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
  connect(help, &QPushButton::clicked, this, &SettingsDialog::ShowHelp);
  SetSplit(split);
  SetGaps(gaps);
}

void SettingsDialog::SetGaps(const GapSettings& wanted) {
  gaps = wanted;
  const int kind = static_cast<int>(gaps.kind);
  for (int i = 0; i < 3; ++i)
    gapButtons[i]->setChecked(i == kind);
  for (int i = 0; i < 2; ++i)
    gapEdits[i]->setEnabled(kind == i + 1);
  // Each kind keeps its own value; the other shows its default.
  const bool seconds = gaps.kind == GapSettings::Kind::kSeconds;
  const bool factor = gaps.kind == GapSettings::Kind::kFactor;
  gapEdits[0]->setText(QString::number(seconds ? static_cast<double>(gaps.value) : 3.0));
  gapEdits[1]->setText(QString::number(factor ? static_cast<double>(gaps.value) : 1.2));
  stopAfterCheck->setChecked(gaps.stopAfterSentence);
  recordCheck->setChecked(gaps.recordInGap);
}

void SettingsDialog::SetSplit(const Split& wanted) {
  split = wanted;
  transcriptCheck->setChecked(split.transcript);
  adaptiveButton->setChecked(split.adaptive);
  pauseButton->setChecked(!split.adaptive);
  for (QLineEdit* edit : splitEdits)
    edit->setEnabled(split.adaptive);
  splitEdits[0]->setText(QString::number(static_cast<double>(split.minPauseSeconds)));
  splitEdits[1]->setText(QString::number(static_cast<double>(split.maxSentenceSeconds)));
}

bool SettingsDialog::ReadSeconds(QLineEdit* edit, const SettingRange& range, float* value) {
  bool number = false;
  const float v = edit->text().trimmed().toFloat(&number);
  QString problem;
  if (!number)
    problem = tr("请输入一个数字。");
  else if (!range.Holds(v))
    problem = tr("请输入一个在 %1 和 %2 之间的数字。")
                  .arg(range.min, 0, 'g', 4)
                  .arg(range.max, 0, 'g', 4);
  if (problem.isEmpty()) {
    *value = v;
    return true;
  }
  Message(problem);
  edit->setFocus();
  edit->selectAll();
  return false;
}

void SettingsDialog::SetValues(uint32_t count, uint32_t vertical, uint32_t percent, float seconds) {
  repeatCount = count;
  verticalPrecision = vertical;
  samplePercent = percent;
  horizontalSeconds = seconds;
}

void SettingsDialog::GetValues(uint32_t* count, uint32_t* vertical, uint32_t* percent,
                               float* seconds) const {
  *count = repeatCount;
  *vertical = verticalPrecision;
  *percent = samplePercent;
  *seconds = horizontalSeconds;
}

void SettingsDialog::showEvent(QShowEvent* event) {
  SyncSpins();
  QDialog::showEvent(event);
}

void SettingsDialog::SyncSpins() {
  if (!(horizontalSeconds >= 0.1f)) horizontalSeconds = 0.1f;  // also not a number
  if (horizontalSeconds > 10.0f) horizontalSeconds = 10.0f;
  if (verticalPrecision > 50) verticalPrecision = 50;
  if (repeatCount == 0) repeatCount = 1;
  if (repeatCount > 100) repeatCount = 100;
  if (samplePercent < 5) samplePercent = 10;
  if (samplePercent > 100) samplePercent = 100;
  spinPositions = {static_cast<int>(repeatCount), static_cast<int>(verticalPrecision),
                   static_cast<int>(std::lround(horizontalSeconds * 10)),
                   static_cast<int>(samplePercent)};
  WriteEdits();
}

void SettingsDialog::WriteEdits() {
  edits[0]->setText(QString::number(repeatCount));
  edits[1]->setText(QString::number(verticalPrecision));
  edits[2]->setText(QString::number(static_cast<double>(horizontalSeconds), 'g', 6));
  edits[3]->setText(QString::number(samplePercent));
}

void SettingsDialog::Step(int i, int delta) {
  // The arrows step what the field shows, typed or not, and leave the other
  // fields as the learner typed them.
  bool typed = false;
  const QString text = edits[i]->text().trimmed();
  int from =
      i == 2 ? static_cast<int>(std::lround(text.toDouble(&typed) * 10)) : text.toInt(&typed);
  if (!typed) from = spinPositions[i];
  const Row& row = kRows[i];
  const int next =
      std::clamp(from + delta, static_cast<int>(std::lround(row.range.min * row.spinSteps)),
                 static_cast<int>(std::lround(row.range.max * row.spinSteps)));
  spinPositions[i] = next;
  switch (i) {
    case 0:
      repeatCount = static_cast<uint32_t>(next);
      edits[0]->setText(QString::number(repeatCount));
      break;
    case 1:
      verticalPrecision = static_cast<uint32_t>(next);
      edits[1]->setText(QString::number(verticalPrecision));
      break;
    case 2:
      horizontalSeconds = static_cast<float>(next) * 0.1f;
      edits[2]->setText(QString::number(static_cast<double>(horizontalSeconds), 'g', 6));
      break;
    case 3:
      samplePercent = static_cast<uint32_t>(next);
      edits[3]->setText(QString::number(samplePercent));
      break;
  }
}

void SettingsDialog::Message(const QString& text) {
  if (messageBox) {
    messageBox(text);
  } else {
    QMessageBox::warning(this, windowTitle(), text);
  }
}

void SettingsDialog::accept() {
  // In the order 采样数(%), 次数, 纵向精度, 横向精度(s); nothing is kept until all pass.
  uint32_t percent, count, vertical;
  struct Check {
    int edit;
    uint32_t* value;
    SettingRange range;
  } checks[3] = {{3, &percent, kSamplePercentRange},
                 {0, &count, kRepeatCountRange},
                 {1, &vertical, kVerticalPrecisionRange}};
  for (const Check& c : checks) {
    if (!ParseUnsigned(edits[c.edit]->text(), c.value)) {
      Message(tr("请输入一个整数。"));
      edits[c.edit]->setFocus();
      edits[c.edit]->selectAll();
      return;
    }
    if (!c.range.Holds(static_cast<float>(*c.value))) {
      Message(tr("请输入一个在 %1 和 %2 之间的整数。").arg(c.range.min).arg(c.range.max));
      edits[c.edit]->setFocus();
      edits[c.edit]->selectAll();
      return;
    }
  }
  float seconds = 0;
  if (!ReadSeconds(edits[2], kHorizontalSecondsRange, &seconds)) return;
  Split chosen = split;
  chosen.transcript = transcriptCheck->isChecked();
  chosen.adaptive = adaptiveButton->isChecked();
  // The adaptive settings count only when that split is chosen.
  if (chosen.adaptive &&
      (!ReadSeconds(splitEdits[0], kMinPauseSecondsRange, &chosen.minPauseSeconds) ||
       !ReadSeconds(splitEdits[1], kMaxSentenceSecondsRange, &chosen.maxSentenceSeconds)))
    return;
  GapSettings gapsChosen = gaps;
  gapsChosen.kind = gapButtons[1]->isChecked()   ? GapSettings::Kind::kSeconds
                    : gapButtons[2]->isChecked() ? GapSettings::Kind::kFactor
                                                 : GapSettings::Kind::kNone;
  if ((gapsChosen.kind == GapSettings::Kind::kSeconds &&
       !ReadSeconds(gapEdits[0], kGapSecondsRange, &gapsChosen.value)) ||
      (gapsChosen.kind == GapSettings::Kind::kFactor &&
       !ReadSeconds(gapEdits[1], kGapFactorRange, &gapsChosen.value)))
    return;
  gapsChosen.stopAfterSentence = stopAfterCheck->isChecked();
  gapsChosen.recordInGap = recordCheck->isChecked();
  gaps = gapsChosen;
  split = chosen;
  samplePercent = percent;
  repeatCount = count;
  verticalPrecision = vertical;
  horizontalSeconds = seconds;
  QDialog::accept();
}

void SettingsDialog::ShowHelp() {
  QMessageBox::information(
      this, tr("帮助"),
      tr("自动复读把课文在停顿处分成句子，每句听完后再重复播放。\n\n"
         "次数：每个句子听完第一遍后再重复的遍数（1 到 100）：设为 3，每句共听 4 遍。\n"
         "纵向精度：声音低于满幅度的这个百分比时算作安静（0 到 50）。\n"
         "横向精度(s)：安静持续多少秒算作一句的结束（0.1 到 10）。\n"
         "采样数(%)：测量安静时检查的采样所占的百分比（5 到 100）。\n\n"
         "分句方法：有字幕（同名的 .lrc、.srt 或 .vtt）时可按字幕分句；"
         "否则用停顿检测（以上设置，适合停顿长的课文录音），"
         "或用自适应分句：打开文件时在后台分析整个声音，"
         "按它自己的底噪找出停顿，适合自然语速、有噪声或音量小的录音。\n"
         "最短停顿(s)：多长的停顿算作一句的结束（0.1 到 5）。\n"
         "最长句子(s)：更长的句子在其中最长的停顿处再分开（2 到 120）。\n\n"
         "跟读：自动复读时每播放一遍句子后静音一段时间，让你跟着说——"
         "固定的秒数（0.1 到 60），或句子长度的倍数（0.5 到 3）。\n"
         "跟读录音：每段间隔中录下你的声音，间隔一结束就回放，"
         "再播放原句（保存为 RecordVM.qv，可用回放和对比）。\n"
         "逐句暂停（听写）：每句最后一遍播完后暂停，按播放继续。"));
}
