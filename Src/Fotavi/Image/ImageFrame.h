// The window of one still picture: carries the picture's commands (save,
// rotation, zoom, tools, full screen), its caption and its size. The view
// inside draws and annotates the picture.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "App/ChildFrm.h"
#include "Image/ImageDoc.h"
#include "Image/ImageHost.h"
#include "Image/ImageStrings.h"

class CImageView;

class CImageFrame : public CChildFrame {
  Q_OBJECT
 public:
  // `host` gives the drawing settings and the window placement; NULL uses
  // settings of the frame's own.
  CImageFrame(CMainFrame* mainFrame, std::unique_ptr<CImageDoc> document, CImageHost* host);
  ~CImageFrame() override;

  CImageDoc* GetImageDoc() const;
  CImageView* GetImageView() const { return m_pView; }
  CImageHost* GetHost() const { return m_pHost; }

  bool OnCmdMsg(int id) override;
  bool OnUpdateCmdUI(CCmdUI* ui) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  BOOL LoadFile(const std::string& path, BOOL bmp) override;
  BOOL LoadFromMemory(const BYTE* data, DWORD size) override;
  void EraseArea() override;
  void EraseAll() override;

  // Save (SAVEMODE_SAVE) or Save As (SAVEMODE_SAVEAS). TRUE when saved now.
  // A save that asks for a name opens its box without waiting: it returns
  // FALSE at once unless the box answered already, and `then(saved)` runs
  // when the box has answered later. While that box is open the frame does
  // not close, and a second save is refused.
  BOOL DoSaveFile(int mode, std::function<void(BOOL saved)> then = {});
  bool IsSaveBoxOpen() const { return m_bSaveBoxOpen; }
  // Zoom commands.
  void ZoomIn();
  void ZoomOut();
  // Sizes the frame around a client area of `client` at the next child
  // position and shows it.
  void FitToClientSize(const QSize& client);
  // Size of the frame around an empty client area.
  QSize DecorationSize() const;
  void UpdateTitle();

  // ---- arithmetic
  static double NextZoomIn(double zoom);
  static double NextZoomOut(double zoom);
  // The zoom as the caption writes it ("100%", "66.7%", "6.25%").
  static std::string FormatZoom(double zoom);
  // Format by extension: TRUE for BMP. ".BMP" and ".JPG" (any case) decide;
  // any other extension takes `defaultBmp`.
  static bool SaveAsBmp(const std::string& path, bool defaultBmp);

 protected:
  bool CanClose() override;

 private:
  // Writes the picture to `path` and takes it as the document's file.
  BOOL WritePicture(const std::string& path, bool defaultBmp);
  void OnToolChoice(int id);

  std::unique_ptr<CImageHost> m_pOwnHost;
  CImageHost* m_pHost;
  CImageView* m_pView = nullptr;
  bool m_bSaveBoxOpen = false;
};

// The "Image" template's factory: a new still-image document, frame and view
// in the main frame's window area (not shown yet).
CChildFrame* CreateImageFrame(CMainFrame* mainFrame, CDocTemplate* docTemplate);
// Registers the "Image" template factory and the draw palette with the main
// frame's registries (start-up, RegisterProgramParts; calling it again is harmless).
void RegisterImageParts();
