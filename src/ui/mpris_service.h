// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QString>
#include <QVariantMap>

class MainDialog;

// The window on the session bus as an MPRIS 2 player
// (org.mpris.MediaPlayer2 and its .Player interface): the keyboard's media
// keys, the desktop's sound menu and a headset's buttons reach Kestro.
// Next and Previous go sentence by sentence when the item has a transcript's
// sentences or marks, otherwise item by item, as a pedal should.
class MprisService : public QDBusVirtualObject {
 public:
  static constexpr const char* kPath = "/org/mpris/MediaPlayer2";

  explicit MprisService(MainDialog& window);
  ~MprisService() override;

  // Takes org.mpris.MediaPlayer2.kestro (or, with another Kestro there, a
  // name of this instance's own); false, and nothing more, without a
  // session bus.
  bool Register();
  const QString& ServiceName() const { return service; }
  // Tells the bus which properties changed since the last call, and of a
  // jump in the position (the window's timer calls it).
  void Follow();

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  QDBusMessage Serve(const QDBusMessage& message);
  // Each interface's calls; the root's gives nothing for a call it does not know.
  QDBusMessage ServeProperties(const QDBusMessage& message);
  std::optional<QDBusMessage> ServeRoot(const QDBusMessage& message);
  QDBusMessage ServePlayer(const QDBusMessage& message);
  static QDBusMessage InvalidArgs(const QDBusMessage& message, const QString& text);
  QVariantMap RootProperties() const;
  QVariantMap PlayerProperties() const;
  QVariantMap Metadata() const;
  qlonglong PositionUs() const;
  void Step(int direction);
  void SeekTo(qlonglong us);

  MainDialog& window;
  QString service;
  QVariantMap told;  // the player's properties as last told
  qlonglong toldPosition = 0;
  QElapsedTimer sinceTold;
};
