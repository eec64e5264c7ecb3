// Setup components and sections over INI files: the owner rules, the rules
// of the section properties, keyed lookup, where the file is looked for, and
// that every load sees the file as it is now.
#include <QMenu>
#include <QtTest>

#include "LangTestUtil.h"
#include "cpLang.h"

class SetupTest : public QObject {
  Q_OBJECT

 private slots:
  void OwnerRules() {
    QCOMPARE(ErrorOf([] { TZelLanguage none(nullptr); }), QString("A owner is always required"));
    QWidget window;
    new TZelLanguage(&window);
    QCOMPARE(ErrorOf([&] { new TZelLanguage(&window); }),
             QString("Only one TZelLanguage per owner is allowed"));
    QCOMPARE(ErrorOf([&] { new TZelIni(&window); }),
             QString("Only one TZelIni per owner is allowed"));
    QWidget other;
    new TZelIni(&other);
    new TZelLanguage(&other);  // a language after a plain INI component is accepted
    QCOMPARE(other.findChildren<TZelIni*>().size(), 2);
    QCOMPARE(window.findChildren<TZelIni*>().size(), 1);  // refused ones are gone
  }

  void SectionTypeRules() {
    TProgramFolder folder;
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* section = new TZelLangSection(&window);
    section->SetContainer(language);
    QCOMPARE(section->SectionType(), stCustom);
    section->SetPropertyName("Hint");
    QCOMPARE(section->SectionType(), stGroup);

    section->SetSectionType(stForm);
    QCOMPARE(section->PropertyName(), QString("Hint"));
    QMenu menu(&window);
    section->SetMenu(&menu);
    QCOMPARE(section->SectionType(), stMenu);
    QCOMPARE(section->PropertyName(), QString("Caption"));
    QCOMPARE(section->Group(), nullptr);
    QWidget panel(&window);
    section->SetGroup(&panel);
    QCOMPARE(section->SectionType(), stGroup);
    QCOMPARE(section->Menu(), nullptr);

    section->SetSectionType(stCustom);
    QVERIFY(section->PropertyName().isEmpty());
    QCOMPARE(section->Group(), nullptr);
    section->SetSectionType(stForm);
    QCOMPARE(section->PropertyName(), QString("Caption"));

    // A section of a component that is no window starts as stComponent and
    // can take no other type.
    QObject component;
    auto* ini = new TZelIni(&component);
    auto* plain = new TZelIniSection(&component);
    plain->SetContainer(ini);
    QCOMPARE(plain->SectionType(), stComponent);
    QCOMPARE(ErrorOf([&] { plain->SetSectionType(stMenu); }), QString("The owner is not a TForm"));
    QCOMPARE(ErrorOf([&] { plain->SetSectionType(stGroup); }),
             QString("The stComponent is required when owner is a TComponent"));
    // A panel is a windowed control but no window.
    QWidget holder;
    auto* child = new QWidget(&holder);
    auto* panel_ini = new TZelIni(child);
    auto* panel_section = new TZelIniSection(child);
    panel_section->SetContainer(panel_ini);
    QCOMPARE(ErrorOf([&] { panel_section->SetSectionType(stForm); }),
             QString("The owner is not a TForm"));
    panel_section->SetSectionType(stGroup);
    QCOMPARE(panel_section->SectionType(), stGroup);
  }

  void KeyedLookup() {
    TProgramFolder folder;
    folder.Write("Language.ini",
                 "[Texts]\nAlpha=first\nK0=zero\nK1=one\nB=bee\nA0=a0\nA1=a1\nA3=a3\n"
                 "Both=own\nBoth0=hidden\n");
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* texts = language->AddSection("LangTexts", "Texts", stCustom);
    QCOMPARE(texts->objectName(), QString("LangTexts"));
    QCOMPARE(texts->Values("ALPHA"), QString("first"));
    QVERIFY(texts->HasEntry("alpha"));
    QVERIFY(!texts->Empty());
    QCOMPARE(ErrorOf([&] { texts->Values("K"); }),
             QString("They entry K was not found in section: Texts"));
    QStringList lines;
    texts->GetTexts({"K"}, lines);
    QCOMPARE(lines, QStringList({"zero", "one"}));
    texts->GetTexts({"A", "B"}, lines);
    QCOMPARE(lines, QStringList({"a0", "a1", "bee"}));  // A3 stands after a gap
    texts->GetTexts({"Both"}, lines);
    QCOMPARE(lines, QStringList({"own"}));
    texts->GetTexts({"Missing", "K", "Missing"}, lines);
    QCOMPARE(lines, QStringList({"zero", "one"}));
  }

