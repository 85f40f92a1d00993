#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "app/viewer_model.h"

class QTableWidget;

namespace varnel::app {

class Shell;

/// The files of a finished run under the main window: each input of the source folder with the
/// output found for it, and buttons to view either or to compare the two.
class RunFilesPanel : public QWidget {
  Q_OBJECT

 public:
  /// `shell` answers for the desktop and must outlive the panel.
  explicit RunFilesPanel(Shell& shell, QWidget* parent = nullptr);

  /// Lists the files of a run from `source` to `dest` and shows the panel.
  void showRun(const QString& source, const QString& dest);

  [[nodiscard]] QTableWidget* table() const { return table_; }
  [[nodiscard]] const std::vector<RunFile>& files() const { return files_; }

 public slots:
  /// Opens a viewer on the input (`output` false) or the output of row `row`.
  void view(int row, bool output);
  /// Opens the input and output of row `row` side by side.
  void compare(int row);

 private:
  Shell& shell_;
  QTableWidget* table_ = nullptr;
  std::vector<RunFile> files_;
};

}  // namespace varnel::app
