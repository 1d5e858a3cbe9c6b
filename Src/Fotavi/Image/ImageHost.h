// What the still-image windows and the draw palette need from the main
// frame: the drawing settings (current tool, pen width, line type, colour,
// eraser size), the live monitor's suspension during a stroke, the placement
// of new picture windows and the palette's erase requests.
//
// The settings are read and written in place: the program's host works on
// the main frame's CDrawSettings (ImageHostFor); a host made without one
// keeps its own, so a window can work without a main frame (tests).
#pragma once

#include <QPoint>
#include <QSize>

#include "App/DrawSettings.h"
#include "Platform/Types.h"

class CMainFrame;
class QWidget;

class CImageHost {
 public:
  // Works on `settings` (not owned) or, without them, on settings of its own.
  explicit CImageHost(CDrawSettings* settings = nullptr) : m_pSettings(settings ? settings : &m_OwnSettings) {}
  virtual ~CImageHost() = default;
  CImageHost(const CImageHost&) = delete;
  CImageHost& operator=(const CImageHost&) = delete;

  // ---- drawing settings
  const CDrawSettings& Settings() const { return *m_pSettings; }
  // Pen and eraser settings are written in place; the tool goes through
  // SetCurrentTool, which tells the main frame.
  CDrawSettings& WritableSettings() { return *m_pSettings; }
  int GetCurrentTool() const { return m_pSettings->nCurrentTool; }
  // Also tells the main frame (its hand and selection buttons).
  void SetCurrentTool(int tool) {
    m_pSettings->nCurrentTool = tool;
    OnToolChanged(tool);
  }
  int GetPenWidth() const { return m_pSettings->nPenWidth; }
  void SetPenWidth(int width) { m_pSettings->nPenWidth = width; }
  BYTE GetDotLine() const { return m_pSettings->bDotLine; }
  void SetDotLine(BYTE dotted) { m_pSettings->bDotLine = dotted; }
  COLORREF GetPenColor() const { return m_pSettings->penColor; }
  void SetPenColor(COLORREF color) { m_pSettings->penColor = color; }
  int GetEraserSize() const { return m_pSettings->nEraserSize; }
  void SetEraserSize(int size) { m_pSettings->nEraserSize = size; }

  // ---- live monitor
  // Suspends a running live monitor for a stroke; true when it did.
  virtual bool SuspendLive() { return false; }
  // Resumes what SuspendLive suspended.
  virtual void ResumeLive() {}
  // The main window's message target (WM_RESUME_LIVE goes there); NULL when none.
  virtual HWND GetMainWnd() const { return nullptr; }

  // ---- new picture windows
  virtual double GetNewPictureZoom() const { return 1.0; }
  virtual int GetUntitledCount() const { return m_nUntitled; }
  void SetUntitledCount(int count) { m_nUntitled = count; }
  // The position granted to a frame of `outer` size (the cascade position
  // when it fits there, else (0, 0)).
  virtual QPoint GrantChildPosition(const QSize& outer) { return {}; }
  virtual void AdvanceNextChildPos() {}
  virtual void ResetNextChildPos() {}
  // The area new picture windows are placed in (the MDI area's viewport);
  // NULL when none.
  virtual QWidget* GetChildArea() const { return nullptr; }

  // ---- draw palette
  // Releases the palette's tool buttons (the tool was chosen elsewhere).
  virtual void UncheckPalette() {}
  // Erase requests of the palette, for the active still picture.
  virtual void EraseArea() {}
  virtual void EraseAll() {}

 protected:
  // The current tool changed (SetCurrentTool).
  virtual void OnToolChanged(int /*tool*/) {}

 private:
  CDrawSettings m_OwnSettings;
  CDrawSettings* m_pSettings;
  int m_nUntitled = 0;
};

// The host over the program's main frame: made on first use and owned by
// that frame; NULL for a NULL frame.
CImageHost* ImageHostFor(CMainFrame* mainFrame);
