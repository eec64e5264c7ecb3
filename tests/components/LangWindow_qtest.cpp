// Language sections applied to a window built like the program's windows:
// menus with captions and hints, a toolbar group, the window's own controls
// (a label inside a panel is left alone), sub-objects, and a message box
// whose caption and buttons come from "MessageDialog".
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QtTest>

#include "LangTestUtil.h"
#include "cpLang.h"
#include "cpZelCtrls.h"

namespace {

const QByteArray kEnglish =
    "[MenuCaptions]\nMenuDatabase=&Database\nMenuPassword=&Password...\nMenuExit=E&xit\n"
    "MenuTools=&Tools\nMenuUpdate=&Update...\n"
    "[MenuHints]\nMenuPassword=Sets the password\nMenuUpdate=Updates every table\n"
    "[SpeedButtonHints]\nSpdBtnUpdate=Update\nSpdBtnPack=Pack\n"
    "[MainWindow]\nFormCaption=Vardex\nLabelDatabase=Database List\nLabelInner=never shown\n"
    "[MenuContext]\nPopupUpdate=&Update...\n"
    "[Notifications]\nAreYouSure=Run %s now?\n"
    "[MessageDialog]\nConfirm=Confirm\nYes=&Yes\nNo=&No\n";

const QByteArray kGerman =
    "[MenuCaptions]\nMenuDatabase=&Datenbank\nMenuPassword=&Kennwort...\nMenuExit=&Beenden\n"
    "MenuTools=&Werkzeuge\nMenuUpdate=&Aktualisieren...\n"
    "[MenuHints]\nMenuPassword=Setzt das Kennwort\nMenuUpdate=Aktualisiert jede Tabelle\n"
    "[SpeedButtonHints]\nSpdBtnUpdate=Aktualisieren\nSpdBtnPack=Packen\n"
    "[MainWindow]\nFormCaption=Vardex (Deutsch)\nLabelDatabase=Datenbanken\n"
    "LabelInner=darf nicht erscheinen\n"
    "[MenuContext]\nPopupUpdate=A&ktualisieren...\n"
    "[Notifications]\nAreYouSure=%s jetzt ausführen?\n"
    "[MessageDialog]\nConfirm=Rückfrage\nYes=&Ja\nNo=&Nein\n";

// A small window laid out like the main window.
struct TTestWindow {
  QMainWindow window;
  TZelMenuItem* password;
  TZelMenuItem* exit;
  TZelMenuItem* update;
  TZelMenuItem* popup_update;
  TZelMenu* database;
  TZelMenu* tools;
  TZelMenu* popup;
  TZelSpeedButton* spd_update;
  TZelSpeedButton* spd_pack;
  TZelLabel* label;
  TZelLabel* inner;
  QWidget* toolbar;
  TZelLanguage* language;

  TTestWindow() {
    window.setObjectName("FormTest");
    window.setWindowTitle("design caption");
    database = new TZelMenu("MenuDatabase", "design database", &window);
    password = new TZelMenuItem("MenuPassword", "design password", &window);
    exit = new TZelMenuItem("MenuExit", "design exit", &window);
    database->addAction(password);
    database->addSeparator();
    database->addAction(exit);
    tools = new TZelMenu("MenuTools", "design tools", &window);
    update = new TZelMenuItem("MenuUpdate", "design update", &window);
    tools->addAction(update);
    window.menuBar()->addMenu(database);
    window.menuBar()->addMenu(tools);
    popup = new TZelMenu("PopupGrid", QString(), &window);
    popup_update = new TZelMenuItem("PopupUpdate", "design popup", &window);
    popup->addAction(popup_update);

    auto* central = new QWidget(&window);
    central->setObjectName("ClientArea");
    window.setCentralWidget(central);
    toolbar = new QWidget(central);
    toolbar->setObjectName("ToolBar");
    spd_update = new TZelSpeedButton("SpdBtnUpdate", toolbar);
    spd_pack = new TZelSpeedButton("SpdBtnPack", toolbar);
    label = new TZelLabel("LabelDatabase", "design label", central);
    auto* panel = new QFrame(central);
    panel->setObjectName("Panel");
    inner = new TZelLabel("LabelInner", "inner design", panel);
    window.statusBar()->setObjectName("StatusBar");

    language = new TZelLanguage(&window);
    language->AddSection("LangMenuC", "MenuCaptions", stMenu, "Caption", window.menuBar());
    language->AddSection("LangMenuHints", "MenuHints", stMenu, "Hint", window.menuBar());
    language->AddSection("LangSpeedHints", "SpeedButtonHints", stGroup, "Hint", toolbar);
    language->AddSection("LangMainWin", "MainWindow", stForm, "Caption");
    language->AddSection("LangNotify", "Notifications", stCustom);
    language->AddSection("LangMenuContext", "MenuContext", stMenu, "Caption", popup);
    language->Loaded();
  }
};

}  // namespace

class LanguageWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ChangedLanguageFileChangesEveryText() {
    TProgramFolder folder;
    folder.Write("Language.ini", kEnglish);
    folder.Write("Deutsch.ini", kGerman);
    TTestWindow w;
    QCOMPARE(w.database->title(), QString("&Database"));
    QCOMPARE(w.update->text(), QString("&Update..."));
    QCOMPARE(w.window.windowTitle(), QString("Vardex"));

    w.language->SetFileName("Deutsch.ini");
    QCOMPARE(w.database->title(), QString("&Datenbank"));
    QCOMPARE(w.password->text(), QString("&Kennwort..."));
    QCOMPARE(w.exit->text(), QString("&Beenden"));
    QCOMPARE(w.tools->title(), QString("&Werkzeuge"));
    QCOMPARE(w.update->text(), QString("&Aktualisieren..."));
    QCOMPARE(w.popup_update->text(), QString("A&ktualisieren..."));
    QCOMPARE(w.password->statusTip(), QString("Setzt das Kennwort"));
    QCOMPARE(w.update->statusTip(), QString("Aktualisiert jede Tabelle"));
    QCOMPARE(w.exit->statusTip(), QString());  // no key: the hint stays as designed
    QCOMPARE(w.spd_update->toolTip(), QString("Aktualisieren"));
    QCOMPARE(w.spd_pack->statusTip(), QString("Packen"));
    QCOMPARE(w.window.windowTitle(), QString("Vardex (Deutsch)"));
    QCOMPARE(w.label->text(), QString("Datenbanken"));
    QCOMPARE(w.inner->text(), QString("inner design"));  // inside a panel: left alone

    TBoxSeen seen;
    AnswerNextBox("Yes", &seen);
    QVERIFY(w.language->Section("Notifications")->Confirm({"AreYouSure"}, {QString("Packen")}));
    QCOMPARE(seen.text, QString::fromUtf8("Packen jetzt ausführen?"));
    QCOMPARE(seen.title, QString::fromUtf8("Rückfrage"));
    QCOMPARE(seen.button_names, QStringList({"Yes", "No"}));
    QCOMPARE(seen.captions["Yes"], QString("&Ja"));
    QCOMPARE(seen.captions["No"], QString("&Nein"));

