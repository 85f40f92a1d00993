#include "app/varnel_app.h"

#include "app/about_dlg.h"
#include "app/main_dlg.h"
#include "app/shell.h"
#include "app/viewer_dlg.h"

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
  // `varnel-gui FILE` opens the file in the viewer instead of the main window.
  const QStringList args = arguments();
  if (args.size() > 1) {
    CViewerDlg viewer(shell);
    viewer.openFile(args.at(1));
    viewer.show();
    return exec();
  }
  CvarnelDlg window(shell);
  window.show();
  return exec();
}

}  // namespace varnel::app
