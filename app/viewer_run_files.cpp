#include "app/viewer_run_files.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/viewer_compare.h"
#include "app/viewer_dlg.h"

namespace varnel::app {

RunFilesPanel::RunFilesPanel(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
  setObjectName("runFiles");
  table_ = new QTableWidget(0, 3, this);
  table_->setObjectName("runFileTable");
  table_->setHorizontalHeaderLabels({"File", "Output", ""});
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_);
  hide();
}

void RunFilesPanel::showRun(const QString& source, const QString& dest) {
  files_ = pairRunFiles(source.toStdString(), dest.toStdString());
  table_->setRowCount(static_cast<int>(files_.size()));
  for (int row = 0; row < static_cast<int>(files_.size()); ++row) {
    const RunFile& f = files_[row];
    table_->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(f.name)));
    const QString output = f.output.empty()
                               ? QString("(none)")
                               : QFileInfo(QString::fromStdString(f.output)).fileName();
    table_->setItem(row, 1, new QTableWidgetItem(output));
    auto* cell = new QWidget(table_);
    auto* buttons = new QHBoxLayout(cell);
    buttons->setContentsMargins(2, 0, 2, 0);
    auto* view = new QPushButton("View", cell);
    auto* viewOutput = new QPushButton("View Output", cell);
    auto* compareButton = new QPushButton("Compare", cell);
    viewOutput->setEnabled(!f.output.empty());
    compareButton->setEnabled(!f.output.empty());
    connect(view, &QPushButton::clicked, this, [this, row] { this->view(row, false); });
    connect(viewOutput, &QPushButton::clicked, this, [this, row] { this->view(row, true); });
    connect(compareButton, &QPushButton::clicked, this, [this, row] { compare(row); });
    buttons->addWidget(view);
    buttons->addWidget(viewOutput);
    buttons->addWidget(compareButton);
    table_->setCellWidget(row, 2, cell);
  }
  table_->resizeRowsToContents();
  show();
}

void RunFilesPanel::view(int row, bool output) {
  if (row < 0 || row >= static_cast<int>(files_.size())) return;
  const std::string& path = output ? files_[row].output : files_[row].input;
  if (path.empty()) return;
  auto* viewer = new CViewerDlg(shell_, this);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->openFile(QString::fromStdString(path));
  viewer->show();
}

void RunFilesPanel::compare(int row) {
  if (row < 0 || row >= static_cast<int>(files_.size()) || files_[row].output.empty()) return;
  auto* dlg = new CCompareDlg(this);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->openFiles(QString::fromStdString(files_[row].input),
                 QString::fromStdString(files_[row].output));
  dlg->show();
}

}  // namespace varnel::app