    // Back to the default file; keys absent from it keep the texts applied.
    w.language->SetFileName(QString());
    QCOMPARE(w.database->title(), QString("&Database"));
    QCOMPARE(w.spd_pack->toolTip(), QString("Pack"));
  }

  void StatusBarShowsTheMenuHintForAButtonHint() {
    TProgramFolder folder;
    folder.Write("Language.ini", kEnglish);
    TTestWindow w;
    const TZelLangSection& speed = *w.language->Section("SpeedButtonHints");
    const TZelLangSection& menu = *w.language->Section("MenuHints");
    QCOMPARE(StatusBarHint("update", speed, menu, {"UPDATE"}),
             QString("update"));  // exact text only
    QCOMPARE(StatusBarHint("Update", speed, menu, {"UPDATE"}), QString("Updates every table"));
    QCOMPARE(StatusBarHint("Other text", speed, menu, {"UPDATE"}), QString("Other text"));
    QCOMPARE(ErrorOf([&] { StatusBarHint("Pack", speed, menu, {"PACK"}); }),
             QString("They entry MenuPACK was not found in section: MenuHints"));
  }

  void LowerCaseCaptionSetsNoWindowCaption() {
    TProgramFolder folder;
    folder.Write("Language.ini", "[Form]\nFormCaption=New caption\nLabelDatabase=New label\n");
    QWidget window;
    window.setWindowTitle("design");
    auto* label = new TZelLabel("LabelDatabase", "design", &window);
    auto* language = new TZelLanguage(&window);
    language->AddSection("LangForm", "Form", stForm, "caption");
    QCOMPARE(window.windowTitle(), QString("design"));
    QCOMPARE(label->text(), QString("New label"));
  }

  void SubObjectsAndStringLists() {
    TProgramFolder folder;
    folder.Write("Language.ini",
                 "[Lines]\nMemoAttention0=first line\nMemoAttention1=second line\n"
                 "MemoAttention3=after a gap\n"
                 "[Fonts]\nMemoAttention.Font=true\nLabelAttention.Font=1\n");
    QDialog dialog;
    auto* memo = new TZelMemo("MemoAttention", &dialog);
    auto* label = new TZelLabel("LabelAttention", "Pay Attention", &dialog);
    auto* language = new TZelLanguage(&dialog);
    language->AddSection("LangLines", "Lines", stForm, "Lines");
    QCOMPARE(memo->Lines()->Strings(), QStringList({"first line", "second line"}));
    language->AddSection("LangFonts", "Fonts", stForm, "Bold");
    QVERIFY(memo->font().bold());
    QVERIFY(label->font().bold());
    QCOMPARE(label->text(), QString("Pay Attention"));
  }

  void ComponentSectionsReachEveryComponentOfTheWindow() {
    TProgramFolder folder;
    folder.Write("Language.ini", "[Hints]\nMenuUpdate=hint of an item\nSpdBtnUpdate=button hint\n");
    QWidget window;
    auto* item = new TZelMenuItem("MenuUpdate", "Update", &window);
    auto* panel = new QWidget(&window);
    auto* button = new TZelSpeedButton("SpdBtnUpdate", panel);
    auto* language = new TZelLanguage(&window);
    auto* section = new TZelLangSection(&window);
    section->SetContainer(language);
    section->SetSectionName("Hints");
    section->SetPropertyName("Hint");  // turns the window's section into stGroup
    QCOMPARE(section->SectionType(), stGroup);
    QCOMPARE(item->statusTip(), QString());  // a menu item is no control
    section->SetSectionType(stComponent);
    QCOMPARE(item->statusTip(), QString("hint of an item"));
    QCOMPARE(button->toolTip(), QString());  // owned by the panel, not the window
  }

  void OneSectionCaptionsEveryKindOfComponent() {
    TProgramFolder folder;
    folder.Write("Language.ini",
                 "[Captions]\nLabelA=label\nButtonA=button\nCheckA=check\nMenuA=item\n"
                 "DialogA=dialog\n");
    QWidget window;
    auto* label = new TZelLabel("LabelA", "", &window);
    auto* button = new TZelButton("ButtonA", "", &window);
    auto* check = new TZelCheckBox("CheckA", "", &window);
    auto* item = new TZelMenuItem("MenuA", "", &window);
    auto* dialog = new TZelDialog("DialogA", &window);
    auto* language = new TZelLanguage(&window);
    language->AddSection("LangCaptions", "Captions", stComponent, "Caption");
    QCOMPARE(label->text(), QString("label"));
    QCOMPARE(button->text(), QString("button"));
    QCOMPARE(check->text(), QString("check"));
    QCOMPARE(item->text(), QString("item"));
    QCOMPARE(dialog->windowTitle(), QString("dialog"));
  }

  void BadValuesReachTheCaller() {
    TProgramFolder folder;
    folder.Write("Language.ini",
                 "[Checks]\nCheckComplement=maybe\n[Numbered]\nLabelDrive0=only numbered\n");
    QDialog dialog;
    auto* check = new TZelCheckBox("CheckComplement", "Execute", &dialog);
    check->setChecked(true);
    new TZelLabel("LabelDrive", "Drive", &dialog);
    auto* language = new TZelLanguage(&dialog);
    QCOMPARE(ErrorOf([&] { language->AddSection("LangChecks", "Checks", stForm, "Checked"); }),
             QString("Invalid variant type conversion"));
    QVERIFY(check->isChecked());
    QVERIFY(language->Section("Checks"));  // the section itself is kept
    QCOMPARE(ErrorOf([&] { language->AddSection("LangNumbered", "Numbered", stForm, "Caption"); }),
             QString("They entry LabelDrive was not found in section: Numbered"));
  }
};

QTEST_MAIN(LanguageWindowTest)
#include "LangWindow_qtest.moc"
