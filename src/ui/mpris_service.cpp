// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mpris_service.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFileInfo>
#include <QThread>
#include <QUrl>
#include <algorithm>

#include "engine/engine_flags.h"
#include "ui/main_dialog.h"

namespace {

constexpr const char* kRoot = "org.mpris.MediaPlayer2";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

const char* const kIntrospection = R"(<node>
 <interface name="org.mpris.MediaPlayer2">
  <method name="Raise"/>
  <method name="Quit"/>
  <property name="CanQuit" type="b" access="read"/>
  <property name="CanRaise" type="b" access="read"/>
  <property name="HasTrackList" type="b" access="read"/>
  <property name="Identity" type="s" access="read"/>
  <property name="DesktopEntry" type="s" access="read"/>
  <property name="SupportedUriSchemes" type="as" access="read"/>
  <property name="SupportedMimeTypes" type="as" access="read"/>
 </interface>
 <interface name="org.mpris.MediaPlayer2.Player">
  <method name="Next"/>
  <method name="Previous"/>
  <method name="Pause"/>
  <method name="PlayPause"/>
  <method name="Stop"/>
  <method name="Play"/>
  <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
  <method name="SetPosition">
   <arg direction="in" name="TrackId" type="o"/>
   <arg direction="in" name="Position" type="x"/>
  </method>
  <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
  <signal name="Seeked"><arg name="Position" type="x"/></signal>
  <property name="PlaybackStatus" type="s" access="read"/>
  <property name="Rate" type="d" access="readwrite"/>
  <property name="Metadata" type="a{sv}" access="read"/>
  <property name="Volume" type="d" access="readwrite"/>
  <property name="Position" type="x" access="read"/>
  <property name="MinimumRate" type="d" access="read"/>
  <property name="MaximumRate" type="d" access="read"/>
  <property name="CanGoNext" type="b" access="read"/>
  <property name="CanGoPrevious" type="b" access="read"/>
  <property name="CanPlay" type="b" access="read"/>
  <property name="CanPause" type="b" access="read"/>
  <property name="CanSeek" type="b" access="read"/>
  <property name="CanControl" type="b" access="read"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get">
   <arg direction="in" name="interface_name" type="s"/>
   <arg direction="in" name="property_name" type="s"/>
   <arg direction="out" name="value" type="v"/>
  </method>
  <method name="GetAll">
   <arg direction="in" name="interface_name" type="s"/>
   <arg direction="out" name="properties" type="a{sv}"/>
  </method>
  <method name="Set">
   <arg direction="in" name="interface_name" type="s"/>
   <arg direction="in" name="property_name" type="s"/>
   <arg direction="in" name="value" type="v"/>
  </method>
  <signal name="PropertiesChanged">
   <arg name="interface_name" type="s"/>
   <arg name="changed_properties" type="a{sv}"/>
   <arg name="invalidated_properties" type="as"/>
  </signal>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg direction="out" name="xml_data" type="s"/></method>
 </interface>
</node>
)";

QDBusObjectPath TrackId(int item) {
  return QDBusObjectPath(QStringLiteral("/org/kestro/item/%1").arg(std::max(item, 0)));
}

}  // namespace

MprisService::MprisService(MainDialog& w) : window(w) {}

MprisService::~MprisService() {
  if (service.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterObject(QString::fromLatin1(kPath));
  bus.unregisterService(service);
}

bool MprisService::Register() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QString name = QStringLiteral("org.mpris.MediaPlayer2.kestro");
  if (!bus.registerService(name)) {
    name += QStringLiteral(".instance%1").arg(::getpid());
    if (!bus.registerService(name)) return false;
  }
  if (!bus.registerVirtualObject(QString::fromLatin1(kPath), this)) {
    bus.unregisterService(name);
    return false;
  }
  service = name;
  told = PlayerProperties();
  toldPosition = PositionUs();
  sinceTold.start();
  return true;
}

QString MprisService::introspect(const QString&) const {
  // Qt adds the <node> wrapper itself: only the interfaces go here.
  QString xml = QString::fromLatin1(kIntrospection);
  xml.remove(QStringLiteral("<node>\n"));
  xml.remove(QStringLiteral("</node>\n"));
  return xml;
}

bool MprisService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  // Served on the window's thread, where its commands and state live.
  QDBusMessage reply;
  if (QThread::currentThread() == window.thread()) {
    reply = Serve(message);
  } else {
    QMetaObject::invokeMethod(
        &window, [&] { reply = Serve(message); }, Qt::BlockingQueuedConnection);
  }
  if (!message.isReplyRequired()) return true;
  connection.send(reply);
  return true;
}

qlonglong MprisService::PositionUs() const {
  const EngineStatus s = window.EngineOf().Status();
  return s.byteRate == 0 ? 0 : static_cast<qlonglong>(s.position) * 1000000 / s.byteRate;
}

