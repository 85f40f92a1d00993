#pragma once

#include <QMainWindow>
#include <QString>
#include <QThreadPool>
#include <memory>
#include <vector>

#include "app/viewer_model.h"

class QLabel;
class QTreeWidget;

namespace varnel::app {

/// Two transactions side by side, typically the input and the converted output of one file:
/// records are paired by type and occurrence, rows line up, and records and fields that differ
/// are coloured. Both files are read and compared on a worker thread; neither is ever written.
class CCompareDlg : public QMainWindow {
  Q_OBJECT

 public:
  explicit CCompareDlg(QWidget* parent = nullptr);
  ~CCompareDlg() override;

  /// Starts reading and comparing the two files; compared or loadFailed follows.
  void openFiles(const QString& left, const QString& right);

  [[nodiscard]] QTreeWidget* leftTree() const { return left_; }
  [[nodiscard]] QTreeWidget* rightTree() const { return right_; }
  [[nodiscard]] const std::vector<RecordDiff>& diff() const { return diff_; }
  /// "2 of 5 records differ (7 fields)", or the reason a file could not be read.
  [[nodiscard]] QString summaryText() const;
  [[nodiscard]] const QString& errorText() const { return error_; }

 signals:
  void compared();
  void loadFailed(const QString& reason);

 private:
  void finish(unsigned generation, std::shared_ptr<const ViewedTransaction> left,
              std::shared_ptr<const ViewedTransaction> right, std::vector<RecordDiff> diff,
              const QString& reason);
  void fill();
  void syncExpansion(QTreeWidget* from, QTreeWidget* to);

  QTreeWidget* left_ = nullptr;
  QTreeWidget* right_ = nullptr;
  QLabel* leftTitle_ = nullptr;
  QLabel* rightTitle_ = nullptr;
  QLabel* summary_ = nullptr;
  QString error_;
  std::shared_ptr<const ViewedTransaction> leftTx_;
  std::shared_ptr<const ViewedTransaction> rightTx_;
  std::vector<RecordDiff> diff_;
  unsigned generation_ = 0;
  // Declared last: destroyed first, after the destructor has waited for its task.
  QThreadPool pool_;
};

}  // namespace varnel::app
