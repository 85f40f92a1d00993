#pragma once

#include <QMainWindow>
#include <QString>
#include <QThreadPool>
#include <memory>
#include <vector>

#include "app/viewer_model.h"

class QAction;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace varnel::app {

class ImageView;
class Shell;

/// The transaction viewer ("Varnel - Viewer"): the records of one transaction as a tree of
/// records, fields, subfields and items, and the selected record's image with its minutiae. The
/// file is read and images are decoded on worker threads, so large files leave the window
/// responsive. Nothing is ever written to the file.
class CViewerDlg : public QMainWindow {
  Q_OBJECT

 public:
  /// `shell` answers for the desktop and must outlive the window.
  explicit CViewerDlg(Shell& shell, QWidget* parent = nullptr);
  ~CViewerDlg() override;

  /// Starts reading `path`; transactionLoaded or loadFailed follows.
  void openFile(const QString& path);

  [[nodiscard]] QTreeWidget* tree() const { return tree_; }
  [[nodiscard]] ImageView* imageView() const { return image_; }
  /// The reader's reason when the last file could not be read, else empty.
  [[nodiscard]] const QString& errorText() const { return error_; }
  /// The transaction shown, or null.
  [[nodiscard]] const ViewedTransaction* viewed() const { return viewed_.get(); }
  [[nodiscard]] const std::vector<RecordSummary>& records() const { return records_; }
  /// Selects the record at `position` (its image is decoded when it has one).
  void selectRecord(int position);

 public slots:
  /// File / Open: picks a transaction file and shows it.
  void openCommand();
  /// File / Compare With: compares the file shown with a picked one (both picked when none is
  /// shown).
  void compareCommand();

 signals:
  void transactionLoaded();
  void loadFailed(const QString& reason);
  /// The image panel has its result for the selected record (an image or a reason).
  void imageShown();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildMenus();
  void loaded(unsigned generation, std::shared_ptr<const ViewedTransaction> viewed,
              std::vector<RecordSummary> records, const QString& reason);
  void fillTree();
  void expandItem(QTreeWidgetItem* item);
  void currentChanged(QTreeWidgetItem* item);
  void showRecordImage(int position);

  Shell& shell_;
  QTreeWidget* tree_ = nullptr;
  ImageView* image_ = nullptr;
  QLabel* status_ = nullptr;
  QAction* marks_ = nullptr;
  QString error_;
  std::shared_ptr<const ViewedTransaction> viewed_;
  std::vector<RecordSummary> records_;
  int shownPosition_ = -1;
  unsigned loadGeneration_ = 0;
  unsigned imageGeneration_ = 0;
  // Declared last: destroyed first, after the destructor has waited for its tasks.
  QThreadPool pool_;
};

/// File filter of the transaction open dialogs.
inline constexpr const char* kTransactionFilter =
    "Transaction files (*.nst *.eft *.lffs *.nist *.an2 *.xnst *.xml);;All files (*)";

}  // namespace varnel::app