QVariantMap MprisService::Metadata() const {
  const EngineStatus s = window.EngineOf().Status();
  const QString path = QString::fromStdString(window.PlaylistModel().At(s.item));
  QVariantMap m;
  m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(TrackId(s.item)));
  if (path.isEmpty()) return m;
  m.insert(QStringLiteral("xesam:title"), QFileInfo(path).completeBaseName());
  m.insert(QStringLiteral("xesam:url"),
           QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded));
  if (s.byteRate > 0)
    m.insert(QStringLiteral("mpris:length"),
             static_cast<qlonglong>(s.length) * 1000000 / s.byteRate);
  // The sentence heard, where a desktop shows a line under the title.
  const QString line = window.SentenceShown();
  if (!line.isEmpty()) m.insert(QStringLiteral("xesam:artist"), QStringList{line});
  return m;
}

QVariantMap MprisService::RootProperties() const {
  QVariantMap p;
  p.insert(QStringLiteral("CanQuit"), true);
  p.insert(QStringLiteral("CanRaise"), true);
  p.insert(QStringLiteral("HasTrackList"), false);
  p.insert(QStringLiteral("Identity"), QStringLiteral("Kestro"));
  p.insert(QStringLiteral("DesktopEntry"), QStringLiteral("kestro"));
  p.insert(QStringLiteral("SupportedUriSchemes"), QStringList{QStringLiteral("file")});
  p.insert(QStringLiteral("SupportedMimeTypes"),
           QStringList{QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-wav"),
                       QStringLiteral("audio/flac"), QStringLiteral("audio/ogg"),
                       QStringLiteral("audio/mp4"), QStringLiteral("video/mp4")});
  return p;
}

QVariantMap MprisService::PlayerProperties() const {
  const EngineStatus s = window.EngineOf().Status();
  const bool sounding = (s.flags & ENG_SOUNDING_MODES) != 0;
  QVariantMap p;
  // A pause leaves the engine idle with paused set; Play goes on from there.
  p.insert(QStringLiteral("PlaybackStatus"), s.paused   ? QStringLiteral("Paused")
                                             : sounding ? QStringLiteral("Playing")
                                                        : QStringLiteral("Stopped"));
  // The speed slider: 1 at its rest, slower to the right.
  p.insert(QStringLiteral("Rate"), static_cast<double>(s.speed));
  p.insert(QStringLiteral("MinimumRate"),
           s.keepPitch ? Engine::SpeedTempo(Engine::kSliderMax, Engine::kSliderMax)
                       : 1.0 / Engine::kSliderMax);
  p.insert(QStringLiteral("MaximumRate"), 1.0);
  p.insert(QStringLiteral("Metadata"), Metadata());
  p.insert(QStringLiteral("Volume"), s.volumePosition / 100.0);
  p.insert(QStringLiteral("Position"), PositionUs());
  const bool any = window.PlaylistModel().Count() > 0;
  p.insert(QStringLiteral("CanGoNext"), any);
  p.insert(QStringLiteral("CanGoPrevious"), any);
  p.insert(QStringLiteral("CanPlay"), any);
  p.insert(QStringLiteral("CanPause"), any);
  p.insert(QStringLiteral("CanSeek"), s.length > 0);
  p.insert(QStringLiteral("CanControl"), true);
  return p;
}

void MprisService::Step(int direction) {
  const EngineStatus s = window.EngineOf().Status();
  // Sentence by sentence where there are sentences or marks to go by.
  if (s.sentenceCount > 0 || s.marks > 1) {
    window.EngineOf().CommandSentence(direction);
  } else if (direction > 0) {
    window.RunCommand(kCmdNext);
  } else {
    window.RunCommand(kCmdPrevious);
  }
}

void MprisService::SeekTo(qlonglong us) {
  const EngineStatus s = window.EngineOf().Status();
  if (s.length == 0 || s.byteRate == 0) return;
  const qlonglong lengthUs = static_cast<qlonglong>(s.length) * 1000000 / s.byteRate;
  if (us < 0) us = 0;
  if (us >= lengthUs) {
    window.RunCommand(kCmdNext);  // past the end: the next item, as MPRIS asks
    return;
  }
  window.EngineOf().ProgressSlider(static_cast<int>(us * Engine::kProgressMax / lengthUs));
}

QDBusMessage MprisService::Serve(const QDBusMessage& message) {
  window.Hurry();
  const QString iface = message.interface();
  if (iface == QLatin1String(kProperties)) return ServeProperties(message);
  if (iface == QLatin1String(kRoot)) {
    if (std::optional<QDBusMessage> reply = ServeRoot(message)) return *reply;
  } else if (iface == QLatin1String(kPlayer) || iface.isEmpty()) {
    return ServePlayer(message);
  } else if (iface == QLatin1String("org.freedesktop.DBus.Introspectable")) {
    return message.createReply(QStringLiteral("<node>\n") + introspect(message.path()) +
                               QStringLiteral("</node>\n"));
  }
  return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                  iface + QLatin1Char('.') + message.member());
}

QDBusMessage MprisService::InvalidArgs(const QDBusMessage& message, const QString& text) {
  return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), text);
}

