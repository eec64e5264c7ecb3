// The details pane: gathering on a worker, showing on the window's thread.
#include "fmVdxDetails.h"

#include <QDir>
#include <QDirIterator>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QPointer>
#include <QStyle>
#include <QTableWidget>
#include <QTreeWidget>
#include <cmath>
#include <cstring>

#include "DbiStructure.h"
#include "Journal.h"
#include "ParadoxTable.h"
#include "Session.h"
#include "TableFiles.h"
#include "fmTableBrowser.h"
#include "fmVdx.h"
#include "svLog.h"

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
const char* const kKeptKinds[] = {"KEYVIOL", "PROBLEMS", "DAMAGED"};

engine::OpenOptions ReadOnlyOptions() {
  engine::OpenOptions options;
  options.lock = false;
  options.recover = false;
  options.useHeaderKey = true;  // counts and structure need no password
  return options;
}

QStringList TableFiles(const QString& folder) {
  QStringList out;
  const QDir dir(folder);
  for (const QFileInfo& fi : dir.entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
    if (fi.suffix().compare("db", Qt::CaseInsensitive) == 0) out << fi.filePath();
  }
  return out;
}

qint64 FamilyBytes(const std::string& db_path) {
  qint64 bytes = QFileInfo(QString::fromStdString(db_path)).size();
  for (const std::string& c : engine::CompanionFiles(db_path)) {
    bytes += QFileInfo(QString::fromStdString(c)).size();
  }
  return bytes;
}

bool SameFields(const std::vector<FLDDesc>& a, const std::vector<FLDDesc>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (QString::compare(a[i].szName, b[i].szName, Qt::CaseInsensitive) != 0 ||
        a[i].iFldType != b[i].iFldType || a[i].iUnits1 != b[i].iUnits1 ||
        a[i].iUnits2 != b[i].iUnits2) {
      return false;
    }
  }
  return true;
}

bool SameIndexes(const std::vector<IDXDesc>& a, const std::vector<IDXDesc>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::strcmp(a[i].szName, b[i].szName) != 0 || a[i].iFldsInKey != b[i].iFldsInKey ||
        a[i].bUnique != b[i].bUnique || a[i].bDescending != b[i].bDescending ||
        a[i].bCaseInsensitive != b[i].bCaseInsensitive ||
        std::memcmp(a[i].aiKeyFld, b[i].aiKeyFld, a[i].iFldsInKey * sizeof(a[i].aiKeyFld[0])) !=
            0) {
      return false;
    }
  }
  return true;
}

bool SameChecks(const std::vector<VCHKDesc>& a, const std::vector<VCHKDesc>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const VCHKDesc &x = a[i], &y = b[i];
    const std::size_t n = x.iValLen;
    if (x.iFldNum != y.iFldNum || x.bRequired != y.bRequired || x.bHasMinVal != y.bHasMinVal ||
        x.bHasMaxVal != y.bHasMaxVal || x.bHasDefVal != y.bHasDefVal || x.iValLen != y.iValLen ||
        std::strcmp(x.szPict, y.szPict) != 0 || x.elkupType != y.elkupType ||
        std::memcmp(x.aMinVal, y.aMinVal, n) != 0 || std::memcmp(x.aMaxVal, y.aMaxVal, n) != 0 ||
        std::memcmp(x.aDefVal, y.aDefVal, n) != 0) {
      return false;
    }
  }
  return true;
}

// Only the dependent's own links: those are what the reference defines.
QStringList DependentLinks(const std::vector<RINTDesc>& links) {
  QStringList names;
  for (const RINTDesc& l : links) {
    if (l.eType == rintDEPENDENT) {
      names << QString("%1>%2").arg(
          l.szRintName, QString::fromStdString(engine::FileNameOf(l.szTblName)).toUpper());
    }
  }
  names.sort();
  return names;
}

struct Opened {
  std::unique_ptr<engine::ParadoxTable> table;
  engine::TableStructure structure;
  engine::Status status;
};

