// Backup and Restore of the main window on a database made from the mtdemo
// sample: the spanned set on drive A passes 7-Zip and comes back byte-equal,
// the complement runs Copy before and Retrieve after, disks of another
// database, a damaged volume and Cancel leave the work folders as they were.
#include <sys/stat.h>

#include <QDirIterator>
#include <QTimer>
#include <QtTest>

#include "DZip.h"
#include "RunTestUtil.h"
#include "cpZip.h"
#include "fmSelDrv.h"
#include "fmZipPrg.h"
#include "tlFile.h"

namespace {

const QStringList kSuccess{"Success", "RightNow"};
constexpr qint64 kCapacity = 6000;

int Sh(const QString& command) { return std::system(qPrintable(command + " >/dev/null 2>&1")); }

// Writes `path` with Python's zipfile: `entries` is a Python list of
// (name, data, mode) with Unix modes (0o120777 makes a link to `data`).
bool Craft(const QString& path, const QString& entries, const QString& comment) {
  QFile script(path + ".py");
  if (!script.open(QIODevice::WriteOnly)) return false;
  script.write(QString("import zipfile\n"
                       "z = zipfile.ZipFile(%1, 'w')\n"
                       "for name, data, mode in %2:\n"
                       "    i = zipfile.ZipInfo(name)\n"
                       "    i.create_system = 3\n"
                       "    i.external_attr = mode << 16\n"
                       "    z.writestr(i, data)\n"
                       "z.comment = %3\n"
                       "z.close()\n")
                   .arg("'" + path + "'", entries, "b'" + comment + "'")
                   .toUtf8());
  script.close();
  return Sh("python3 " + path + ".py") == 0;
}

// Files and links directly in `dir` with their contents.
QMap<QString, QByteArray> TopFiles(const QString& dir) {
  QMap<QString, QByteArray> files;
  for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files | QDir::System | QDir::Hidden)) {
    QFile in(f.filePath());
    in.open(QIODevice::ReadOnly);
    files.insert(f.fileName(), in.readAll());
  }
  return files;
}

}  // namespace

class TBackupTest : public TWindowTest {
  Q_OBJECT

 private:
  QStringList volumes_;  // the disks written, in order
  QString offered_name_ = "MTDEMO.DBK";
  std::function<QString(int request, int disk)> swap_;  // another volume for a request
  int requests_ = 0;
  QStringList hidden_while_writing_;

  QString Db(const QString& sub = QString()) const {
    return sub.isEmpty() ? home_->Path("MTDEMO") : home_->Path("MTDEMO") + '/' + sub;
  }
  QString Drive() const { return home_->Path("drive"); }

  void MakeDatabase() {
    home_->WriteAliases({"MTDEMO", "OTHER"});
    QVERIFY(home_->MakeSampleDatabase("MTDEMO"));
    home_->WriteDrives(
        {{"A", Drive().toStdString(), kCapacity}, {"B", home_->Path("driveb").toStdString()}});
  }

