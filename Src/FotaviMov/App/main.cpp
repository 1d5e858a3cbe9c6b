// FotaviMov: the movie-recording program.
#include <QApplication>

#include "Common/ExitSignals.h"
#include "Common/QtUserInterfaceService.h"
#include "MainFrm.h"
#include "MovApp.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  qapp.setApplicationName(QStringLiteral("FotaviMov"));
  // The desktop entry the shell matches this program's windows with.
  qapp.setDesktopFileName(QStringLiteral("com.tiryx.FotaviMov"));
  // Start-up refusals, before the main window, carry the icon too.
  qapp.setWindowIcon(MovProgramIcon());
  // SIGTERM and SIGINT close the program as its Exit command does.
  CExitSignals exitSignals;
  CQtUserInterfaceService ui;
  SetUserInterfaceService(&ui);
  int rc = 1;
  {
    CFotaviMovApp app;
    app.SetFrameFactory(&CreateMovMainFrame);
    if (app.InitInstance()) {
      exitSignals.Arm();
      rc = qapp.exec();
    }
    app.ExitInstance();
  }
  SetUserInterfaceService(nullptr);
  return rc;
}