Opened OpenWithStructure(const std::string& path) {
  Opened o;
  o.status = engine::ParadoxTable::Open(path, ReadOnlyOptions(), &o.table);
  if (o.status.ok()) {
    o.status = engine::ReadTableStructure(engine::Env::Default(), *o.table, &o.structure);
  }
  return o;
}

bool UpdateDue(const engine::TableStructure& live, const engine::TableStructure& ref) {
  if (!ref.valDecoded || !live.valDecoded) {
    // A level 3 .VAL is known only by its bytes.
    if (ref.valBytes != live.valBytes) return true;
  } else if (!SameChecks(ref.checks, live.checks) ||
             DependentLinks(ref.links) != DependentLinks(live.links)) {
    return true;
  }
  return !SameFields(ref.fields, live.fields) || !SameIndexes(ref.indexes, live.indexes);
}

TTableGlance Glance(const QString& path, const QString& reference_folder) {
  TTableGlance g;
  g.path = path;
  g.name = QFileInfo(path).fileName();
  const std::string p = path.toStdString();
  g.bytes = FamilyBytes(p);
  if (const std::string journal = engine::PendingReplacement(engine::Env::Default(), p);
      !journal.empty()) {
    g.problem = QString::fromStdString("pending: " + engine::BaseName(journal));
  }
  Opened live = OpenWithStructure(p);
  if (live.table) g.records = live.table->RecordCount();
  if (!live.status.ok()) {
    if (g.problem.isEmpty()) g.problem = QString::fromStdString(live.status.ToString());
    return g;
  }
  if (g.problem.isEmpty() && !live.structure.notes.empty()) {
    g.problem = QString::fromStdString(live.structure.notes.front());
  }
  if (reference_folder.isEmpty()) return g;
  const std::string ref_path =
      engine::FindNoCase(reference_folder.toStdString(), g.name.toStdString());
  if (!QFileInfo::exists(QString::fromStdString(ref_path))) {
    g.noReference = true;
    return g;
  }
  Opened ref = OpenWithStructure(ref_path);
  // A reference that cannot be read makes the Update refuse: it is due then too.
  g.updateDue = !ref.status.ok() || UpdateDue(live.structure, ref.structure);
  return g;
}

std::vector<TTableGlance> GlanceFolder(const QString& folder, const QString& reference_folder) {
  std::vector<TTableGlance> out;
  for (const QString& path : TableFiles(folder)) out.push_back(Glance(path, reference_folder));
  return out;
}

void ReadLog(const QString& log_path, const QString& alias, TDatabaseGlance* g) {
  if (!QFileInfo::exists(log_path)) return;
  std::unique_ptr<engine::ParadoxTable> log;
  engine::Status s = engine::ParadoxTable::Open(log_path.toStdString(), ReadOnlyOptions(), &log);
  const int f_alias = s.ok() ? log->FieldIndex("Alias") : -1;
  const int f_tool = s.ok() ? log->FieldIndex("Tool") : -1;
  const int f_result = s.ok() ? log->FieldIndex("Result") : -1;
  const int f_moment = s.ok() ? log->FieldIndex("Moment") : -1;
  if (!s.ok() || f_alias < 0 || f_tool < 0 || f_result < 0 || f_moment < 0) {
    g->logProblem = s.ok() ? QStringLiteral("VdxLog.db") : QString::fromStdString(s.ToString());
    return;
  }
  const std::string wanted = alias.toUpper().toStdString();
  double latest[kToolCount] = {};
  const double now = LogNow();
  engine::TableCursor cur = log->NewCursor();
  while (cur.Next()) {
    if (cur.Value(f_alias).s != wanted || cur.Value(f_result).s != "S") continue;
    const engine::FieldValue tool = cur.Value(f_tool), moment = cur.Value(f_moment);
    if (tool.s.size() != 1 || moment.null) continue;
    TToolType t;
    try {
      t = ToolFromLetter(tool.s[0]);
    } catch (...) {
      continue;
    }
    const double at = engine::ToDateTime(log->Fields()[f_moment], moment);
    if (at < now && at > latest[t]) latest[t] = at;  // future records do not count
  }
  if (!cur.status().ok()) g->logProblem = QString::fromStdString(cur.status().ToString());
  const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
  for (int t = 0; t < kToolCount; ++t) {
    if (latest[t] > 0) g->lastSuccess[t] = epoch.addMSecs(std::llround(latest[t] * 86400000.0));
  }
}

