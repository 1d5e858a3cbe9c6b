// Fotavi: the presentation program.
#include <QApplication>

#include "App/FotaviApp.h"
#include "App/MainFrm.h"

#include "Common/QtUserInterfaceService.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  qapp.setApplicationName(QStringLiteral("Fotavi"));
  CQtUserInterfaceService ui;
  SetUserInterfaceService(&ui);
  int rc = 1;
  {
    CFotaviApp app;
    if (app.InitInstance()) rc = qapp.exec();
    app.ExitInstance();
  }
  SetUserInterfaceService(nullptr);
  return rc;
}
