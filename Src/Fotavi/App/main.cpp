// Fotavi: the presentation program.
#include <QApplication>

#include "App/FotaviApp.h"
#include "App/MainFrm.h"

#include "Common/ExitSignals.h"
#include "Common/QtUserInterfaceService.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  qapp.setApplicationName(QStringLiteral("Fotavi"));
  // The desktop entry the shell matches this program's windows with.
  qapp.setDesktopFileName(QStringLiteral("com.tiryx.Fotavi"));
  // SIGTERM and SIGINT close the program as its Exit command does.
  CExitSignals exitSignals;
  CQtUserInterfaceService ui;
  SetUserInterfaceService(&ui);
  int rc = 1;
  {
    CFotaviApp app;
    if (app.InitInstance()) {
      exitSignals.Arm();
      rc = qapp.exec();
    }
    app.ExitInstance();
  }
  SetUserInterfaceService(nullptr);
  return rc;
}
