// The table browser: the lazy record model, the blob viewer and the
// structure tab.
#include "fmTableBrowser.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "DbiCalls.h"
#include "DbiStructure.h"
#include "FieldText.h"
#include "fmVdx.h"

std::function<bool(const QString&, QString*)> TTableBrowser::PasswordPrompt;
std::function<void(QWidget*)> TTableBrowser::ViewerShown;

TRecordModel::TRecordModel(std::unique_ptr<engine::ParadoxTable> table, QObject* parent)
    : QAbstractTableModel(parent), table_(std::move(table)), cursor_(table_->NewCursor()) {}

int TRecordModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_->RecordCount());
}

int TRecordModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_->Fields().size());
}

QVariant TRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return QString::fromStdString(table_->Text(table_->Fields()[section].name));
}

QVariant TRecordModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return CellText(index.row(), index.column());
}

QString TRecordModel::CellText(int row, int column) const {
  const Page* page = PageOf(row);
  if (!page) return error_;
  const std::size_t at = static_cast<std::size_t>(row % kPageRows);
  return at < page->size() ? (*page)[at].value(column) : QString();
}

QString TRecordModel::Render(const engine::TableCursor& cur, int column) const {
  const engine::FieldDesc& f = table_->Fields()[static_cast<std::size_t>(column)];
  const engine::FieldValue v = cur.Value(column);
  if (v.null) return {};
  switch (engine::KindOf(f.type)) {
    case engine::FieldKind::Text:
      return QString::fromStdString(table_->Text(v.s));
    case engine::FieldKind::Memo: {
      // The leader the record carries, up to its first line.
      const QString leader = QString::fromStdString(table_->Text(v.blob.leader));
      const QString first = leader.section('\n', 0, 0).trimmed();
      const bool more =
          v.blob.length > v.blob.leader.size() || first.size() < leader.trimmed().size();
      return more ? first + QStringLiteral("…") : first;
    }
    case engine::FieldKind::Binary:
      return QStringLiteral("(%1: %2)").arg(engine::TypeLetter(f.type)).arg(v.blob.length);
    case engine::FieldKind::Bytes:
      return QString::fromLatin1(QByteArray::fromStdString(v.s).toHex(' '));
    default:
      return QString::fromStdString(engine::ValueText(f.type, v));
  }
}

const TRecordModel::Page* TRecordModel::PageOf(int row) const {
  const int number = row / kPageRows;
  if (auto it = pages_.find(number); it != pages_.end()) {
    if (recent_.front() != number) {
      recent_.remove(number);
      recent_.push_front(number);
    }
    return &it->second;
  }
  engine::Status s = cursor_.Seek(static_cast<std::uint32_t>(number) * kPageRows);
  Page page;
  const int columns = columnCount();
  while (s.ok() && page.size() < static_cast<std::size_t>(kPageRows) && cursor_.Next()) {
    QStringList cells;
    cells.reserve(columns);
    for (int c = 0; c < columns; ++c) cells << Render(cursor_, c);
    page.push_back(std::move(cells));
  }
  if (s.ok()) s = cursor_.status();
  if (!s.ok()) {
    error_ = QString::fromStdString(s.ToString());
    if (page.empty()) return nullptr;
  }
  if (pages_.size() >= static_cast<std::size_t>(kPages)) {
    pages_.erase(recent_.back());
    recent_.pop_back();
  }
  recent_.push_front(number);
  return &(pages_[number] = std::move(page));
}

engine::Status TRecordModel::Value(int row, int column, engine::FieldValue* out) const {
  engine::TableCursor cur = table_->NewCursor();
  engine::Status s = cur.Seek(static_cast<std::uint32_t>(row));
  if (s.ok() && !cur.Next())
    s = cur.status().ok() ? engine::Status(DBIERR_EOF, "no record") : cur.status();
  if (s.ok()) *out = cur.Value(column);
  return s;
}

