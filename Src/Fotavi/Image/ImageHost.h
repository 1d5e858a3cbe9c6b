// What the still-image windows and the draw palette need from the main
// frame: the drawing settings (current tool, pen width, line type, colour,
// eraser size), the live monitor's suspension during a stroke, the placement of new
// picture windows and the palette's erase requests.
//
// The program uses the adapter over CMainFrame (ImageHostFor); the class
// itself keeps the settings in memory, so a window can work without a main
// frame (tests, and a frame made before the main frame exists).
#pragma once

#include <QPoint>
#include <QSize>

#include "Platform/Types.h"

class CMainFrame;
class QWidget;

using COLORREF = DWORD;  // 0x00BBGGRR

class CImageHost {
 public:
  CImageHost() = default;
  virtual ~CImageHost() = default;
  CImageHost(const CImageHost&) = delete;
  CImageHost& operator=(const CImageHost&) = delete;

  // ---- drawing settings
  virtual int GetCurrentTool() const { return m_nTool; }
  virtual void SetCurrentTool(int tool) { m_nTool = tool; }
  virtual int GetPenWidth() const { return m_nPenWidth; }
  virtual void SetPenWidth(int width) { m_nPenWidth = width; }
  virtual BYTE GetDotLine() const { return m_bDotLine; }
  virtual void SetDotLine(BYTE dotted) { m_bDotLine = dotted; }
  virtual COLORREF GetPenColor() const { return m_Color; }
  virtual void SetPenColor(COLORREF color) { m_Color = color; }
  virtual int GetEraserSize() const { return m_nEraserSize; }
  virtual void SetEraserSize(int size) { m_nEraserSize = size; }

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

 private:
  int m_nTool = 32838;
  int m_nPenWidth = 3;
  BYTE m_bDotLine = 0;
  COLORREF m_Color = 0;
  int m_nEraserSize = 10;
  int m_nUntitled = 0;
};

// The host over the program's main frame. One per main frame, alive as long
// as the process; NULL for a NULL frame.
CImageHost* ImageHostFor(CMainFrame* mainFrame);
