#include "app/varnel_app.h"

#include "app/about_dlg.h"
#include "app/main_dlg.h"
#include "app/shell.h"

namespace varnel::app {

CvarnelApp::CvarnelApp(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName("Quillon");
  setApplicationName("Varnel");
  setApplicationVersion(programVersion());
  setDesktopFileName("varnel-gui");
  setWindowIcon(QIcon::fromTheme("varnel-gui"));
}

int CvarnelApp::run() {
  DesktopShell shell;
  CvarnelDlg window(shell);
  window.show();
  return exec();
}

}  // namespace varnel::app
