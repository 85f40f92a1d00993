#include "app/viewer_compare.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTreeWidget>
#include <map>
#include <utility>

namespace varnel::app {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

const QColor kChanged(255, 236, 179);
const QColor kOnlyLeft(255, 205, 210);
const QColor kOnlyRight(200, 230, 201);

QColor colourOf(DiffKind kind) {
  switch (kind) {
    case DiffKind::kChanged:
      return kChanged;
    case DiffKind::kOnlyLeft:
      return kOnlyLeft;
    case DiffKind::kOnlyRight:
      return kOnlyRight;
    case DiffKind::kSame:
      break;
  }
  return {};
}

void paint(QTreeWidgetItem* item, DiffKind kind) {
  if (kind == DiffKind::kSame) return;
  for (int c = 0; c < item->columnCount(); ++c) item->setBackground(c, colourOf(kind));
}

QTreeWidgetItem* absentRow() {
  auto* item = new QTreeWidgetItem({"(absent)", QString(), QString()});
  item->setForeground(0, QColor(128, 128, 128));
  return item;
}

QTreeWidget* makeTree(QWidget* parent, const char* name) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(name);
  tree->setColumnCount(3);
  tree->setHeaderLabels({"Record / field", "Name", "Value"});
  tree->setUniformRowHeights(true);
  tree->setColumnWidth(0, 160);
  tree->setColumnWidth(1, 60);
  return tree;
}

// Everything the worker hands back.
struct Comparison {
  std::shared_ptr<const ViewedTransaction> left;
  std::shared_ptr<const ViewedTransaction> right;
  std::vector<RecordDiff> diff;
  QString reason;
};

}  // namespace

CCompareDlg::CCompareDlg(QWidget* parent) : QMainWindow(parent) {
  setObjectName("compareDlg");
  setWindowTitle("Varnel - Compare");
  auto* central = new QWidget(this);
  auto* grid = new QGridLayout(central);
  leftTitle_ = new QLabel(central);
  rightTitle_ = new QLabel(central);
  left_ = makeTree(central, "leftTree");
  right_ = makeTree(central, "rightTree");
  summary_ = new QLabel(central);
  summary_->setObjectName("compareSummary");
  grid->addWidget(leftTitle_, 0, 0);
  grid->addWidget(rightTitle_, 0, 1);
  grid->addWidget(left_, 1, 0);
  grid->addWidget(right_, 1, 1);
  grid->addWidget(summary_, 2, 0, 1, 2);
  setCentralWidget(central);

  // The two sides move together: scrolling, expanding and selecting.
  connect(left_->verticalScrollBar(), &QScrollBar::valueChanged, right_->verticalScrollBar(),
          &QScrollBar::setValue);
  connect(right_->verticalScrollBar(), &QScrollBar::valueChanged, left_->verticalScrollBar(),
          &QScrollBar::setValue);
  for (const auto& pair : {std::pair{left_, right_}, std::pair{right_, left_}}) {
    // Plain copies: clang 14 cannot capture a structured binding in a lambda.
    QTreeWidget* const from = pair.first;
    QTreeWidget* const to = pair.second;
    connect(from, &QTreeWidget::itemExpanded, this, [this, from, to] { syncExpansion(from, to); });
    connect(from, &QTreeWidget::itemCollapsed, this, [this, from, to] { syncExpansion(from, to); });
    connect(from, &QTreeWidget::currentItemChanged, this, [from, to](QTreeWidgetItem* item) {
      if (item == nullptr) return;
      const QModelIndex index = from->currentIndex();
      const QModelIndex up = index.parent();
      QTreeWidgetItem* peer = up.isValid() ? to->topLevelItem(up.row())->child(index.row())
                                           : to->topLevelItem(index.row());
      if (peer != nullptr && peer != to->currentItem()) to->setCurrentItem(peer);
    });
  }
  resize(1200, 700);
}

CCompareDlg::~CCompareDlg() { pool_.waitForDone(); }

