// The view of one still picture. The picture and the user's drawing live in
// separate layers the size of the turned picture:
//   picture layer   the picture as turned;
//   drawing layer   only what the user drew (transparent where nothing is);
//   composed layer  the picture with the drawing laid over it;
//   display buffer  the visible part of the composed layer scaled by the zoom
//                   into the client size, copied to the screen on paint.
// All of them are images on the GUI thread.
//
// Client coordinates are the viewport's; a client point maps to the picture
// as (scroll position + client coordinate) / zoom, truncated.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>

#include <string>

#include "Common/Bitmap.h"
#include "Image/ImageHost.h"
#include "Platform/Types.h"
#include "Image/SelectTracker.h"

class CFullScreenWnd;
class CImageDoc;
class CImageFrame;
class QPainter;

constexpr double IMAGE_ZOOM_MIN = 0.0625;
constexpr double IMAGE_ZOOM_MAX = 16.0;

class CImageView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  CImageView(CImageDoc* document, CImageHost* host, QWidget* parent = nullptr);
  ~CImageView() override;

  CImageDoc* GetDocument() const { return m_pDocument; }
  CImageHost* GetHost() const { return m_pHost; }
  CImageFrame* GetImageFrame() const;

  // Loads and shows a file (BMP when `bmp`), or a JPEG in memory. `fitMode`
  // 0 picks the largest of 1, 1/2, 1/4 that fits the window area; 1 takes
  // the main frame's zoom for captured pictures. 1 on success, 0 on failure.
  BOOL LoadPicture(const std::string& path, BOOL bmp);
  BOOL LoadPicture(const BYTE* data, DWORD size, int fitMode);

  void SetZoom(double zoom);
  double GetZoom() const;
  void BestFit();
  void SelectAreaZoom();
  // Turns the picture and the drawing (commands 180, 90 CCW, 90 CW).
  void SetRotation(int commandId);

  BOOL UpdateScrollBars();
  BOOL RenewalPicture();
  BOOL DrawPicture();
  void OnUpdate();
  void SetScrollPosition(int horizontal, int vertical);

  BOOL ViewFullScreen();
  void EndFullScreen();
  CFullScreenWnd* GetFullScreenWnd() const;

  // The picture as shown: turned, with the drawing, in the shared 24-bit format.
  CBitmap24 GetComposedBitmap();

  bool HasSelection() const { return m_bSelectShow; }
  QRect GetSelection() const { return m_Tracker.m_rect; }
  void SetSelection(const QRect& clientRect);
  void DropSelection();

  void SetEditMode(int tool);

  // Erases the drawing inside a client rectangle, or all of it.
  void EraseArea(int x, int y, int width, int height);
  void EraseAllArea();
  // True when the drawing layer holds a stroke inside `area` (picture pixels).
  bool HasDrawingIn(const QRect& area) const;

  QPoint ClientToPicture(const QPoint& client) const;
  int GetShownRotation() const { return m_nShownRotate; }
  bool IsStrokeActive() const { return m_bLButtonDown; }

  // Layers (read by the tests and the full-screen window).
  const QImage& GetPictureLayer() const { return m_Picture; }
  const QImage& GetDrawingLayer() const { return m_Drawing; }
  const QImage& GetComposedLayer() const { return m_Composed; }
  const QImage& GetDisplayBuffer() const { return m_Display; }
  QSize GetClientSize() const;

  // ---- arithmetic of the zoom commands
  static double ClampZoom(double zoom);
  // Best fit: per axis the whole percentage of available / picture, the smaller
  // one, limited to the zoom range. 0 when the picture is empty.
  static double BestFitZoom(const QSize& available, const QSize& picture);
  struct AreaZoom {
    double zoom = 0;
    QPoint scroll;
  };
  // Zoom to a selection (client coordinates) at `zoom` and `scroll`. False
  // when there is nothing to zoom to: the selection lies beyond the picture
  // or is empty in either direction once clipped to it.
  static bool ComputeAreaZoom(const QSize& client, const QSize& picture, double zoom, const QPoint& scroll,
                              const QRect& selection, AreaZoom* result);
  // Zoom for a newly loaded picture: the first of 1, 1/2, 1/4 at which a
  // window of `decoration` plus the zoomed picture plus a 20-pixel margin
  // fits `available`; 0 when none does.
  static double ChooseLoadZoom(const QSize& available, const QSize& decoration, const QSize& picture);
  static bool LoadZoomFits(const QSize& available, const QSize& decoration, const QSize& picture, double zoom);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void FitNewPicture(int mode);
  // Layers, zoom, window size and display for a picture just loaded.
  BOOL ShowLoadedPicture(int fitMode);
  BOOL ResizeLayer(QImage* layer, int width, int height, QImage::Format format);
  QSize RotatedPictureSize() const;
  QSize ZoomedSize() const;
  int ScrollLimit(int zoomed, int client) const;
  void MoveSelectionBy(int dx, int dy);
  void UpdateCursor();
  QCursor CursorForTool(int tool) const;

  // Strokes.
  void OnLButtonDown(const QPoint& point, const QPoint& global);
  void OnMouseMove(const QPoint& point, const QPoint& global);
  void OnLButtonUp(const QPoint& point);
  void EndStroke();
  QPen MakeEditPen(bool eraser) const;
  BOOL MoveMouseFreeLine(const QPoint& point);
  BOOL MoveMouseShape(int tool, const QPoint& point, QImage* target);
  BOOL MoveMouseEraser(const QPoint& point);
  BOOL MoveMouseDrag(const QPoint& global);
  BOOL MoveMouseSelect(const QPoint& point);
  void DrawShape(QPainter* painter, int tool, const QPoint& from, const QPoint& to) const;
  BOOL UpdateBaseDC();

  CImageDoc* m_pDocument;
  CImageHost* m_pHost;

  QImage m_Picture;   // Format_RGB32, the turned picture
  QImage m_Drawing;   // Format_ARGB32_Premultiplied, transparent where empty
  QImage m_Composed;  // Format_RGB32
  QImage m_Display;   // Format_RGB32, client size

  CSelectTracker m_Tracker;
  bool m_bSelectShow = false;

  // Stroke state.
  QPoint m_ptPoint;          // start or last point, client coordinates
  QPoint m_ptPressGlobal;    // press point on the screen (hand tool)
  QPoint m_ptLastMove;       // last pointer position of the stroke
  QPoint m_ptScrollAtPress;  // both scroll positions at the press
  int m_nStrokeTool = 0;
  bool m_bLButtonDown = false;
  bool m_bSuspendedLive = false;

  int m_nShownRotate = 0;
  int m_nDecodeOption = 1;
  QPointer<CFullScreenWnd> m_pFullWnd;
  bool m_bSettingScroll = false;
  bool m_bInUpdateScrollBars = false;
};
