// Property access by name on real widgets and on a widget publishing every
// kind: lookup without regard to case, kinds, conversions of texts, refusals
// that leave the object unchanged, and the sub-objects a control holds.
#include <QtTest>

#include "clTypInf.h"
#include "cpZelCtrls.h"

class TKindsWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Visible2 MEMBER visible2)
  Q_PROPERTY(int Count MEMBER count)
  Q_PROPERTY(char Letter MEMBER letter)
  Q_PROPERTY(QChar Wide MEMBER wide)
  Q_PROPERTY(double Ratio MEMBER ratio)
  Q_PROPERTY(QString Caption MEMBER caption)
  Q_PROPERTY(QByteArray Short MEMBER short_text)
  Q_PROPERTY(QVariant Any MEMBER any)
  Q_PROPERTY(TAlign Align MEMBER align)
  Q_PROPERTY(TStyles Styles READ Styles WRITE SetStyles)
  Q_PROPERTY(int ReadOnly READ ReadOnly)

 public:
  enum TAlign { alNone, alTop, alBottom, alLeft };
  Q_ENUM(TAlign)
  enum TStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4 };
  Q_DECLARE_FLAGS(TStyles, TStyle)
  Q_FLAG(TStyles)

  int ReadOnly() const { return 5; }
  TStyles Styles() const { return styles; }
  void SetStyles(TStyles s) { styles = s; }

  bool visible2 = false;
  int count = 0;
  char letter = 'a';
  QChar wide = u'a';
  double ratio = 0;
  QString caption;
  QByteArray short_text;
  QVariant any;
  TAlign align = alNone;
  TStyles styles;
};

namespace {
template <typename F>
QString ErrorOf(F&& f) {
  try {
    f();
  } catch (const EZelError& e) {
    return e.Message();
  }
  return "(no error)";
}
}  // namespace

class TypeInfoTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale::c()); }

  void LooksUpNamesWithoutRegardToCase() {
    TZelLabel label("LabelDatabase", "Database List", nullptr);
    TObjectInfoProvider info(&label);
    QVERIFY(info.HasProperty("caption"));
    QVERIFY(info.HasProperty("CAPTION"));
    QVERIFY(info.HasProperty("windowTitle"));  // inherited from QWidget
    QVERIFY(!info.HasProperty("Hint"));
    QCOMPARE(ErrorOf([&] { info.PropInfo("Nope"); }), QString("Property \"Nope\" not found"));
    QCOMPARE(ErrorOf([] { TObjectInfoProvider none(nullptr); }),
             QString("Invalid object reference"));
    QCOMPARE(ErrorOf([] { TTypeInfoProvider none(nullptr); }),
             QString("Invalid type info pointer"));
  }

  void MapsQtTypesOntoKinds() {
    TKindsWidget widget;
    TObjectInfoProvider info(&widget);
    const QList<QPair<const char*, TTypeKind>> expected = {
        {"Visible2", tkEnumeration}, {"Count", tkInteger},
        {"Letter", tkChar},          {"Wide", tkWChar},
        {"Ratio", tkFloat},          {"Caption", tkLString},
        {"Short", tkString},         {"Any", tkVariant},
        {"Align", tkEnumeration},    {"Styles", tkSet}};
    for (const auto& [name, kind] : expected) QCOMPARE(info.PropType(name)->Kind(), kind);
    QVERIFY(info.PropType("Visible2")->IsBoolean());
    QVERIFY(!info.PropType("Align")->IsBoolean());
    TZelMemo memo("Memo", nullptr);
    QCOMPARE(TObjectInfoProvider(&memo).PropType("Font")->Kind(), tkClass);
    // The own class first: "font" finds the memo's Font, not QWidget's font.
    QCOMPARE(TObjectInfoProvider(&memo).PropInfo("font").name(), "Font");
    // A value type without a kind (QWidget's own QFont) cannot be read.
    QLabel plain;
    QCOMPARE(ErrorOf([&] { TObjectInfoProvider(&plain).PropType("font"); }),
             QString("Invalid use of type info"));
  }

  void ReadsOrdinalTypes() {
    TKindsWidget widget;
    TObjectInfoProvider info(&widget);
    TTypeInfoProvider* align = info.PropType("Align");
    QCOMPARE(align->MinValue(), 0);
    QCOMPARE(align->MaxValue(), 3);
    QCOMPARE(align->GetEnumName(1), QString("alTop"));
    QCOMPARE(ErrorOf([&] { align->GetEnumName(4); }), QString("Enumeration value is out of range"));
    QCOMPARE(ErrorOf([&] { align->GetEnumName(-1); }),
             QString("Enumeration value is out of range"));
    QStringList names{"stale"};
    align->GetEnumNames(names);
    QCOMPARE(names, QStringList({"alNone", "alTop", "alBottom", "alLeft"}));
    QCOMPARE(info.PropType("Visible2")->GetEnumName(1), QString("True"));
    QCOMPARE(info.PropType("Count")->MaxValue(), 2147483647);
    QCOMPARE(info.PropType("Letter")->MaxValue(), 255);
    QCOMPARE(ErrorOf([&] { info.PropType("Caption")->MinValue(); }),
             QString("Invalid use of type info"));
    QCOMPARE(ErrorOf([&] { info.PropType("Count")->GetEnumName(0); }),
             QString("Invalid use of type info"));
    info.PropType("Count")->CheckKind(KindSet({tkInteger}), true);
    QCOMPARE(ErrorOf([&] { info.PropType("Count")->CheckKind(KindSet({tkInteger}), false); }),
             QString("Invalid use of type info"));
  }

  void CachesReadersByTheExactNameAsked() {
    TZelLabel label("L", "", nullptr);
    TObjectInfoProvider info(&label);
    TTypeInfoProvider* first = info.PropType("Caption");
    QCOMPARE(info.PropType("Caption"), first);
    QVERIFY(info.PropType("caption") != first);
  }

  void WritesTextsByKind() {
    TKindsWidget w;
    TObjectInfoProvider info(&w);
    info.SetPropValue("visible2", "True");
    QCOMPARE(w.visible2, true);
    info.SetPropValue("Visible2", "0");
    QCOMPARE(w.visible2, false);
    info.SetPropValue("Visible2", "1");
    QCOMPARE(w.visible2, true);
    info.SetPropValue("Visible2", "false");
    QCOMPARE(w.visible2, false);
    info.SetPropValue("Count", " 42 ");
    QCOMPARE(w.count, 42);
    info.SetPropValue("Letter", "66");
    QCOMPARE(w.letter, 'B');
    info.SetPropValue("Wide", "8364");
    QCOMPARE(w.wide, QChar(0x20AC));
    info.SetPropValue("Ratio", "2.5");
    QCOMPARE(w.ratio, 2.5);
    info.SetPropValue("Caption", "&Database");
    QCOMPARE(w.caption, QString("&Database"));
    info.SetPropValue("Short", "abc");
    QCOMPARE(w.short_text, QByteArray("abc"));
    info.SetPropValue("Any", 17);
    QCOMPARE(w.any, QVariant(17));
    info.SetPropValue("Align", "2");  // an enumeration is written from its ordinal
    QCOMPARE(w.align, TKindsWidget::alBottom);
    info.SetPropValue("Styles", "5");
    QCOMPARE(int(w.styles), 5);
  }

  void FloatsFollowTheUsersLocale() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TKindsWidget w;
    TObjectInfoProvider(&w).SetPropValue("Ratio", "1,5");
    QLocale::setDefault(QLocale::c());
    QCOMPARE(w.ratio, 1.5);
  }

  void RefusedWritesLeaveTheObjectAlone() {
    TKindsWidget w;
    w.align = TKindsWidget::alLeft;
    w.count = 7;
    w.visible2 = true;
    TObjectInfoProvider info(&w);
    const QString conversion = "Invalid variant type conversion";
    QCOMPARE(ErrorOf([&] { info.SetPropValue("Align", "alTop"); }), conversion);
    QCOMPARE(ErrorOf([&] { info.SetPropValue("Count", "12abc"); }), conversion);
    QCOMPARE(ErrorOf([&] { info.SetPropValue("Count", ""); }), conversion);
    QCOMPARE(ErrorOf([&] { info.SetPropValue("Visible2", "yes"); }), conversion);
    QCOMPARE(ErrorOf([&] { info.SetPropValue("Ratio", "fast"); }), conversion);
    QCOMPARE(ErrorOf([&] { info.SetPropValue("ReadOnly", "1"); }),
             QString("Invalid use of property"));
    QCOMPARE(w.align, TKindsWidget::alLeft);
    QCOMPARE(w.count, 7);
    QCOMPARE(w.visible2, true);
    TZelLabel label("L", "keep", nullptr);
    QCOMPARE(ErrorOf([&] { TObjectInfoProvider(&label).SetPropValue("Font", "Arial"); }),
             QString("Invalid use of property"));
    QCOMPARE(ErrorOf([&] { TObjectInfoProvider(&label).GetObjectProp("Caption"); }),
             QString("Invalid use of property"));
    QCOMPARE(label.text(), QString("keep"));
  }

  void ListsPropertiesAndSubObjects() {
    TZelMemo memo("MemoAttention", nullptr);
    QMenu popup;
    popup.setObjectName("PopupMemo");
    memo.SetPopupMenu(&popup);
    TObjectInfoProvider info(&memo);
    QStringList names{"stale"};
    info.GetPropNames(KindSet({tkClass}), names);
    QCOMPARE(names, QStringList({"Font", "Lines", "PopupMenu"}));
    QCOMPARE(info.GetObjectProp("popupmenu"), &popup);
    QList<QPair<QString, QObject*>> subs;
    info.GetSubObjects(subs);
    QCOMPARE(subs.size(), 2);
    QCOMPARE(subs[0].first, QString("Font"));
    QCOMPARE(subs[0].second, memo.Font());
    QCOMPARE(subs[1].first, QString("Lines"));
    QCOMPARE(subs[1].second, memo.Lines());
    memo.SetPopupMenu(nullptr);
    info.GetSubObjects(subs);
    QCOMPARE(subs.size(), 2);  // an empty object property is left out too
  }
};

QTEST_MAIN(TypeInfoTest)
#include "clTypInf_qtest.moc"
