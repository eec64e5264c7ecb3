// A stand-in for UDisks2 on the session bus, for the tests of the drive
// dialog's removable media: serves org.freedesktop.UDisks2's object manager
// with one block device, file system and drive per medium named on the
// command line, as triples LABEL MOUNT-POINT FLAGS, where FLAGS holds
//   s  the block is a system one (HintSystem)     i  it is to be ignored
//   r  its drive is removable                      u  it is not mounted
// ("-" for none). Prints "ready" once the name is taken.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <cstdio>

using TInterfaces = QMap<QString, QVariantMap>;
using TManagedObjects = QMap<QDBusObjectPath, TInterfaces>;

class TObjectManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")

 public:
  explicit TObjectManager(TManagedObjects objects) : objects_(std::move(objects)) {}

 public slots:
  TManagedObjects GetManagedObjects() const { return objects_; }

 private:
  TManagedObjects objects_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  qDBusRegisterMetaType<TInterfaces>();
  qDBusRegisterMetaType<TManagedObjects>();
  qDBusRegisterMetaType<QByteArrayList>();
  const QStringList args = app.arguments().mid(1);
  TManagedObjects objects;
  for (int i = 0; i + 2 < args.size(); i += 3) {
    const QString flags = args[i + 2];
    const QString n = QString::number(i / 3);
    const QDBusObjectPath drive("/org/freedesktop/UDisks2/drives/Stick" + n);
    QVariantMap block{{"IdLabel", args[i]},
                      {"Drive", QVariant::fromValue(drive)},
                      {"HintSystem", flags.contains('s')},
                      {"HintIgnore", flags.contains('i')},
                      {"Size", QVariant::fromValue(quint64(1) << 30)}};
    QByteArrayList mounts;
    if (!flags.contains('u')) mounts << args[i + 1].toUtf8() + '\0';
    objects[QDBusObjectPath("/org/freedesktop/UDisks2/block_devices/sd" + n)] = {
        {"org.freedesktop.UDisks2.Block", block},
        {"org.freedesktop.UDisks2.Filesystem", {{"MountPoints", QVariant::fromValue(mounts)}}}};
    objects[drive] = {{"org.freedesktop.UDisks2.Drive",
                       {{"Removable", flags.contains('r')}, {"ConnectionBus", QString("sata")}}}};
  }
  TObjectManager manager(objects);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject("/org/freedesktop/UDisks2", &manager, QDBusConnection::ExportAllSlots) ||
      !bus.registerService("org.freedesktop.UDisks2")) {
    std::fprintf(stderr, "udisks_standin: %s\n", qPrintable(bus.lastError().message()));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}

#include "udisks_standin.moc"
