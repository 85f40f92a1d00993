#include "app/viewer_dlg.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QUrl>
#include <utility>

#include "app/shell.h"
#include "app/viewer_compare.h"
#include "app/viewer_image.h"

namespace varnel::app {
namespace {

// What a tree row stands for, kept in its data.
enum RowKind { kRecordRow = 1, kFieldRow, kSubfieldRow, kItemRow };
constexpr int kKindRole = Qt::UserRole;
constexpr int kPositionRole = Qt::UserRole + 1;
constexpr int kFieldRole = Qt::UserRole + 2;     // index of the field in its record
constexpr int kSubfieldRole = Qt::UserRole + 3;  // index of the subfield in its field
// A row whose children are built when it is first expanded carries one of these.
constexpr const char* kPendingText = "...";

QString qs(const std::string& s) { return QString::fromStdString(s); }

QTreeWidgetItem* row(RowKind kind, int position, int field, int subfield, const QString& a,
                     const QString& b, const QString& c) {
  auto* item = new QTreeWidgetItem({a, b, c});
  item->setData(0, kKindRole, kind);
  item->setData(0, kPositionRole, position);
  item->setData(0, kFieldRole, field);
  item->setData(0, kSubfieldRole, subfield);
  return item;
}

void markPending(QTreeWidgetItem* item) { item->addChild(new QTreeWidgetItem({kPendingText})); }

// Result of decoding one image on a worker thread.
struct DecodedImage {
  QImage image;
  std::vector<MinutiaMark> marks;
  QString note;
};

}  // namespace

CViewerDlg::CViewerDlg(Shell& shell, QWidget* parent) : QMainWindow(parent), shell_(shell) {
  setObjectName("viewerDlg");
  setWindowTitle("Varnel - Viewer");
  setAcceptDrops(true);

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("recordTree");
  tree_->setColumnCount(3);
  tree_->setHeaderLabels({"Record / field", "Name", "Value"});
  tree_->setUniformRowHeights(true);
  tree_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
  tree_->setColumnWidth(0, 170);
  tree_->setColumnWidth(1, 70);
  connect(tree_, &QTreeWidget::itemExpanded, this, &CViewerDlg::expandItem);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { currentChanged(current); });

  image_ = new ImageView(this);
  auto* split = new QSplitter(this);
  split->addWidget(tree_);
  split->addWidget(image_);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  setCentralWidget(split);

  status_ = new QLabel(this);
  status_->setObjectName("viewerStatus");
  statusBar()->addWidget(status_, 1);
  buildMenus();
  image_->showMessage("Open a transaction file (File > Open, or drop it here).");
  resize(1100, 700);
}

CViewerDlg::~CViewerDlg() { pool_.waitForDone(); }

void CViewerDlg::buildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, this, &CViewerDlg::openCommand);
  file->addAction("&Compare With...", this, &CViewerDlg::compareCommand);
  file->addSeparator();
  file->addAction("&Close", QKeySequence::Close, this, &QWidget::close);
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction("Zoom &In", QKeySequence::ZoomIn, image_, &ImageView::zoomIn);
  view->addAction("Zoom &Out", QKeySequence::ZoomOut, image_, &ImageView::zoomOut);
  view->addAction("&Fit to Window", QKeySequence(Qt::CTRL | Qt::Key_0), image_,
                  &ImageView::zoomToFit);
  view->addAction("&Actual Size", QKeySequence(Qt::CTRL | Qt::Key_1), image_,
                  &ImageView::zoomActual);
  view->addSeparator();
  marks_ = view->addAction("Show &Minutiae", image_, &ImageView::setMarksVisible);
  marks_->setCheckable(true);
  marks_->setChecked(true);
}

void CViewerDlg::openCommand() {
  const QString dir = viewed_ ? QFileInfo(qs(viewed_->path)).absolutePath() : QString();
  const QString path = shell_.pickOpenFile(this, dir, kTransactionFilter);
  if (!path.isEmpty()) openFile(path);
}

