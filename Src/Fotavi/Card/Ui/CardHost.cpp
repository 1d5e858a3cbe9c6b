#include "CardHost.h"

#include <QDialog>
#include <QTimer>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "Text/FotaviStrings.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "Platform/Paths.h"
#include "Platform/UiService.h"

CCardHost& CardHost() {
  static CCardHost host;
  return host;
}

int CardMessageBoxText(const std::string& text, UINT type) {
  if (CControlDialog* counter = CardHost().counter) return counter->MessageBox(nullptr, text, GetApplicationTitle(), type);
  return GetUserInterfaceService()->MessageBox(nullptr, text, GetApplicationTitle(), type);
}

int CardMessageBox(UINT stringId, UINT type) {
  return CardMessageBoxText(FotaviText(stringId), type);
}

void CardBeginModal() {
  if (CControlDialog* counter = CardHost().counter) counter->BeginModal();
}

void CardEndModal() {
  if (CControlDialog* counter = CardHost().counter) counter->EndModal();
}

int CardRunModal(QDialog* dialog) {
  CardBeginModal();
  const int result = CardHost().runModal ? CardHost().runModal(dialog) : dialog->exec();
  CardEndModal();
  return result;
}

void CardOpenModal(QDialog* dialog, std::function<void(int result)> done) {
  if (!dialog) return;
  CControlDialog* counter = CardHost().counter;
  if (counter) counter->BeginModal();
  QObject::connect(dialog, &QObject::destroyed, [counter] {
    if (counter) counter->EndModal();
  });
  if (CardHost().runModal) {
    const int result = CardHost().runModal(dialog);
    if (done) done(result);
    delete dialog;
    return;
  }
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
    // Once: a later finish of the same dialog finds nothing to do.
    QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
    dialog->hide();
    // Gone once the answer is handled; by a timer, not a deferred delete,
    // which waits for a loop of its own level.
    QTimer::singleShot(0, dialog, [dialog] { delete dialog; });
    if (done) done(result);
  });
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
}

std::string CardIniPath() {
  if (!CardHost().iniPath.empty()) return CardHost().iniPath;
  // The program's settings file sits in the installation folder, with its
  // trace settings (the program's own folder when no installation is named).
  return GetTraceBaseFolder() + "Fotavi.ini";
}

QIcon CardFolderIcon(bool open) {
  QIcon icon = QIcon::fromTheme(open ? QStringLiteral("folder-open") : QStringLiteral("folder"));
  if (!icon.isNull()) return icon;
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(150, 110, 20));
  p.setBrush(QColor(240, 200, 90));
  p.drawRect(1, 3, 6, 3);
  if (open) {
    QPolygon body({QPoint(1, 6), QPoint(12, 6), QPoint(15, 14), QPoint(3, 14)});
    p.drawPolygon(body);
  } else {
    p.drawRect(1, 5, 13, 9);
  }
  p.end();
  return QIcon(pm);
}
