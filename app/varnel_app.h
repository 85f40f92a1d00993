#pragma once

#include <QApplication>

namespace varnel::app {

/// The desktop program: sets up the application, shows the main window and runs until it closes.
class CvarnelApp : public QApplication {
  Q_OBJECT

 public:
  CvarnelApp(int& argc, char** argv);

  /// Shows the main window and runs the event loop; returns the exit code.
  int run();
};

}  // namespace varnel::app