TTableBrowser* TTableBrowser::Open(const QString& path, TFormVardex* form) {
  engine::OpenOptions options;
  options.lock = false;     // reads only; the tools may still take the table
  options.recover = false;  // never writes
  if (!form->Password().isEmpty()) options.passwords.push_back(form->Password().toStdString());
  const QString name = QFileInfo(path).fileName();
  bool cancelled = false;
  options.request_password = [&](std::vector<std::string>* passwords) {
    QString password;
    bool ok = false;
    if (PasswordPrompt) {
      ok = PasswordPrompt(name, &password);
    } else {
      password = QInputDialog::getText(form, form->Value("TableBrowser", "PasswordCaption"),
                                       form->FormatValue("TableBrowser", "PasswordPrompt", {name}),
                                       QLineEdit::Password, QString(), &ok);
    }
    if (ok) passwords->push_back(password.toStdString());
    cancelled = !ok;
    return ok;
  };
  std::unique_ptr<engine::ParadoxTable> table;
  const engine::Status s = engine::ParadoxTable::Open(path.toStdString(), options, &table);
  if (!s.ok()) {
    if (cancelled) return nullptr;  // the user's own choice needs no message
    form->ShowMessageKey("TableBrowser", "CannotOpen",
                         {name, QString::fromStdString(s.ToString())});
    return nullptr;
  }
  auto* browser = new TTableBrowser(std::move(table), path, form);
  browser->setAttribute(Qt::WA_DeleteOnClose);
  browser->setWindowTitle(form->FormatValue("TableBrowser", "FormCaption", {path}));
  browser->show();
  return browser;
}