QDBusMessage MprisService::ServeProperties(const QDBusMessage& message) {
  const QString member = message.member();
  const QVariantList args = message.arguments();
  Engine& engine = window.EngineOf();
  const QString which = args.value(0).toString();
  const QVariantMap all = which == QLatin1String(kRoot)     ? RootProperties()
                          : which == QLatin1String(kPlayer) ? PlayerProperties()
                                                            : QVariantMap();
  if (member == QLatin1String("GetAll")) return message.createReply(QVariant(all));
  const QString name = args.value(1).toString();
  if (member == QLatin1String("Get")) {
    if (!all.contains(name)) return InvalidArgs(message, QStringLiteral("no property ") + name);
    return message.createReply(QVariant::fromValue(QDBusVariant(all.value(name))));
  }
  if (member == QLatin1String("Set")) {
    const QVariant value = args.value(2).value<QDBusVariant>().variant();
    if (which == QLatin1String(kPlayer) && name == QLatin1String("Volume")) {
      const int position =
          static_cast<int>(std::lround(std::clamp(value.toDouble(), 0.0, 1.0) * 100));
      engine.VolumeSlider(position);
      if (SkinSlider* slider = window.Slider(kIdVolume)) slider->SetPosition(position);
      return message.createReply();
    }
    if (which == QLatin1String(kPlayer) && name == QLatin1String("Rate")) {
      // Faster than normal is not offered; 0 would mean a pause, Pause's business.
      const double rate = value.toDouble();
      if (rate <= 0) return message.createReply();
      const int position =
          std::clamp(static_cast<int>(std::lround((1.0 - rate) * Engine::kSliderMax)), 0,
                     Engine::kSliderMax - 1);
      engine.SpeedSlider(position);
      if (SkinSlider* slider = window.Slider(kIdSpeed)) slider->SetPosition(position);
      return message.createReply();
    }
    return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                    name + QStringLiteral(" cannot be set"));
  }
  return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                  QLatin1String(kProperties) + QLatin1Char('.') + member);
}

std::optional<QDBusMessage> MprisService::ServeRoot(const QDBusMessage& message) {
  const QString member = message.member();
  if (member == QLatin1String("Raise")) {
    window.showNormal();
    window.raise();
    window.activateWindow();
    return message.createReply();
  }
  if (member == QLatin1String("Quit")) {
    QMetaObject::invokeMethod(
        &window, [this] { window.ExitProgram(); }, Qt::QueuedConnection);
    return message.createReply();
  }
  return std::nullopt;
}

QDBusMessage MprisService::ServePlayer(const QDBusMessage& message) {
  const QString member = message.member();
  const QVariantList args = message.arguments();
  Engine& engine = window.EngineOf();
  const EngineStatus s = engine.Status();
  const bool playing = (s.flags & ENG_SOUNDING_MODES) != 0 && !s.paused;
  if (member == QLatin1String("Play")) {
    if (!playing) window.RunCommand(kCmdPlay);
  } else if (member == QLatin1String("Pause")) {
    if (playing) window.RunCommand(kCmdPause);
  } else if (member == QLatin1String("PlayPause")) {
    window.RunCommand(playing ? kCmdPause : kCmdPlay);
  } else if (member == QLatin1String("Stop")) {
    window.RunCommand(kCmdStop);
  } else if (member == QLatin1String("Next")) {
    Step(1);
  } else if (member == QLatin1String("Previous")) {
    Step(-1);
  } else if (member == QLatin1String("Seek")) {
    SeekTo(PositionUs() + args.value(0).toLongLong());
  } else if (member == QLatin1String("SetPosition")) {
    // Only for the item playing: a late call for another is ignored, as MPRIS says.
    if (args.value(0).value<QDBusObjectPath>().path() == TrackId(s.item).path())
      SeekTo(args.value(1).toLongLong());
  } else if (member == QLatin1String("OpenUri")) {
    const QUrl url(args.value(0).toString());
    if (!url.isLocalFile())
      return InvalidArgs(message, QStringLiteral("only file: addresses open"));
    window.AddAndPlay({url.toLocalFile().toStdString()});
  } else {
    return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                    member);
  }
  return message.createReply();
}

void MprisService::Follow() {
  if (service.isEmpty()) return;
  QVariantMap now = PlayerProperties();
  const qlonglong position = now.take(QStringLiteral("Position")).toLongLong();
  QVariantMap changed;
  for (auto it = now.constBegin(); it != now.constEnd(); ++it)
    if (told.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!changed.isEmpty()) {
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kPath), QString::fromLatin1(kProperties),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayer) << changed << QStringList();
    bus.send(signal);
  }
  // A jump the clock does not explain is a seek.
  const bool playing = now.value(QStringLiteral("PlaybackStatus")) == QStringLiteral("Playing");
  const qlonglong expected = toldPosition + (playing ? sinceTold.elapsed() * 1000 : 0);
  if (std::llabs(position - expected) > 1500000) {
    QDBusMessage seeked = QDBusMessage::createSignal(
        QString::fromLatin1(kPath), QString::fromLatin1(kPlayer), QStringLiteral("Seeked"));
    seeked << position;
    bus.send(seeked);
  }
  now.insert(QStringLiteral("Position"), position);
  told = now;
  toldPosition = position;
  sinceTold.restart();
}