void CViewerDlg::compareCommand() {
  const QString dir = viewed_ ? QFileInfo(qs(viewed_->path)).absolutePath() : QString();
  // The file shown is the left side; without one, both sides are picked.
  const QString left =
      viewed_ ? qs(viewed_->path) : shell_.pickOpenFile(this, dir, kTransactionFilter);
  if (left.isEmpty()) return;
  const QString right = shell_.pickOpenFile(this, dir, kTransactionFilter);
  if (right.isEmpty()) return;
  auto* dlg = new CCompareDlg(this);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->openFiles(left, right);
  dlg->show();
}

void CViewerDlg::openFile(const QString& path) {
  const unsigned generation = ++loadGeneration_;
  ++imageGeneration_;
  tree_->clear();
  records_.clear();
  viewed_.reset();
  shownPosition_ = -1;
  error_.clear();
  setWindowTitle("Varnel - Viewer - " + QFileInfo(path).fileName());
  status_->setText("Reading " + QDir::toNativeSeparators(path) + "...");
  image_->showMessage("Reading...");
  setCursor(Qt::BusyCursor);
  const std::string file = path.toStdString();
  pool_.start([this, generation, file] {
    std::shared_ptr<const ViewedTransaction> viewed;
    std::string reason;
    std::vector<RecordSummary> records;
    if (openTransaction(file, viewed, reason) == 0) records = summarizeRecords(viewed->file);
    const QString why = qs(reason);
    QMetaObject::invokeMethod(
        this,
        [this, generation, viewed = std::move(viewed), records = std::move(records),
         why]() mutable { loaded(generation, std::move(viewed), std::move(records), why); },
        Qt::QueuedConnection);
  });
}

void CViewerDlg::loaded(unsigned generation, std::shared_ptr<const ViewedTransaction> viewed,
                        std::vector<RecordSummary> records, const QString& reason) {
  if (generation != loadGeneration_) return;
  unsetCursor();
  if (!viewed) {
    error_ = reason;
    status_->setText(reason);
    image_->showMessage("This file cannot be shown.\n" + reason);
    emit loadFailed(reason);
    return;
  }
  viewed_ = std::move(viewed);
  records_ = std::move(records);
  const auto* tx = viewed_->file.transaction();
  status_->setText(QString("%1: %2 records, %3 bytes%4")
                       .arg(QDir::toNativeSeparators(qs(viewed_->path)))
                       .arg(records_.size())
                       .arg(tx ? tx->byteTotal : 0)
                       .arg(viewed_->file.isXml() ? ", XML encoding" : ""));
  fillTree();
  image_->showMessage("Select a record to see its image.");
  emit transactionLoaded();
}

void CViewerDlg::fillTree() {
  tree_->clear();
  for (const RecordSummary& r : records_) {
    const QString idc = r.idc.empty() ? QString() : "IDC " + qs(r.idc);
    auto* item =
        row(kRecordRow, r.position, -1, -1, QString("Type-%1").arg(r.type), idc, qs(r.detail));
    item->setToolTip(2, qs(r.text));
    markPending(item);
    tree_->addTopLevelItem(item);
  }
}

