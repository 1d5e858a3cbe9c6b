// What the card windows take from the program, set by each card tool as it
// opens (CardTools.cpp; tests set it themselves): the device interface, the modal-box counter,
// the JPEG codec, the main window to notify, the way to open a card picture
// as a still-image document, and the settings file with the card's root path.
#pragma once

#include <functional>
#include <string>

#include "Common/ControlDialog.h"
#include "Common/Jpeg.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Types.h"

class QDialog;
class QWidget;

struct CCardHost {
  CDeviceInterface* device = nullptr;
  CControlDialog* counter = nullptr;
  const CJpeg* codec = nullptr;
  HWND mainWnd = nullptr;
  // Opens a JPEG held in memory as a still-image document named `name`.
  std::function<BOOL(const std::string& name, const BYTE* data, DWORD size)> openPicture;
  // "Fotavi.ini" of the program ([VIEWER] ROOTPATH).
  std::string iniPath;
  // Runs a modal dialog (tests answer instead of blocking).
  std::function<int(QDialog*)> runModal;
};

CCardHost& CardHost();

// Counted message box with the program's title as caption.
int CardMessageBox(UINT stringId, UINT type);
int CardMessageBoxText(const std::string& text, UINT type);
// Counted modal run of a dialog (CControlDialog::BeginModal / EndModal around it).
int CardRunModal(QDialog* dialog);
// Opens `dialog` (made with new, a child of the window it belongs to)
// modal to that window without waiting: `done(result)` runs once when the
// user has finished with it, then the dialog goes. It counts as an open box
// from this call until it has gone, however it goes (also with its window,
// when it never answers). With the host's runModal set, that answers at once.
void CardOpenModal(QDialog* dialog, std::function<void(int result)> done);
void CardBeginModal();
void CardEndModal();
// The "Fotavi.ini" in use: the host's, else the program's folder's.
std::string CardIniPath();
// A theme icon with a drawn fallback.
class QIcon;
QIcon CardFolderIcon(bool open);
