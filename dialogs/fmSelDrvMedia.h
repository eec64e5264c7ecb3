// The removable media the drive dialog offers beside the letters of
// drives.ini: mounted file systems of removable drives, as UDisks2 reports
// them on the system bus. Used by TFormSelectDrive; asks nothing of a
// machine without UDisks2 or without a system bus.
#pragma once

#include <QList>
#include <QString>

class QDBusConnection;

struct TRemovableMedium {
  QString label;        // the file system's label, else its mount point's name
  QString mount_point;  // where backups are written
  qint64 free = -1;     // bytes free, -1 when the file system cannot be asked
};

// The mounted file systems that UDisks2 marks as removable (the file system
// is not a system one, or its drive is removable, ejectable or on USB),
// ordered by label. Empty, silently, without a bus, without UDisks2, or
// when it does not answer within `timeout_ms`.
QList<TRemovableMedium> RemovableMedia(const QDBusConnection& bus, int timeout_ms = 1500);
// RemovableMedia on the system bus.
QList<TRemovableMedium> SystemRemovableMedia();