void CViewerDlg::expandItem(QTreeWidgetItem* item) {
  if (!viewed_ || item->childCount() != 1 || item->child(0)->text(0) != kPendingText) return;
  delete item->takeChild(0);
  const auto* tx = viewed_->file.transaction();
  const int position = item->data(0, kPositionRole).toInt();
  if (tx == nullptr || position < 0 || position >= static_cast<int>(tx->records.size())) return;
  const transaction::Record& rec = tx->records[position];
  const int kind = item->data(0, kKindRole).toInt();
  QList<QTreeWidgetItem*> children;
  if (kind == kRecordRow) {
    const std::vector<FieldRow> rows = fieldRows(rec);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const FieldRow& f = rows[i];
      auto* child =
          row(kFieldRow, position, static_cast<int>(i), -1, qs(f.tag), qs(f.mnemonic), qs(f.value));
      child->setToolTip(1, qs(f.description));
      const auto& field = rec.fields[i];
      const bool nested = field.subfields.size() > 1 ||
                          (field.subfields.size() == 1 && field.subfields[0].items.size() > 1);
      if (!f.imageData && nested) markPending(child);
      children << child;
    }
  } else if (kind == kFieldRow) {
    const int fi = item->data(0, kFieldRole).toInt();
    const auto& field = rec.fields[fi];
    const bool one = field.subfields.size() == 1;
    for (int s = 0; s < static_cast<int>(field.subfields.size()); ++s) {
      const std::vector<std::string> items = itemTexts(field, s);
      if (one) {
        // A single subfield: its items stand directly under the field.
        for (std::size_t i = 0; i < items.size(); ++i) {
          children << row(kItemRow, position, fi, s, QString("item %1").arg(i + 1),
                          qs(itemMnemonic(rec.type, field.fieldNumber, static_cast<int>(i))),
                          qs(items[i]));
        }
        continue;
      }
      QStringList joined;
      for (const auto& t : items) joined << qs(t);
      auto* child = row(kSubfieldRow, position, fi, s, QString("subfield %1").arg(s + 1), QString(),
                        joined.join(" | "));
      if (items.size() > 1) markPending(child);
      children << child;
    }
  } else if (kind == kSubfieldRow) {
    const int fi = item->data(0, kFieldRole).toInt();
    const int s = item->data(0, kSubfieldRole).toInt();
    const auto& field = rec.fields[fi];
    const std::vector<std::string> items = itemTexts(field, s);
    for (std::size_t i = 0; i < items.size(); ++i) {
      children << row(kItemRow, position, fi, s, QString("item %1").arg(i + 1),
                      qs(itemMnemonic(rec.type, field.fieldNumber, static_cast<int>(i))),
                      qs(items[i]));
    }
  }
  item->addChildren(children);
}

void CViewerDlg::selectRecord(int position) {
  if (position < 0 || position >= tree_->topLevelItemCount()) return;
  tree_->setCurrentItem(tree_->topLevelItem(position));
}

void CViewerDlg::currentChanged(QTreeWidgetItem* item) {
  if (item == nullptr || !viewed_) return;
  const int position = item->data(0, kPositionRole).toInt();
  if (position == shownPosition_) return;
  shownPosition_ = position;
  showRecordImage(position);
}

void CViewerDlg::showRecordImage(int position) {
  const unsigned generation = ++imageGeneration_;
  if (position < 0 || position >= static_cast<int>(records_.size())) return;
  const RecordSummary& r = records_[position];
  if (!r.hasImage) {
    image_->showMessage(QString("Type-%1 records carry no image.").arg(r.type));
    emit imageShown();
    return;
  }
  image_->showMessage("Decoding...");
  std::shared_ptr<const ViewedTransaction> viewed = viewed_;
  const int type = r.type;
  const int occurrence = r.occurrence;
  pool_.start([this, generation, position, viewed, type, occurrence] {
    auto result = std::make_shared<DecodedImage>();
    imaging::RawImage raw;
    std::string reason;
    if (decodeForView(viewed->file, type, occurrence, raw, reason) == 0) {
      result->image = toQImage(raw);
      std::string source;
      result->marks = minutiaeForImage(viewed->file, type, occurrence, source);
      if (!result->marks.empty()) {
        result->note = QString(", %1 minutiae (%2)")
                           .arg(result->marks.size())
                           .arg(QString::fromStdString(source));
      }
    } else {
      result->note = QString::fromStdString(reason);
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, position, result] {
          if (generation != imageGeneration_) return;
          if (result->image.isNull()) {
            image_->showMessage("The image cannot be shown.\n" + result->note);
          } else {
            image_->showImage(result->image, result->marks);
            status_->setText(QString("%1: %2x%3%4")
                                 .arg(qs(records_[position].text))
                                 .arg(result->image.width())
                                 .arg(result->image.height())
                                 .arg(result->note));
          }
          emit imageShown();
        },
        Qt::QueuedConnection);
  });
}

void CViewerDlg::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().first().isLocalFile()) {
    event->acceptProposedAction();
  }
}

void CViewerDlg::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  // Two files dropped together are compared; one is opened here.
  if (urls.size() >= 2 && urls[1].isLocalFile()) {
    auto* dlg = new CCompareDlg(this);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->openFiles(urls[0].toLocalFile(), urls[1].toLocalFile());
    dlg->show();
    return;
  }
  openFile(urls.first().toLocalFile());
}

}  // namespace varnel::app