  void FindsTheFileAndRereadsIt() {
    TProgramFolder folder;
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* texts = language->AddSection("LangTexts", "Texts", stCustom);
    QVERIFY(texts->Empty());  // no file at all: nothing loaded, nothing reported

    folder.Write("Language.ini", "[Texts]\nWho=default\n");
    folder.Write("German.ini", "[Texts]\nWho=bare name\n");
    language->SetFileName("German.ini");  // a bare name is looked for in the program folder
    QCOMPARE(texts->Values("Who"), QString("bare name"));
    language->SetFileName(folder.Path("German.ini"));
    QCOMPARE(texts->Values("Who"), QString("bare name"));
    language->SetFileName("Missing.ini");  // falls back to the default file
    QCOMPARE(texts->Values("Who"), QString("default"));
    language->SetFileName(QString());
    QCOMPARE(texts->Values("Who"), QString("default"));

    folder.Write("Language.ini", "[Texts]\nWho=edited\n");
    texts->Refresh();  // each load sees the file as it is now
    QCOMPARE(texts->Values("Who"), QString("edited"));

    // An unreadable file is a skipped load: the entries stay.
    QFile::remove(folder.Path("Language.ini"));
    QVERIFY(QDir(folder.Path()).mkdir("Language.ini"));
    texts->Refresh();
    QCOMPARE(texts->Values("Who"), QString("edited"));
  }

  void WritingTakesTheNamedFileAndNeverTheProgram() {
    TProgramFolder folder;
    QWidget window;
    auto* ini = new TZelIni(&window);
    ini->SetFileName("Settings.ini");
    // Reading a missing bare name falls back to the default; writing makes it.
    QVERIFY(ini->OpenIniFile(false) == nullptr);
    auto file = ini->OpenIniFile(true);
    QCOMPARE(file->FileName(), folder.Path("Settings.ini"));

    ini->SetFileName(QString());
    const QString program = QFileInfo("/proc/self/exe").canonicalFilePath();
    const QString fallback = ini->DefaultFileName();
    QVERIFY(fallback != program);
    QCOMPARE(QFileInfo(fallback).fileName(), QFileInfo(program).fileName() + ".ini");

    auto* section = new TZelIniSection(&window);
    section->SetContainer(ini);
    section->SetSectionName("Options");
    QVERIFY(section->BeginWrite());
    section->WriteValue("Confirm", true);
    section->WriteValue("", "ignored");
    section->EndWrite();
    QFile written(fallback);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("[Options]\nConfirm=true\n"));
    section->Refresh();
    QCOMPARE(section->Values("confirm"), QString("true"));
  }

  void SectionNamesAndTheReservedName() {
    TProgramFolder folder;
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* section = language->AddSection("LangTools", "Tools", stCustom);
    section->SetSectionName("ToolNames");
    QCOMPARE(section->objectName(), QString("LangToolNames"));
    QCOMPARE(language->Section("toolnames"), section);
    QCOMPARE(ErrorOf([&] { section->SetSectionName("MessageDialog"); }),
             QString("This name is for internal use only: MessageDialog"));
    QCOMPARE(ErrorOf([&] { language->AddSection("LangMsg", "messagedialog", stCustom); }),
             QString("This name is for internal use only: messagedialog"));
    QCOMPARE(language->Count(), 1);
    QVERIFY(!window.findChild<QObject*>("LangMsg"));
    delete section;
    QCOMPARE(language->Count(), 0);
  }
};

QTEST_MAIN(SetupTest)
#include "cpZelSetup_qtest.moc"
