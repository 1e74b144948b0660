// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QListWidget>
#include <functional>
#include <vector>

#include "sentences/sentence_list.h"

// The lesson's transcript in the display area: one line a sentence, with the
// time it starts, the one being heard highlighted and kept in sight. A double
// click on a line asks for that sentence to be played and repeated. Without
// sentences it says why there are none.
class TranscriptView : public QListWidget {
 public:
  Q_DECLARE_TR_FUNCTIONS(TranscriptView)

 public:
  explicit TranscriptView(QWidget* parent);

  // The open item's sentences, positions in bytes of byteRate a second.
  void SetSentences(const std::vector<Sentence>& sentences, uint32_t byteRate);
  // Why the transcript gave nothing (or what was passed over in it).
  void SetNote(const QString& note);
  // Highlights sentence number (from 1; 0 for none).
  void Follow(int number);
  // Listening practice: the lines keep their times, the words are hidden.
  void SetTextHidden(bool hidden);

  bool HasSentences() const { return !sentences.empty(); }
  bool HasNote() const { return !note.isEmpty(); }
  int Followed() const { return followed; }
  // The text of sentence number (from 1), empty when there is none.
  QString TextOf(int number) const;
  // A line double-clicked: the index of its sentence.
  std::function<void(int index)> onChosen;

 private:
  void Fill();

  std::vector<Sentence> sentences;
  uint32_t byteRate = 0;
  QString note;
  bool textHidden = false;
  int followed = 0;
};