void GatherKept(const QString& base, const QString& prefix, TDatabaseGlance* g) {
  for (const char* kind : kKeptKinds) {
    const QString dir = engine::FindNoCase(base.toStdString(), kind).c_str();
    if (!QFileInfo(dir).isDir()) continue;
    QStringList folders{dir};
    if (QString(kind) == "DAMAGED") {
      folders.clear();
      for (const QFileInfo& fi :
           QDir(dir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        folders << fi.filePath();
      }
    }
    for (const QString& folder : folders) {
      const QString where = prefix + QDir(base).relativeFilePath(folder);
      for (TTableGlance& t : GlanceFolder(folder, QString())) g->kept.push_back({kind, where, t});
    }
  }
}

QString Size(qint64 bytes) { return QLocale().formattedDataSize(bytes); }

}  // namespace

QString QuickCheckTable(const QString& db_path) { return Glance(db_path, QString()).problem; }

TDatabaseGlance GatherDatabaseGlance(const QString& folder, const QString& alias,
                                     const QString& log_path) {
  TDatabaseGlance g;
  g.folder = folder;
  const auto sub = [&](const char* name) {
    return QString::fromStdString(engine::FindNoCase(folder.toStdString(), name));
  };
  const QString meta = sub("METADATA"), safe = sub("SAFE");
  g.live = GlanceFolder(folder, QFileInfo(meta).isDir() ? meta : QString());
  if (QFileInfo(meta).isDir()) g.metadata = GlanceFolder(meta, QString());
  g.hasSafe = QFileInfo(safe).isDir();
  if (g.hasSafe) {
    g.safe = GlanceFolder(safe, QString());
    for (QDirIterator it(safe, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
      const QFileInfo fi = it.nextFileInfo();
      g.safeBytes += fi.size();
      if (!g.safeDate.isValid() || fi.lastModified() > g.safeDate) g.safeDate = fi.lastModified();
    }
    GatherKept(safe, "SAFE/", &g);
  }
  GatherKept(folder, QString(), &g);
  ReadLog(log_path, alias, &g);
  return g;
}

TFormVdxDetails::TFormVdxDetails(TFormVardex* form) : QDockWidget(form), form_(form) {
  setObjectName("DetailsPane");
  setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  setWindowTitle(Text("PaneCaption"));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName("DetailsTree");
  tree_->setColumnCount(3);
  tree_->setHeaderLabels({Text("ColumnName"), Text("ColumnRecords"), Text("ColumnState")});
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  setWidget(tree_);
  pool_.setMaxThreadCount(1);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { OpenItem(item); });
  // After the window has taken the new selection over.
  connect(
      form->Grid()->selectionModel(), &QItemSelectionModel::currentChanged, this,
      [this] { SelectionChanged(); }, Qt::QueuedConnection);
  // The grid keeps its margin to the room the pane leaves.
  installEventFilter(this);
  form->addDockWidget(Qt::RightDockWidgetArea, this);
  resize(360, height());
}

TFormVdxDetails::~TFormVdxDetails() {
  pool_.clear();
  pool_.waitForDone();
}

QString TFormVdxDetails::Text(const char* key) const { return form_->Value("DetailsPane", key); }

bool TFormVdxDetails::eventFilter(QObject* watched, QEvent* e) {
  const auto type = e->type();
  // A hide that comes with the window's own (closing, ending) changes nothing.
  const bool closed_by_user = type == QEvent::Hide && isHidden() && form_->isVisible();
  if (watched == this && (type == QEvent::Resize || type == QEvent::Show || closed_by_user)) {
    form_->FormResize();
  }
  return QDockWidget::eventFilter(watched, e);
}

