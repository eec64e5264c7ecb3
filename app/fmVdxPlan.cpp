// Tools > Preview Update...: what an Update of the selected database would do,
// table by table, in a read-only dialog: the structure changes against
// METADATA and the records a dry run of the restructure sets aside for
// KEYVIOL and PROBLEMS, with a few of each. The dry run reads every record,
// so it runs on a thread of its own and the window stays responsive; the
// dialog fills when it is done. Texts come from section "PlanDialog".
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QThreadPool>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

#include "RestructurePreview.h"
#include "Session.h"
#include "fmVdx.h"

namespace {

// The language key of a change kind: "Change" and the kind in words
// ("ChangeFieldAdded").
QString ChangeKey(engine::PlanChange::Kind kind) {
  QString key = "Change";
  for (const QString& word : QString(engine::PlanChangeName(kind)).split(' '))
    key += word.left(1).toUpper() + word.mid(1);
  return key;
}

class TFormPlan : public QDialog {
 public:
  TFormPlan(TFormVardex* owner, const QString& alias) : QDialog(owner), owner_(owner) {
    setObjectName("FormPlan");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(owner->FormatValue("PlanDialog", "FormCaption", {alias}));
    status_ = new QLabel(owner->FormatValue("PlanDialog", "Reading", {alias}), this);
    status_->setObjectName("LabelStatus");
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("TreePlan");
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setHeaderLabels({Text("ColumnTable"), Text("ColumnRecords"), Text("ColumnKeyViol"),
                            Text("ColumnProblems")});
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree_->setMinimumSize(640, 360);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName("ButtonClose");
    buttons->button(QDialogButtonBox::Close)->setText(Text("ButtonClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(tree_);
    layout->addWidget(buttons);
  }

  void Fill(const std::vector<engine::TablePlan>& plans) {
    status_->setText(Text("Done"));
    for (const engine::TablePlan& plan : plans) {
      auto* row = new QTreeWidgetItem(tree_, {QString::fromStdString(plan.table)});
      if (!plan.status.ok()) {
        Child(row, owner_->FormatValue("PlanDialog", "CannotRead",
                                       {QString::fromStdString(plan.status.ToString())}));
        continue;
      }
      row->setText(1, QString::number(plan.report.records));
      row->setText(2, QString::number(plan.report.keyViolations));
      row->setText(3, QString::number(plan.report.problems));
      if (plan.changes.empty()) Child(row, Text("NoChange"));
      for (const engine::PlanChange& c : plan.changes) {
        QString line = Text(ChangeKey(c.kind)) + ": " + QString::fromStdString(c.name);
        if (!c.from.empty() || !c.to.empty())
          line += "  " + QString::fromStdString(c.from) + " \u2192 " + QString::fromStdString(c.to);
        Child(row, line.trimmed());
      }
      for (const std::string& e : plan.report.keyViolExamples)
        Child(row, owner_->FormatValue("PlanDialog", "ExampleKeyViol", {QString::fromStdString(e)}));
      for (const std::string& e : plan.report.problemExamples)
        Child(row,
              owner_->FormatValue("PlanDialog", "ExampleProblems", {QString::fromStdString(e)}));
      row->setExpanded(plan.report.keyViolations || plan.report.problems || !plan.changes.empty());
    }
  }

 private:
  QString Text(const QString& key) const { return owner_->Value("PlanDialog", key); }
  static void Child(QTreeWidgetItem* parent, const QString& text) {
    auto* item = new QTreeWidgetItem(parent, {text});
    item->setFirstColumnSpanned(true);
  }

  TFormVardex* owner_;
  QLabel* status_;
  QTreeWidget* tree_;
};

}  // namespace

void TFormVardex::PreviewUpdate() {
  if (ToolRunning || CurrentAlias.isEmpty() || CurrentPath.isEmpty()) return;
  auto* dialog = new TFormPlan(this, CurrentAlias);
  dialog->show();
  // Everything the thread needs is copied here; the result comes back to
  // the window's thread, to a dialog that may have been closed meanwhile.
  const std::string folder = CurrentPath.toStdString();
  const std::vector<std::string> passwords = engine::TSession::Default().Passwords();
  const std::string password = passwords.empty() ? std::string() : passwords.front();
  // The application waits for the global pool when it ends, so a preview
  // still reading then never outlives the program's objects.
  QPointer<TFormPlan> target(dialog);
  QThreadPool::globalInstance()->start([folder, password, target] {
    auto plans = std::make_shared<std::vector<engine::TablePlan>>(
        engine::PlanDatabase(folder, password));
    QMetaObject::invokeMethod(
        qApp, [target, plans] { if (target) target->Fill(*plans); }, Qt::QueuedConnection);
  });
}