  // Writing: each disk is taken out when the next is asked for. Reading:
  // the volume asked for is put in, under the name the restore looks for.
  QMessageBox::StandardButton Answer(const TMessageRequest& m) override {
    seen_ << m;
    // While a backup writes, no live file is changed: a kill here would
    // leave nothing hidden.
    if (m.Key == "NextDisk" && home_ && QDir(Db()).exists()) {
      for (const QString& f : QDir(Db()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (FileIsHidden(Db(f).toStdString())) hidden_while_writing_ << f;
      }
    }
    if (answers_.contains(m.Key)) return answers_.take(m.Key);
    const QString present = Drive() + '/' + offered_name_;
    if (m.Key == "NextDisk") TakeOut();
    int disk = 0;
    if (m.Key == "LastDisk") disk = volumes_.size();
    if (m.Key == "DiskOfDisk") disk = m.Args.value(0).toInt();
    if (disk > 0) {
      QString pick = volumes_.value(disk - 1);
      if (swap_) {
        if (QString other = swap_(++requests_, disk); !other.isEmpty()) pick = other;
      }
      QFile::remove(present);
      QFile::copy(pick, present);
    }
    return DefaultAnswer(m);
  }

  void TakeOut() {
    const QString vol = home_->Path(QString("vol%1").arg(volumes_.size() + 1));
    QFile::remove(vol);
    QVERIFY(QFile::rename(Drive() + "/MTDEMO.DBK", vol));
    volumes_ << vol;
  }

  // The window without CONFIRM: the drive dialog does not ask.
  void MakeForm() {
    TWindowTest::MakeForm();
    form_->Options.erase(voConfirm);
    form_->SetBackupDrive('A');
  }

  // A backup with the complement; the volumes it wrote.
  void Backup() {
    form_->SetBackupComplement(true);
    QCOMPARE(Run(ttBackup, "MTDEMO"), kSuccess);
    TakeOut();
  }

  QString LiveRecords() {
    QString all;
    for (const QString& t : QDir(Db()).entryList({"*.DB"}, QDir::Files)) {
      all += t + '\n' + PxRecords(Db(t));
    }
    return all;
  }

  void VerifyNoStrays() {
    QDirIterator it(Db(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) QVERIFY2(!it.next().endsWith(".vdxpart"), qPrintable(it.filePath()));
    QVERIFY(!QDir(Db("METADA$$")).exists());
    QVERIFY(!QDir(Db("SA$$")).exists());
    for (const QString& f : QDir(Db()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
      QVERIFY2(!FileIsHidden((Db(f)).toStdString()), qPrintable(f));
    }
  }

 private slots:
  void init() {
    Begin();
    volumes_.clear();
    swap_ = nullptr;
    requests_ = 0;
    hidden_while_writing_.clear();
    offered_name_ = "MTDEMO.DBK";
  }
  void cleanup() { End(); }

  void archiveNameAndPassword() {
    home_->WriteAliases({"PAYROLL2024"});
    MakeForm();
    form_->SelectAliasByName("PAYROLL2024");
    form_->SelectDriveDialog()->SetDrives({"A", "B"});
    form_->SetBackupDrive('b');
    QCOMPARE(form_->Run().ArchiveName(), QString("B:\\PAYROLL2.DBK"));
    // Word "ZelVardex!" shifted +1/-1 by position, then the alias's
    // characters from the last: odd positions appended, even ones prepended.
    QCOMPARE(form_->Run().ArchivePassword(), QString("ARL22[dmUbqedy 40LOYP"));
    // Return codes and disk numbers fill the texts' number directives.
    QVERIFY(
        form_->FormatValue("Notifications", "BackupCannotCreate", {"17"}).contains("(code 17)"));
    QVERIFY(form_->FormatValue("BackupProcess", "DiskOfDisk", {"2", "5"}).contains("2 of 5"));
  }

  void backupSpansVolumesThat7ZipReadsAndRestoreBringsAllBack() {
    MakeDatabase();
    // A file of the database folder hidden before the backup, and one that
    // is no table: neither enters the archive, neither stays hidden.
    QVERIFY(SetFilesAttr(Db("CUSTOMER.PX").toStdString(), faHidden, true));
    QFile(Db("NOTES.TXT")).open(QIODevice::WriteOnly);
    MakeForm();
    Backup();
    QCOMPARE(Keys().first(), QString("FirstDisk"));
    QVERIFY2(volumes_.size() >= 3, qPrintable(QString::number(volumes_.size())));
    QVERIFY2(hidden_while_writing_.isEmpty(), qPrintable(hidden_while_writing_.join(',')));
    for (const QString& v : volumes_) QVERIFY(QFileInfo(v).size() <= kCapacity);
    VerifyNoStrays();
    QCOMPARE(LogRecords("MTDEMO", ttBackup, trSuccess), 1);
    QCOMPARE(LogRecords("MTDEMO", ttCopy), 0);  // the complement is part of the backup

    const QString set = home_->Path("7z");
    QDir().mkpath(set);
    for (int i = 0; i < volumes_.size(); ++i) {
      const QString name =
          i + 1 == volumes_.size() ? "x.zip" : QString("x.z%1").arg(i + 1, 2, 10, QChar('0'));
      QVERIFY(QFile::copy(volumes_[i], set + '/' + name));
    }
    QCOMPARE(Sh("cd " + set + " && 7z t x.zip"), 0);
    QCOMPARE(Sh("cd " + set + " && 7z x -oout x.zip"), 0);
    QCOMPARE(Tree(set + "/out/METADATA"), Tree(Db("METADATA")));
    QCOMPARE(Tree(set + "/out/SAFE"), Tree(Db("SAFE")));
    QCOMPARE(QDir(set + "/out").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"METADATA", "SAFE"}));
    UNZIPCMDSTRUCT comment;
    comment.function = kUnzipActionComment;
    comment.lpszZipFile = (set + "/x.zip").toStdString();
    QCOMPARE(dunzip(comment), 0);
    QCOMPARE(QString::fromStdString(comment.lpszReturnString), QString("MTDEMO"));

    // Restore with the complement: SAFE and METADATA come back from the
    // disks, and the live tables are rebuilt from them.
    const auto meta = Tree(Db("METADATA")), safe = Tree(Db("SAFE"));
    const QString records = LiveRecords();
    QVERIFY(QFile::remove(Db("SAFE/CUSTOMER.DB")));
    QFile(Db("METADATA/STRAY.DB")).open(QIODevice::WriteOnly);
    seen_.clear();
    QCOMPARE(Run(ttRestore, "MTDEMO"), kSuccess);
    QCOMPARE(Keys().first(), QString("LastDisk"));
    // After the directory (on the last disks), each disk once, in order from 1.
    QStringList disks;
    for (const auto& m : seen_) {
      if (m.Key == "DiskOfDisk") disks << m.Args.join('/');
    }
    const QString n = QString::number(volumes_.size());
    const QStringList data = disks.mid(disks.indexOf("1/" + n));
    QVERIFY2(!data.isEmpty(), qPrintable(disks.join(',')));
    for (int i = 0; i < data.size(); ++i) QCOMPARE(data[i], QString("%1/%2").arg(i + 1).arg(n));
    QCOMPARE(Tree(Db("METADATA")), meta);
    QCOMPARE(Tree(Db("SAFE")), safe);
    QCOMPARE(LiveRecords(), records);
    VerifyNoStrays();
    QCOMPARE(LogRecords("MTDEMO", ttRestore, trSuccess), 1);
  }

  void disksOfAnotherDatabaseOrDamagedAreRefused() {
    MakeDatabase();
    MakeForm();
    Backup();
    QVERIFY(CopyFiles(Db(), home_->Path("OTHER")));
    QVERIFY(CopyFiles(Db("METADATA"), home_->Path("OTHER/METADATA")));
    QVERIFY(CopyFiles(Db("SAFE"), home_->Path("OTHER/SAFE")));
    const auto other_meta = Tree(home_->Path("OTHER/METADATA"));
    const auto other_safe = Tree(home_->Path("OTHER/SAFE"));

    offered_name_ = "OTHER.DBK";
    QCOMPARE(Run(ttRestore, "OTHER"), QStringList{"Error"});
    QVERIFY(Keys().contains("RestoreNotOwned"));
    QCOMPARE(Tree(home_->Path("OTHER/METADATA")), other_meta);
    QCOMPARE(Tree(home_->Path("OTHER/SAFE")), other_safe);
    QVERIFY(!QDir(home_->Path("OTHER/METADA$$")).exists());

    // One flipped byte in a member's data on the first disk.
    const auto meta = Tree(Db("METADATA")), safe = Tree(Db("SAFE"));
    offered_name_ = "MTDEMO.DBK";
    QFile first(volumes_[0]);
    QVERIFY(first.open(QIODevice::ReadWrite));
    QByteArray data = first.readAll();
    const qsizetype header = data.indexOf("PK\x03\x04");
    QVERIFY(header >= 0);
    const qsizetype at = header + 30 + static_cast<unsigned char>(data[header + 26]) + 10;
    data[at] = static_cast<char>(data[at] ^ 0x55);
    first.seek(0);
    first.write(data);
    first.close();
    form_->SetBackupComplement(false);
    QCOMPARE(Run(ttRestore, "MTDEMO"), QStringList{"Error"});
    QVERIFY2(Keys().contains("RestoreCorrupted"), qPrintable(Keys().join(',')));
    QCOMPARE(Tree(Db("METADATA")), meta);
    QCOMPARE(Tree(Db("SAFE")), safe);
    VerifyNoStrays();
  }

  void cancelDuringBackupAndRestoreChangesNothing() {
    MakeDatabase();
    MakeForm();
    Backup();
    const auto meta = Tree(Db("METADATA")), safe = Tree(Db("SAFE"));
    // Cancel once the library works on its first file; the question is
    // answered Yes.
    for (TZipFile* zip : {&form_->Run().Zip()}) {
      auto minor = zip->OnMinorStatus;
      zip->OnMinorStatus = [this, minor](const std::string& item, int p, bool& cancel) {
        form_->ZipProgressDialog()->ButtonCancelClick();
        minor(item, p, cancel);
      };
    }
    auto minor = form_->Run().Unzip().OnMinorStatus;
    form_->Run().Unzip().OnMinorStatus = [this, minor](const std::string& item, int p,
                                                       bool& cancel) {
      form_->ZipProgressDialog()->ButtonCancelClick();
      minor(item, p, cancel);
    };
    const QStringList written = volumes_;
    volumes_.clear();
    form_->SetBackupComplement(false);
    QCOMPARE(Run(ttBackup, "MTDEMO"), (QStringList{"Canceled", "NoProblems", "RightNow"}));
    QVERIFY(Keys().contains("Cancel"));
    QVERIFY(!QFile::exists(Drive() + "/MTDEMO.DBK"));  // no half-written volume
    VerifyNoStrays();
    QCOMPARE(LogRecords("MTDEMO", ttBackup, trCancel), 1);

    // Cancel at a disk request is a cancel too.
    form_->Run().Zip().OnMinorStatus = nullptr;
    answers_["NextDisk"] = QMessageBox::Cancel;
    QCOMPARE(Run(ttBackup, "MTDEMO"), (QStringList{"Canceled", "NoProblems", "RightNow"}));
    QCOMPARE(LogRecords("MTDEMO", ttBackup, trCancel), 2);
    VerifyNoStrays();

    volumes_ = written;
    QCOMPARE(Run(ttRestore, "MTDEMO"), (QStringList{"Canceled", "NoProblems", "RightNow"}));
    QCOMPARE(Tree(Db("METADATA")), meta);
    QCOMPARE(Tree(Db("SAFE")), safe);
    VerifyNoStrays();
    QCOMPARE(LogRecords("MTDEMO", ttRestore, trCancel), 1);
  }

  // A restore killed while the work folders were set aside: the next run
  // of any tool puts the set-aside folders, the good copy, back first.
  void anInterruptedRestoreIsRolledBackByTheNextRun() {
    MakeDatabase();
    MakeForm();
    Backup();
    const auto meta = Tree(Db("METADATA")), safe = Tree(Db("SAFE"));
    for (TToolType tool : {ttRestore, ttPack}) {
      QVERIFY(QDir().rename(Db("METADATA"), Db("METADA$$")));
      QVERIFY(QDir().rename(Db("SAFE"), Db("SA$$")));
      QVERIFY(CopyFiles(Db("METADA$$"), Db("METADATA"), {"C*"}));  // half extracted
      QFile(Db("RESTORE.$$$")).open(QIODevice::WriteOnly);
      answers_["LastDisk"] = QMessageBox::Cancel;
      volumes_.clear();
      Run(tool, "MTDEMO");
      QCOMPARE(Tree(Db("METADATA")), meta);
      QCOMPARE(Tree(Db("SAFE")), safe);
      QVERIFY(!QFile::exists(Db("RESTORE.$$$")));
      VerifyNoStrays();
    }
    // Stopped after the marker, before or between the two renames.
    for (const bool metadataAside : {false, true}) {
      if (metadataAside) QVERIFY(QDir().rename(Db("METADATA"), Db("METADA$$")));
      QFile(Db("RESTORE.$$$")).open(QIODevice::WriteOnly);
      Run(ttPack, "MTDEMO");
      QCOMPARE(Tree(Db("METADATA")), meta);
      QCOMPARE(Tree(Db("SAFE")), safe);
      QVERIFY(!QFile::exists(Db("RESTORE.$$$")));
      VerifyNoStrays();
    }
    QCOMPARE(LogRecords("MTDEMO", ttRestore, trCancel), 1);
    QCOMPARE(LogRecords("MTDEMO", ttPack, trSuccess), 3);
  }

  // A volume folder that is, holds or lies in a database of the list, or
  // holds the program folder, is refused before anything on it is touched:
  // the message names the folder and why, and nothing is deleted or hidden.
  void volumeFoldersOfDatabasesOrTheProgramAreRefused() {
    MakeDatabase();
    QVERIFY(CopyFiles(Db("METADATA"), Db("SAFE")));
    QVERIFY(CopyFiles(Db("METADATA"), home_->Path("OTHER")));
    const struct {
      QString folder;
      QString key;
      QString why;
    } cases[] = {
        {home_->Path("OTHER"), "VolumeRefusedDatabase", home_->Path("OTHER")},
        {home_->Path(), "VolumeRefusedProgram", home_->Path()},
    };
    MakeForm();
    form_->SetBackupComplement(false);
    for (const auto& c : cases) {
      const QString folder = QFileInfo(c.folder).canonicalFilePath();
      home_->WriteDrives({{"A", folder.toStdString()}});
      const auto before = Tree(home_->Path());
      QCOMPARE(Run(ttBackup, "MTDEMO"), QStringList{"Error"});
      const qsizetype at = Keys().indexOf("BackupVolumeRefused");
      QVERIFY2(at >= 0, qPrintable(Keys().join(',')));
      QCOMPARE(seen_[at].Args.value(0), folder);
      QCOMPARE(seen_[at].Args.value(1),
               form_->FormatValue("Notifications", c.key,
                                  {QFileInfo(c.why).canonicalFilePath()}));
      QCOMPARE(Tree(home_->Path()).keys(), before.keys());
      VerifyNoStrays();
    }
  }

  // Crafted archives (Python's zipfile) with the alias as comment, restored
  // over MTDEMO: refused before METADATA and SAFE are touched, or restored
  // with only what lies in those two folders, in safe modes.
  void craftedArchivesChangeOnlyTheWorkFolders() {
    MakeDatabase();
    QVERIFY(CopyFiles(Db("METADATA"), Db("SAFE")));
    MakeForm();
    form_->SetBackupComplement(false);
    const QString t = "b'table'";
    const struct {
      QString entries;
      QString comment;
      QString key;  // the message shown; empty: success
    } cases[] = {
        {"[('RS/METADATA/A.DB', " + t + ", 0o644), ('RS/SAFE/A.DB', " + t + ", 0o644)]",
         "MTDEMO", "RestoreNoWorkFolders"},
        {"[('readme.txt', b'hello', 0o644)]", "MTDEMO", "RestoreNoWorkFolders"},
        {"[('METADATA/A.DB', " + t + ", 0o644)]", "", "RestoreNoComment"},
        {"[('METADATA', " + t + ", 0o644), ('SAFE/A.DB', " + t + ", 0o644)]", "MTDEMO",
         "RestoreUnsafeEntry"},
        {"[('METADATA', b'/etc', 0o120777), ('SAFE/A.DB', " + t + ", 0o644)]", "MTDEMO",
         "RestoreUnsafeEntry"},
        {"[('METADATA/A.DB', " + t + ", 0o644), ('CUSTOMER.DB', b'evil', 0o644), "
         "('METADA$$/A.DB', b'evil', 0o644), ('SA$$/A.DB', b'evil', 0o644), "
         "('SAFE/A.DB', " + t + ", 0o4777), ('SAFE/LINK', b'/etc/passwd', 0o120777), "
         "('SAFE/SUB/', b'', 0o40777), ('../UP.DB', b'evil', 0o644)]",
         "MTDEMO", ""},
    };
    const auto live = TopFiles(Db());
    for (const auto& c : cases) {
      const auto meta = Tree(Db("METADATA")), safe = Tree(Db("SAFE"));
      QVERIFY(Craft(Drive() + "/MTDEMO.DBK", c.entries, c.comment));
      seen_.clear();
      const QStringList end = Run(ttRestore, "MTDEMO");
      QVERIFY2(c.key.isEmpty() ? end == kSuccess : Keys().contains(c.key),
               qPrintable(c.entries + ": " + Keys().join(',')));
      QCOMPARE(TopFiles(Db()), live);
      VerifyNoStrays();
      if (!c.key.isEmpty()) {
        QCOMPARE(end, QStringList{"Error"});
        QCOMPARE(Tree(Db("METADATA")), meta);
        QCOMPARE(Tree(Db("SAFE")), safe);
        continue;
      }
      QCOMPARE(Tree(Db("METADATA")).keys(), QStringList{"A.DB"});
      QCOMPARE(Tree(Db("SAFE")).keys(), QStringList{"A.DB"});
      QVERIFY(!QFileInfo::exists(Db("SAFE/LINK")) && !QFileInfo(Db("SAFE/LINK")).isSymLink());
      const mode_t mask = umask(0);
      umask(mask);
      struct stat st {};
      QCOMPARE(::stat(qPrintable(Db("SAFE/A.DB")), &st), 0);
      QCOMPARE(st.st_mode & 07777, 0644 & ~mask);
      QCOMPARE(::stat(qPrintable(Db("SAFE/SUB")), &st), 0);
      QCOMPARE(st.st_mode & 07777, 0755 & ~mask);
      const QString detail = seen_.last().Detail;
      for (const char* name : {"CUSTOMER.DB", "METADA$$/A.DB", "SA$$/A.DB", "SAFE/LINK", "../UP.DB"}) {
        QVERIFY2(detail.contains(name), qPrintable(detail));
      }
      QVERIFY(!QFileInfo::exists(home_->Path("UP.DB")));
    }
  }

  // A text missing from the language file fails inside a library callback:
  // the library is stopped, the failure is shown once it has returned and
  // the run ends with an error, nothing left hidden or half-written.
  void aFailureInsideACallbackEndsTheRun() {
    MakeDatabase();
    QFile lang(home_->Path("Language.ini"));
    QVERIFY(lang.open(QIODevice::ReadOnly));
    QByteArray text = lang.readAll();
    lang.close();
    text.replace("Init=", "Unused=");
    QVERIFY(lang.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lang.write(text);
    lang.close();
    MakeForm();
    form_->SetBackupComplement(true);
    QCOMPARE(Run(ttBackup, "MTDEMO"), QStringList{"Error"});
    QCOMPARE(seen_[seen_.size() - 2].Section, QString());  // the exception's own text
    QVERIFY2(seen_[seen_.size() - 2].Key.contains("Init"), qPrintable(seen_[seen_.size() - 2].Key));
    QVERIFY(!QFile::exists(Drive() + "/MTDEMO.DBK"));
    VerifyNoStrays();
    QCOMPARE(LogRecords("MTDEMO", ttBackup, trError), 1);
    QVERIFY(!form_->ToolRunning);
  }

  void backupWithoutComplementNeedsTheSafeCopy() {
    MakeDatabase();
    MakeForm();
    form_->SetBackupComplement(false);
    QCOMPARE(Run(ttBackup, "MTDEMO"), (QStringList{"NoTables", "NotStarted"}));
    QVERIFY(!Keys().contains("FirstDisk"));
    QVERIFY(!QFile::exists(Drive() + "/MTDEMO.DBK"));
  }

  // From the command line the drive dialog asks, as CONFIRM is on at start.
  void commandLineBackupAsksForTheDrive() {
    MakeDatabase();
    form_ = std::make_unique<TFormVardex>(QStringList{"mtdemo", "-B"});
    form_->MessageHandler = [this](const TMessageRequest& m) { return Answer(m); };
    int terminated = 0;
    form_->TerminateHandler = [&terminated] { ++terminated; };
    bool shown = false;
    QTimer::singleShot(0, [&] {
      TFormSelectDrive* dialog = form_->SelectDriveDialog();
      shown = dialog->isVisible();
      QCOMPARE(dialog->windowTitle(), QString("Backup: MTDEMO"));
      QCOMPARE(dialog->findChild<QCheckBox*>("CheckComplement")->text(),
               QString("Execute the Copy tool first."));
      dialog->findChild<QPushButton*>("ButtonOk")->click();
    });
    form_->FormActivate();
    QVERIFY(shown);
    QCOMPARE(terminated, 1);
    QCOMPARE(LogRecords("MTDEMO", ttBackup, trSuccess), 1);
    QVERIFY(QFile::exists(Drive() + "/MTDEMO.DBK"));
  }
};

QTEST_MAIN(TBackupTest)
#include "fmVdxBackup_test.moc"