int TFormVdxDetails::Room() const {
  if (isHidden() || isFloating()) return 0;
  return width() + style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, this);
}

void TFormVdxDetails::SelectionChanged() {
  if (form_->CurrentPath != loaded_) Reload();
}

void TFormVdxDetails::Reload() {
  loaded_ = form_->CurrentPath;
  const int generation = ++generation_;
  pool_.clear();  // an older request not yet started is no longer wanted
  if (loaded_.isEmpty()) {
    Show(TDatabaseGlance());
    return;
  }
  const QString folder = loaded_, alias = form_->CurrentAlias;
  const QString log = QString::fromStdString(engine::ProgramFolder()) + "/" + kLogTableName;
  QPointer<TFormVdxDetails> self(this);
  pool_.start([self, generation, folder, alias, log] {
    auto glance = std::make_shared<TDatabaseGlance>(GatherDatabaseGlance(folder, alias, log));
    QMetaObject::invokeMethod(qApp, [self, generation, glance] {
      if (self && self->generation_ == generation) self->Show(*glance);
    });
  });
}

void TFormVdxDetails::Show(const TDatabaseGlance& glance) {
  glance_ = glance;
  tree_->clear();
  if (glance.folder.isEmpty()) {
    emit Shown();
    return;
  }
  const auto group = [this](const QString& title, const QString& state = QString()) {
    auto* item = new QTreeWidgetItem(tree_, {title, QString(), state});
    item->setExpanded(true);
    return item;
  };
  const auto add_table = [this](QTreeWidgetItem* parent, const TTableGlance& t, QString state) {
    if (!t.problem.isEmpty())
      state = form_->FormatValue("DetailsPane", "CheckFailed", {t.problem});
    else if (t.updateDue)
      state = Text("UpdateDue");
    else if (t.noReference)
      state = Text("NoReference");
    auto* item = new QTreeWidgetItem(
        parent, {t.name, t.records < 0 ? QString() : QString::number(t.records),
                 state.isEmpty() ? Size(t.bytes) : Size(t.bytes) + " · " + state});
    item->setData(0, kPathRole, t.path);
    item->setToolTip(0, t.path);
  };
  auto* live = group(Text("GroupTables"));
  for (const TTableGlance& t : glance.live) add_table(live, t, QString());
  auto* runs = group(Text("GroupLastRuns"));
  for (int t = 0; t < kToolCount; ++t) {
    const QDateTime& at = glance.lastSuccess[t];
    new QTreeWidgetItem(
        runs, {form_->Run().DisplayName(static_cast<TToolType>(t)), QString(),
               at.isValid() ? QLocale().toString(at, QLocale::ShortFormat) : Text("NeverRun")});
  }
  if (!glance.logProblem.isEmpty()) {
    new QTreeWidgetItem(runs,
                        {form_->FormatValue("DetailsPane", "LogUnreadable", {glance.logProblem})});
  }
  auto* safe = group(Text("GroupSafe"),
                     glance.hasSafe ? Size(glance.safeBytes) + " · " +
                                          QLocale().toString(glance.safeDate, QLocale::ShortFormat)
                                    : Text("NoSafe"));
  for (const TTableGlance& t : glance.safe) add_table(safe, t, QString());
  safe->setExpanded(false);
  auto* meta = group(Text("GroupMetadata"));
  for (const TTableGlance& t : glance.metadata) add_table(meta, t, QString());
  meta->setExpanded(false);
  auto* kept = group(Text("GroupKept"), glance.kept.empty() ? Text("NoneKept") : QString());
  for (const TKeptSet& k : glance.kept) add_table(kept, k.table, k.where);
  tree_->resizeColumnToContents(1);
  emit Shown();
}

bool TFormVdxDetails::OpenItem(QTreeWidgetItem* item) {
  const QString path = item ? item->data(0, kPathRole).toString() : QString();
  if (path.isEmpty()) return false;
  return TTableBrowser::Open(path, form_) != nullptr;
}
