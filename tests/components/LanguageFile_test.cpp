// The shipped language files, English and every translation: every key the
// program looks up is there, under its section, as a single key, and its
// format directives fit the arguments it is formatted with; a translation
// holds exactly the sections and keys of the English file, with the same
// directives. Which file the user's locale chooses is tested last. Add a row
// to kKeys for every new lookup; the signature says how the text is used:
//   ""   looked up as it is (Values), never formatted
//   "-"  a message without arguments (formatted with one empty text)
//   "s", "d", "ss", "dd" ...  formatted with texts (s) and integers (d)
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include "TempDir.h"
#include "clFormat.h"
#include "cpLang.h"
#include "cpZelIniFile.h"

namespace {

struct TKeyUse {
  const char* section;
  const char* key;
  const char* args;
};

const TKeyUse kKeys[] = {
    // Main window.
    {"MainWindow", "FormCaption", ""},
    {"MainWindow", "LabelDatabase", ""},
    {"MainWindow", "AliasNameHeader", ""},
    {"MainWindow", "AliasPathHeader", ""},
    {"MenuCaptions", "MenuDatabase", ""},
    {"MenuCaptions", "MenuPassword", ""},
    {"MenuCaptions", "MenuExport", ""},
    {"MenuCaptions", "MenuExit", ""},
    {"MenuCaptions", "MenuTools", ""},
    {"MenuCaptions", "MenuUpdate", ""},
    {"MenuCaptions", "MenuCopy", ""},
    {"MenuCaptions", "MenuRetrieve", ""},
    {"MenuCaptions", "MenuBackup", ""},
    {"MenuCaptions", "MenuRestore", ""},
    {"MenuCaptions", "MenuPack", ""},
    {"MenuCaptions", "MenuHelp", ""},
    {"MenuCaptions", "MenuAbout", ""},
    {"MenuHints", "MenuPassword", ""},
    {"MenuHints", "MenuExport", ""},
    {"MenuHints", "MenuExit", ""},
    {"MenuHints", "MenuAbout", ""},
    {"MenuHints", "MenuUPDATE", ""},
    {"MenuHints", "MenuPACK", ""},
    {"MenuHints", "MenuCOPY", ""},
    {"MenuHints", "MenuRETRIEVE", ""},
    {"MenuHints", "MenuBACKUP", ""},
    {"MenuHints", "MenuRESTORE", ""},
    {"SpeedButtonHints", "SpdBtnUPDATE", ""},
    {"SpeedButtonHints", "SpdBtnPACK", ""},
    {"SpeedButtonHints", "SpdBtnCOPY", ""},
    {"SpeedButtonHints", "SpdBtnRETRIEVE", ""},
    {"SpeedButtonHints", "SpdBtnBACKUP", ""},
    {"SpeedButtonHints", "SpdBtnRESTORE", ""},
    {"MenuContext", "PopupUpdate", ""},
    {"MenuContext", "PopupCopy", ""},
    {"MenuContext", "PopupRetrieve", ""},
    {"MenuContext", "PopupBackup", ""},
    {"MenuContext", "PopupRestore", ""},
    {"MenuContext", "PopupPack", ""},
    {"ToolNames", "UPDATE", ""},
    {"ToolNames", "PACK", ""},
    {"ToolNames", "COPY", ""},
    {"ToolNames", "RETRIEVE", ""},
    {"ToolNames", "BACKUP", ""},
    {"ToolNames", "RESTORE", ""},
    // Progress captions, formatted with the alias or the table's file name.
    {"ProcessCaptions", "Organize", "s"},
    {"ProcessCaptions", "Check", "s"},
    {"ProcessCaptions", "Prepare", "s"},
    {"ProcessCaptions", "Pack", "s"},
    {"ProcessCaptions", "Table", "s"},
    {"ProcessCaptions", "Export", "s"},
    {"ProcessCaptions", "Copy", "s"},
    {"ProcessCaptions", "Update", "s"},
    {"ProcessCaptions", "Retrieve", "s"},
    // Messages of the runs and the main window.
    {"Notifications", "AreYouSure", "s"},
    {"Notifications", "CreateWorkFolders", "-"},
    {"Notifications", "RestoreWorkFolders", "-"},
    {"Notifications", "RemoveWorkFolders", "-"},
    {"Notifications", "LogCannotRegister", "-"},
    {"Notifications", "LogCannotCreate", "-"},
    {"Notifications", "LogBusy", "-"},
    {"Notifications", "InvalidToolParam", "-"},
    {"Notifications", "DatabaseNotFound", "-"},
    {"Notifications", "RestoreNotOwned", "-"},
    {"Notifications", "BackupCannotCreate", "d"},
    {"Notifications", "BackupCannotReadFile", "sd"},
    {"Notifications", "BackupVolumeRefused", "ss"},
    {"Notifications", "BackupOutOfMemory", "d"},
    {"Notifications", "BackupOtherError", "d"},
    {"Notifications", "RestoreCorrupted", "d"},
    {"Notifications", "RestoreOutOfMemory", "d"},
    {"Notifications", "RestoreCannotRead", "d"},
    {"Notifications", "RestoreOtherError", "d"},
    {"Notifications", "CannotExitApp", "ss"},
    {"Notifications", "CannotChangeAlias", "s"},
    {"Notifications", "Cancel", "s"},
    {"Notifications", "CaseTwins", "s"},
    {"Notifications", "RunLocked", "s"},
    // Backup and Restore.
    {"BackupProcess", "Wait", ""},
    {"BackupProcess", "Init", ""},
    {"BackupProcess", "DbItem", ""},
    {"BackupProcess", "DbOf", ""},
    {"BackupProcess", "FirstDisk", ""},
    {"BackupProcess", "LastDisk", ""},
    {"BackupProcess", "OpenError", ""},
    {"BackupProcess", "ReadError", ""},
    {"BackupProcess", "WriteError", ""},
    {"BackupProcess", "NotRemovable", ""},
    {"BackupProcess", "NotOwned", ""},
    {"BackupProcess", "BadFirstDisk", ""},
    {"BackupProcess", "Unknown", ""},
    {"BackupProcess", "Current", "s"},
    {"BackupProcess", "NextDisk", "d"},
    {"BackupProcess", "DiskOfDisk", "dd"},
    // Message boxes.
    {"MessageDialog", "Warning", ""},
    {"MessageDialog", "Error", ""},
    {"MessageDialog", "Info", ""},
    {"MessageDialog", "Confirm", ""},
    {"MessageDialog", "Yes", ""},
    {"MessageDialog", "No", ""},
    {"MessageDialog", "OK", ""},
    {"MessageDialog", "Cancel", ""},
    {"MessageDialog", "Help", ""},
    {"StandardButtons", "ButtonOk", ""},
    {"StandardButtons", "ButtonCancel", ""},
    // Password dialog.
    {"PasswordDialogCaptions", "FormCaption", ""},
    {"PasswordDialogCaptions", "LabelPassword", ""},
    {"PasswordDialogCaptions", "LabelConfirm", ""},
    {"PasswordDialogCaptions", "ButtonClear", ""},
    {"PasswordDialogCaptions", "LabelAttention", ""},
    {"PasswordDialogMessages", "PasswordNote", ""},
    {"PasswordDialogMessages", "DoNotMatch", "-"},
    // Export (fmVdxExport.cpp).
    {"Notifications", "ExportNoTables", "s"},
    {"Notifications", "ExportReplace", "s"},
    {"Notifications", "ExportDone", "s"},
    {"Notifications", "ExportSkipped", "ss"},
    {"Notifications", "ExportFailed", "s"},
    {"Notifications", "ExportCanceled", "s"},
    {"ExportDialog", "FormCaption", ""},
    {"ExportDialog", "LabelFormat", ""},
    {"ExportDialog", "LabelTarget", ""},
    {"ExportDialog", "ButtonBrowse", ""},
    {"ExportDialog", "FormatSqlite", ""},
    {"ExportDialog", "FormatCsv", ""},
    {"ExportDialog", "FormatJsonl", ""},
    // Details pane and table browser.
    {"DetailsPane", "PaneCaption", ""},
    {"DetailsPane", "ColumnName", ""},
    {"DetailsPane", "ColumnRecords", ""},
    {"DetailsPane", "ColumnState", ""},
    {"DetailsPane", "GroupTables", ""},
    {"DetailsPane", "GroupLastRuns", ""},
    {"DetailsPane", "GroupSafe", ""},
    {"DetailsPane", "GroupMetadata", ""},
    {"DetailsPane", "GroupKept", ""},
    {"DetailsPane", "UpdateDue", ""},
    {"DetailsPane", "NoReference", ""},
    {"DetailsPane", "NeverRun", ""},
    {"DetailsPane", "NoSafe", ""},
    {"DetailsPane", "NoneKept", ""},
    {"DetailsPane", "CheckFailed", "s"},
    {"DetailsPane", "LogUnreadable", "s"},
    {"TableBrowser", "PasswordCaption", ""},
    {"TableBrowser", "TabRecords", ""},
    {"TableBrowser", "TabStructure", ""},
    {"TableBrowser", "ButtonExport", ""},
    {"TableBrowser", "ColumnItem", ""},
    {"TableBrowser", "ColumnDetail", ""},
    {"TableBrowser", "Level", ""},
    {"TableBrowser", "BlockSize", ""},
    {"TableBrowser", "CodePage", ""},
    {"TableBrowser", "Protected", ""},
    {"TableBrowser", "Yes", ""},
    {"TableBrowser", "No", ""},
    {"TableBrowser", "Fields", ""},
    {"TableBrowser", "Key", ""},
    {"TableBrowser", "Indexes", ""},
    {"TableBrowser", "Unique", ""},
    {"TableBrowser", "Descending", ""},
    {"TableBrowser", "CaseInsensitive", ""},
    {"TableBrowser", "Checks", ""},
    {"TableBrowser", "Required", ""},
    {"TableBrowser", "Minimum", ""},
    {"TableBrowser", "Maximum", ""},
    {"TableBrowser", "Default", ""},
    {"TableBrowser", "Picture", ""},
    {"TableBrowser", "Lookup", ""},
    {"TableBrowser", "Links", ""},
    {"TableBrowser", "Dependent", ""},
    {"TableBrowser", "Master", ""},
    {"TableBrowser", "Cascade", ""},
    {"TableBrowser", "Restrict", ""},
    {"TableBrowser", "Unreadable", ""},
    {"TableBrowser", "Note", ""},
    {"TableBrowser", "FormCaption", "s"},
    {"TableBrowser", "PasswordPrompt", "s"},
    {"TableBrowser", "CannotOpen", "ss"},
    {"TableBrowser", "CannotReadBlob", "s"},
    {"PlanDialog", "FormCaption", "s"},
    {"PlanDialog", "Reading", "s"},
    {"PlanDialog", "Done", ""},
    {"PlanDialog", "ColumnTable", ""},
    {"PlanDialog", "ColumnRecords", ""},
    {"PlanDialog", "ColumnKeyViol", ""},
    {"PlanDialog", "ColumnProblems", ""},
    {"PlanDialog", "ButtonClose", ""},
    {"PlanDialog", "NoChange", ""},
    {"PlanDialog", "CannotRead", "s"},
    {"PlanDialog", "ExampleKeyViol", "s"},
    {"PlanDialog", "ExampleProblems", "s"},
    {"PlanDialog", "ChangeFieldAdded", ""},
    {"PlanDialog", "ChangeFieldRemoved", ""},
    {"PlanDialog", "ChangeFieldRetyped", ""},
    {"PlanDialog", "ChangeFieldNarrowed", ""},
    {"PlanDialog", "ChangeFieldMoved", ""},
    {"PlanDialog", "ChangeFieldRenamed", ""},
    {"PlanDialog", "ChangeKeyChanged", ""},
    {"PlanDialog", "ChangeIndexAdded", ""},
    {"PlanDialog", "ChangeIndexDropped", ""},
    {"PlanDialog", "ChangeIndexChanged", ""},
    {"PlanDialog", "ChangeCheckAdded", ""},
    {"PlanDialog", "ChangeCheckDropped", ""},
    {"PlanDialog", "ChangeCheckChanged", ""},
    {"PlanDialog", "ChangeLinkAdded", ""},
    {"PlanDialog", "ChangeLinkDropped", ""},
    {"PlanDialog", "ChangeLinkChanged", ""},
    {"MenuCaptions", "MenuPreviewUpdate", ""},
    {"MenuHints", "MenuPreviewUpdate", ""},
    // Drive selection dialog.
    {"SelectDriveDialogCaptions", "FormCaption", ""},
    {"SelectDriveDialogCaptions", "LabelDrive", ""},
    {"SelectDriveDialogCaptions", "CheckComplement", ""},
    {"SelectDriveDialogCaptions", "LabelAttention", ""},
    {"SelectDriveDialogMessages", "TargetDrive", ""},
    {"SelectDriveDialogMessages", "ExecuteCopy", ""},
    {"SelectDriveDialogMessages", "BackupNote", ""},
    {"SelectDriveDialogMessages", "SourceDrive", ""},
    {"SelectDriveDialogMessages", "ExecuteRetrieve", ""},
    {"SelectDriveDialogMessages", "RestoreNote", ""},
    {"SelectDriveDialogMessages", "Medium", "ss"},
};

// Messages built from several "Notifications" keys, joined line by line and
// formatted together, with the number of display-name arguments.
struct TMessageUse {
  std::initializer_list<const char*> keys;
  int names;
};

const TMessageUse kMessages[] = {
    {{"Success", "RightNow"}, 1},
    {{"Canceled", "NoProblems", "RightNow"}, 1},
    {{"NotFinished", "Update", "Continue"}, 2},
    {{"NotFinished", "Repeat", "Continue"}, 2},
    {{"NotFinished", "Update"}, 1},
    {{"NotFinished", "Repeat"}, 1},
    {{"Error"}, 1},
    {{"GiveUp"}, 1},
    {{"NoTables", "NotStarted"}, 1},
    {{"NotMatch", "NotStarted"}, 1},
    {{"Protected", "Password", "NotStarted"}, 1},
    {{"Corrupted", "Fixed", "NotStarted"}, 1},
    {{"Busy", "CloseApps", "NotStarted"}, 1},
    {{"Protected", "NewPassword"}, 0},
};

// Language.ini and every Language.<lang>.ini beside it.
std::vector<std::string> LanguageFiles() {
  std::vector<std::string> files;
  const QFileInfo english(VARDEX_LANGUAGE_FILE);
  for (const QFileInfo& file :
       english.dir().entryInfoList({"Language*.ini"}, QDir::Files, QDir::Name)) {
    files.push_back(file.fileName().toStdString());
  }
  return files;
}

QString LanguagePath(const std::string& name) {
  return QFileInfo(VARDEX_LANGUAGE_FILE).dir().filePath(QString::fromStdString(name));
}

class LanguageFileTest : public ::testing::TestWithParam<std::string> {
 protected:
  QString Text(const QString& section, const QString& key) {
    return ini_.ReadString(section, key, QString());
  }
  bool Has(const QString& section, const QString& key) {
    QStringList keys;
    ini_.ReadSection(section, keys);
    return keys.contains(key, Qt::CaseInsensitive);
  }
  QString Path() const { return LanguagePath(GetParam()); }
  TZelIniFile ini_{Path()};
};

QVariantList ArgsFor(const char* signature) {
  QVariantList args;
  for (const char* c = signature; *c; ++c) {
    if (*c == 's') args << QString("NAME");
    if (*c == 'd') args << 7;
  }
  if (QString(signature) == "-") args << QString();
  return args;
}

TEST_P(LanguageFileTest, EveryKeyTheProgramLooksUpIsThere) {
  ASSERT_TRUE(ini_.Load()) << Path().toStdString();
  for (const TKeyUse& use : kKeys) {
    EXPECT_TRUE(Has(use.section, use.key)) << use.section << "/" << use.key;
    EXPECT_FALSE(Text(use.section, use.key).isEmpty()) << use.section << "/" << use.key;
  }
}

TEST_P(LanguageFileTest, FormatDirectivesFitTheirArguments) {
  for (const TKeyUse& use : kKeys) {
    if (!*use.args) continue;
    const QString text = Text(use.section, use.key);
    QString out;
    EXPECT_TRUE(FormatArgs(text, ArgsFor(use.args), out)) << use.section << "/" << use.key;
    // Every argument shows: a directive for each, none left over.
    const QString signature = use.args;
    if (signature != "-") {
      EXPECT_FALSE(out.contains('%')) << use.key;
    }
    if (signature.contains('s')) {
      EXPECT_TRUE(out.contains("NAME")) << use.key;
    }
    if (signature.contains('d')) {
      EXPECT_TRUE(out.contains('7')) << use.key;
    }
  }
  for (const TMessageUse& message : kMessages) {
    QStringList lines;
    QVariantList args;
    for (const char* key : message.keys) {
      EXPECT_TRUE(Has("Notifications", key)) << key;
      lines << Text("Notifications", key);
    }
    for (int i = 0; i < message.names; ++i) args << QString("NAME");
    if (args.isEmpty()) args << QString();
    QString out;
    EXPECT_TRUE(FormatArgs(lines.join('\r'), args, out)) << lines.join(" | ").toStdString();
  }
}

TEST_P(LanguageFileTest, EveryLineIsAnEntryASectionOrAComment) {
  QFile file(Path());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
  const QStringList lines = TZelIniFile::DecodeLines(bytes);
  QString section;
  QSet<QString> seen;
  for (int i = 0; i < lines.size(); ++i) {
    const QString line = lines[i].trimmed();
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[')) {
      section = line.mid(1, line.indexOf(']') - 1).toLower();
      EXPECT_FALSE(seen.contains("[" + section)) << "section twice: " << line.toStdString();
      seen << "[" + section;
      continue;
    }
    const int equals = line.indexOf('=');
    ASSERT_GT(equals, 0) << "line " << i + 1 << ": " << line.toStdString();
    const QString key = section + "/" + line.left(equals).trimmed().toLower();
    EXPECT_FALSE(seen.contains(key)) << "key twice: " << key.toStdString();
    seen << key;
    EXPECT_LE(line.size() - equals - 1, TZelIniFile::kMaxValueLength) << key.toStdString();
  }
}

// The format directives of a text, in order ("%s", "%1:s", "%d" ...).
QStringList Directives(const QString& text) {
  static const QRegularExpression directive("%(\\d+:)?-?\\d*(\\.\\d+)?[sdSD%]");
  QStringList found;
  for (auto it = directive.globalMatch(text); it.hasNext();) found << it.next().captured();
  return found;
}

// The section names of a language file, in order.
QStringList Sections(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList sections;
  for (const QString& line : TZelIniFile::DecodeLines(file.readAll())) {
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith('[')) sections << trimmed.mid(1, trimmed.indexOf(']') - 1);
  }
  return sections;
}