TTableBrowser::TTableBrowser(std::unique_ptr<engine::ParadoxTable> table, const QString& path,
                             TFormVardex* form)
    : QDialog(form), form_(form), path_(path) {
  setObjectName("TableBrowser");
  resize(900, 560);
  model_ = new TRecordModel(std::move(table), this);
  auto* tabs = new QTabWidget(this);
  records_ = new QTableView(tabs);
  records_->setObjectName("Records");
  records_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  records_->verticalHeader()->setDefaultSectionSize(records_->fontMetrics().height() + 6);
  records_->setModel(model_);
  records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(records_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ViewBlob(index.row(), index.column()); });
  structure_ = new QTreeWidget(tabs);
  structure_->setObjectName("Structure");
  structure_->setHeaderLabels({Text("ColumnItem"), Text("ColumnDetail")});
  tabs->addTab(records_, Text("TabRecords"));
  tabs->addTab(structure_, Text("TabStructure"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  auto* export_button = new QPushButton(Text("ButtonExport"), this);
  export_button->setObjectName("ButtonExport");
  connect(export_button, &QPushButton::clicked, this, [this] { form_->ExportTable(path_); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(export_button);
  layout->addLayout(buttons);
  FillStructure();
}

QString TTableBrowser::Text(const char* key) const { return form_->Value("TableBrowser", key); }

QWidget* TTableBrowser::ViewBlob(int row, int column) {
  const engine::ParadoxTable& table = model_->Table();
  const engine::FieldDesc& f = table.Fields()[static_cast<std::size_t>(column)];
  if (!engine::IsBlobType(f.type)) return nullptr;
  engine::FieldValue v;
  engine::Status s = model_->Value(row, column, &v);
  std::string data;
  if (s.ok() && !v.null) s = table.ReadBlob(column, v, &data);
  if (!s.ok()) {
    form_->ShowMessageKey("TableBrowser", "CannotReadBlob", {QString::fromStdString(s.ToString())});
    return nullptr;
  }
  auto* viewer = new QDialog(this);
  viewer->setObjectName("BlobViewer");
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->setWindowTitle(
      QString("%1 · %2").arg(QString::fromStdString(table.Text(f.name))).arg(row + 1));
  auto* layout = new QVBoxLayout(viewer);
  QImage image;
  const bool text = engine::KindOf(f.type) == engine::FieldKind::Memo;
  if (!text && image.loadFromData(QByteArray::fromStdString(data))) {
    auto* label = new QLabel(viewer);
    label->setObjectName("Image");
    label->setPixmap(QPixmap::fromImage(image));
    auto* scroll = new QScrollArea(viewer);
    scroll->setWidget(label);
    layout->addWidget(scroll);
  } else {
    auto* edit = new QPlainTextEdit(viewer);
    edit->setObjectName("Text");
    edit->setReadOnly(true);
    // Memo text in the table's code page; other data as hex, the first 64 KiB.
    edit->setPlainText(
        text ? QString::fromStdString(table.Text(data))
             : QString::fromLatin1(QByteArray::fromStdString(data.substr(0, 65536)).toHex(' ')));
    layout->addWidget(edit);
  }
  viewer->resize(640, 480);
  if (ViewerShown)
    ViewerShown(viewer);
  else
    viewer->show();
  return viewer;
}

void TTableBrowser::FillStructure() {
  const engine::ParadoxTable& table = model_->Table();
  const auto& fields = table.Fields();
  const auto field_name = [&](int number) {
    return number >= 1 && number <= static_cast<int>(fields.size())
               ? QString::fromStdString(table.Text(fields[number - 1].name))
               : QString::number(number);
  };
  const auto group = [this](const char* key, const QString& detail = QString()) {
    auto* item = new QTreeWidgetItem(structure_, {Text(key), detail});
    item->setExpanded(true);
    return item;
  };
  CURProps props{};
  if (DbiGetCursorProps(const_cast<engine::ParadoxTable*>(&table), props) == 0) {
    group("Level", QString::number(props.iTblLevel));
    group("BlockSize", QString::number(props.iBlockSize * 1024));
  }
  group("CodePage", QString::number(table.TextCodePage()));
  group("Protected", table.Protected() ? Text("Yes") : Text("No"));
  auto* field_group = group("Fields", QString::number(fields.size()));
  for (const engine::FieldDesc& f : fields) {
    QString type(engine::TypeLetter(f.type));
    if (f.type == engine::FieldType::Alpha || engine::IsBlobType(f.type))
      type += QString::number(f.size - (engine::IsBlobType(f.type) ? 10 : 0));
    if (f.type == engine::FieldType::Bcd) type += QString::number(f.decimals);
    new QTreeWidgetItem(field_group, {QString::fromStdString(table.Text(f.name)), type});
  }
  engine::TableStructure st;
  const engine::Status s = engine::ReadTableStructure(engine::Env::Default(), table, &st);
  if (!s.ok()) {
    group("Unreadable", QString::fromStdString(s.ToString()));
    return;
  }
  const auto key_fields = [&](const IDXDesc& idx) {
    QStringList names;
    for (int k = 0; k < idx.iFldsInKey; ++k) names << field_name(idx.aiKeyFld[k]);
    return names.join(", ");
  };
  QTreeWidgetItem* indexes = nullptr;
  for (const IDXDesc& idx : st.indexes) {
    if (idx.bPrimary) {
      group("Key", key_fields(idx));
      continue;
    }
    if (!indexes) indexes = group("Indexes");
    QStringList flags;
    if (idx.bUnique) flags << Text("Unique");
    if (idx.bDescending) flags << Text("Descending");
    if (idx.bCaseInsensitive) flags << Text("CaseInsensitive");
    new QTreeWidgetItem(
        indexes, {QString::fromStdString(table.Text(idx.szName)),
                  key_fields(idx) + (flags.isEmpty() ? QString() : " (" + flags.join(", ") + ")")});
  }
  if (!st.checks.empty() || st.legacyCheckCount) {
    auto* checks =
        group("Checks", st.valDecoded ? QString() : QString::number(st.legacyCheckCount));
    for (const VCHKDesc& c : st.checks) {
      QStringList parts;
      const engine::FieldDesc* f =
          c.iFldNum >= 1 && c.iFldNum <= fields.size() ? &fields[c.iFldNum - 1] : nullptr;
      const auto value = [&](const std::uint8_t* stored) {
        return f ? QString::fromStdString(
                       table.Text(engine::ValueText(f->type, engine::CheckValue(*f, stored))))
                 : QString();
      };
      if (c.bRequired) parts << Text("Required");
      if (c.bHasMinVal) parts << Text("Minimum") + " " + value(c.aMinVal);
      if (c.bHasMaxVal) parts << Text("Maximum") + " " + value(c.aMaxVal);
      if (c.bHasDefVal) parts << Text("Default") + " " + value(c.aDefVal);
      if (c.szPict[0]) parts << Text("Picture") + " " + QString::fromLatin1(c.szPict);
      if (c.elkupType != lkupNONE)
        parts << Text("Lookup") + " " + QString::fromStdString(engine::FileNameOf(c.szLkupTblName));
      new QTreeWidgetItem(checks, {field_name(c.iFldNum), parts.join("; ")});
    }
  }
  if (!st.links.empty()) {
    auto* links = group("Links");
    for (const RINTDesc& l : st.links) {
      QStringList mine;
      for (int k = 0; k < l.iFldCount; ++k) mine << field_name(l.aiThisTabFld[k]);
      new QTreeWidgetItem(
          links, {QString::fromLatin1(l.szRintName),
                  QString("%1 %2 (%3) %4")
                      .arg(Text(l.eType == rintDEPENDENT ? "Dependent" : "Master"),
                           QString::fromStdString(engine::FileNameOf(l.szTblName)), mine.join(", "),
                           Text(l.eModOp == rintCASCADE ? "Cascade" : "Restrict"))
                      .trimmed()});
    }
  }
  for (const std::string& note : st.notes) group("Note", QString::fromStdString(note));
  structure_->resizeColumnToContents(0);
}
