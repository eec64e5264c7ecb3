// The removable media of the drive dialog; see fmSelDrvMedia.h.
#include "fmSelDrvMedia.h"

#include <sys/statvfs.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");

using TInterfaces = QMap<QString, QVariantMap>;
using TManagedObjects = QMap<QDBusObjectPath, TInterfaces>;

qint64 FreeBytes(const QString& folder) {
  struct statvfs st {};
  if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0) return -1;
  return static_cast<qint64>(st.f_bavail) * static_cast<qint64>(st.f_frsize);
}

// The first mount point of a Filesystem's MountPoints (aay, each a path
// with its terminating NUL).
QString FirstMountPoint(const QVariant& value) {
  const auto points = qdbus_cast<QByteArrayList>(value);
  if (points.isEmpty()) return QString();
  QByteArray point = points.first();
  while (point.endsWith('\0')) point.chop(1);
  return QFile::decodeName(point);
}

bool DriveIsRemovable(const TManagedObjects& objects, const QVariant& drive_path) {
  const auto drive = objects.constFind(qdbus_cast<QDBusObjectPath>(drive_path));
  if (drive == objects.constEnd() || !drive->contains(kDrive)) return false;
  const QVariantMap& p = drive->value(kDrive);
  return p.value("Removable").toBool() || p.value("MediaRemovable").toBool() ||
         p.value("Ejectable").toBool() || p.value("ConnectionBus").toString() == "usb";
}

}  // namespace

QList<TRemovableMedium> RemovableMedia(const QDBusConnection& bus, int timeout_ms) {
  if (!bus.isConnected()) return {};
  qDBusRegisterMetaType<TInterfaces>();
  qDBusRegisterMetaType<TManagedObjects>();
  qDBusRegisterMetaType<QByteArrayList>();
  const QDBusMessage call = QDBusMessage::createMethodCall(
      kService, QStringLiteral("/org/freedesktop/UDisks2"),
      QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
  const QDBusMessage reply = bus.call(call, QDBus::Block, timeout_ms);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
      reply.signature() != QLatin1String("a{oa{sa{sv}}}"))
    return {};
  const auto objects = qdbus_cast<TManagedObjects>(reply.arguments().first());
  QList<TRemovableMedium> media;
  for (const TInterfaces& interfaces : objects) {
    if (!interfaces.contains(kFilesystem) || !interfaces.contains(kBlock)) continue;
    const QVariantMap& block = interfaces.value(kBlock);
    if (block.value("HintIgnore").toBool()) continue;
    if (block.value("HintSystem").toBool() && !DriveIsRemovable(objects, block.value("Drive")))
      continue;
    const QString mount_point = FirstMountPoint(interfaces.value(kFilesystem).value("MountPoints"));
    if (mount_point.isEmpty() || !QFileInfo(mount_point).isDir()) continue;
    TRemovableMedium medium;
    medium.label = block.value("IdLabel").toString();
    if (medium.label.isEmpty()) medium.label = QFileInfo(mount_point).fileName();
    medium.mount_point = mount_point;
    medium.free = FreeBytes(mount_point);
    media << medium;
  }
  std::sort(media.begin(), media.end(), [](const auto& a, const auto& b) {
    const int order = QString::localeAwareCompare(a.label, b.label);
    return order != 0 ? order < 0 : a.mount_point < b.mount_point;
  });
  return media;
}

QList<TRemovableMedium> SystemRemovableMedia() {
  return RemovableMedia(QDBusConnection::systemBus());
}