TEST_P(LanguageFileTest, TranslatesEverySectionAndKeyOfTheEnglishFile) {
  TZelIniFile english(VARDEX_LANGUAGE_FILE);
  const QStringList sections = Sections(VARDEX_LANGUAGE_FILE);
  const QStringList translated = Sections(Path());
  EXPECT_EQ(QSet<QString>(translated.begin(), translated.end()),
            QSet<QString>(sections.begin(), sections.end()));
  for (const QString& section : sections) {
    QStringList keys, own;
    english.ReadSection(section, keys);
    ini_.ReadSection(section, own);
    EXPECT_EQ(QSet<QString>(own.begin(), own.end()), QSet<QString>(keys.begin(), keys.end()))
        << section.toStdString();
    for (const QString& key : keys) {
      const QString where = section + "/" + key;
      EXPECT_FALSE(Text(section, key).isEmpty()) << where.toStdString();
      EXPECT_EQ(Directives(Text(section, key)),
                Directives(english.ReadString(section, key, QString())))
          << where.toStdString();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, LanguageFileTest, ::testing::ValuesIn(LanguageFiles()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(LanguageChoice, TheLocaleChoosesTheFileAndEnglishIsLeftOver) {
  // LC_ALL, LC_MESSAGES, LANG ("-" unset), files in the program folder, the
  // file chosen ("=" for the program folder's) and its Exit caption.
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    const char* own_files;
    const char* chosen;
    const char* exit;
  };
  const Case cases[] = {
      {"-", "-", "de_DE.UTF-8", "", ":/vardex/Language.de.ini", "&Beenden"},
      {"-", "-", "C", "", ":/vardex/Language.ini", "E&xit"},
      {"-", "-", "-", "", ":/vardex/Language.ini", "E&xit"},
      {"C.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", "", ":/vardex/Language.ini", "E&xit"},
      {"", "-", "de_AT@euro", "", ":/vardex/Language.de.ini", "&Beenden"},
      {"-", "de_CH", "en_US.UTF-8", "", ":/vardex/Language.de.ini", "&Beenden"},
      {"-", "-", "fr_FR.UTF-8", "Language.ini", "=Language.ini", "Own"},
      {"-", "-", "de_DE.UTF-8", "Language.ini Language.de.ini", "=Language.de.ini", "Own"},
      {"-", "-", "POSIX", "Language.ini Language.de.ini", "=Language.ini", "Own"},
      {"-", "-", "de_DE", "Language.ini", ":/vardex/Language.de.ini", "&Beenden"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    for (const QString& name : QString(c.own_files).split(' ', Qt::SkipEmptyParts)) {
      folder.Write(name.toStdString(), "[MenuCaptions]\nMenuExit=Own\n");
    }
    qputenv("VARDEX_HOME", QByteArray::fromStdString(folder.Dir()));
    const std::pair<const char*, const char*> settings[] = {
        {"LC_ALL", c.lc_all}, {"LC_MESSAGES", c.lc_messages}, {"LANG", c.lang}};
    for (const auto& [variable, value] : settings) {
      if (QByteArray(value) == "-") {
        qunsetenv(variable);
      } else {
        qputenv(variable, value);
      }
    }
    QObject window;
    const QString chosen = (new TZelLanguage(&window))->DefaultFileName();
    qunsetenv("VARDEX_HOME");
    const QString expected =
        c.chosen[0] == '=' ? QString::fromStdString(folder / (c.chosen + 1)) : QString(c.chosen);
    const std::string row = std::string(c.lc_all) + " " + c.lc_messages + " " + c.lang;
    EXPECT_EQ(chosen, expected) << row;
    TZelIniFile file(chosen);
    EXPECT_EQ(file.ReadString("MenuCaptions", "MenuExit", QString()), c.exit) << row;
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) qunsetenv(variable);
}

}  // namespace