void CCompareDlg::openFiles(const QString& left, const QString& right) {
  const unsigned generation = ++generation_;
  left_->clear();
  right_->clear();
  diff_.clear();
  error_.clear();
  leftTitle_->setText(QDir::toNativeSeparators(left));
  rightTitle_->setText(QDir::toNativeSeparators(right));
  summary_->setText("Reading and comparing...");
  setWindowTitle("Varnel - Compare - " + QFileInfo(left).fileName() + " / " +
                 QFileInfo(right).fileName());
  const std::string l = left.toStdString();
  const std::string r = right.toStdString();
  pool_.start([this, generation, l, r] {
    auto c = std::make_shared<Comparison>();
    std::string reason;
    if (openTransaction(l, c->left, reason) != 0) {
      c->reason = QString("%1: %2").arg(QString::fromStdString(l), qs(reason));
    } else if (openTransaction(r, c->right, reason) != 0) {
      c->reason = QString("%1: %2").arg(QString::fromStdString(r), qs(reason));
    } else {
      c->diff = diffTransactions(*c->left->file.transaction(), *c->right->file.transaction());
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, c] {
          finish(generation, std::move(c->left), std::move(c->right), std::move(c->diff),
                 c->reason);
        },
        Qt::QueuedConnection);
  });
}

void CCompareDlg::finish(unsigned generation, std::shared_ptr<const ViewedTransaction> left,
                         std::shared_ptr<const ViewedTransaction> right,
                         std::vector<RecordDiff> diff, const QString& reason) {
  if (generation != generation_) return;
  if (!left || !right) {
    error_ = reason;
    summary_->setText(reason);
    emit loadFailed(reason);
    return;
  }
  leftTx_ = std::move(left);
  rightTx_ = std::move(right);
  diff_ = std::move(diff);
  fill();
  summary_->setText(summaryText());
  emit compared();
}

QString CCompareDlg::summaryText() const {
  if (!error_.isEmpty()) return error_;
  int records = 0;
  int fields = 0;
  for (const RecordDiff& d : diff_) {
    if (d.kind != DiffKind::kSame) ++records;
    for (const FieldDiff& f : d.fields) fields += f.kind != DiffKind::kSame ? 1 : 0;
  }
  if (records == 0) return QString("The %1 records are the same.").arg(diff_.size());
  return QString(
             "%1 of %2 records differ (%3 fields). Amber: changed; red: only on the left; "
             "green: only on the right.")
      .arg(records)
      .arg(diff_.size())
      .arg(fields);
}

void CCompareDlg::fill() {
  left_->clear();
  right_->clear();
  const auto& lrec = leftTx_->file.transaction()->records;
  const auto& rrec = rightTx_->file.transaction()->records;
  const std::vector<RecordSummary> lsum = summarizeRecords(leftTx_->file);
  const std::vector<RecordSummary> rsum = summarizeRecords(rightTx_->file);
  for (const RecordDiff& d : diff_) {
    std::map<int, FieldRow> lf;
    std::map<int, FieldRow> rf;
    auto side = [&d](QTreeWidget* tree, int pos, const std::vector<transaction::Record>& recs,
                     const std::vector<RecordSummary>& sums, std::map<int, FieldRow>& fields) {
      QTreeWidgetItem* item = nullptr;
      if (pos < 0) {
        item = absentRow();
      } else {
        const RecordSummary& s = sums[pos];
        const QString idc = s.idc.empty() ? QString() : "IDC " + qs(s.idc);
        item = new QTreeWidgetItem({QString("Type-%1").arg(s.type), idc, qs(s.detail)});
        item->setToolTip(2, qs(s.text));
        for (FieldRow& f : fieldRows(recs[pos])) fields.emplace(f.number, std::move(f));
      }
      paint(item, d.kind);
      tree->addTopLevelItem(item);
      return item;
    };
    QTreeWidgetItem* l = side(left_, d.leftPosition, lrec, lsum, lf);
    QTreeWidgetItem* r = side(right_, d.rightPosition, rrec, rsum, rf);
    for (const FieldDiff& f : d.fields) {
      for (auto [parent, rows] : {std::pair{l, &lf}, std::pair{r, &rf}}) {
        auto it = rows->find(f.number);
        QTreeWidgetItem* child =
            it == rows->end() ? absentRow()
                              : new QTreeWidgetItem({qs(it->second.tag), qs(it->second.mnemonic),
                                                     qs(it->second.value)});
        if (it != rows->end()) child->setToolTip(2, qs(it->second.value));
        paint(child, f.kind);
        parent->addChild(child);
      }
    }
  }
}

void CCompareDlg::syncExpansion(QTreeWidget* from, QTreeWidget* to) {
  const int n = std::min(from->topLevelItemCount(), to->topLevelItemCount());
  for (int i = 0; i < n; ++i) {
    const bool open = from->topLevelItem(i)->isExpanded();
    if (to->topLevelItem(i)->isExpanded() != open) to->topLevelItem(i)->setExpanded(open);
  }
}

}  // namespace varnel::app
