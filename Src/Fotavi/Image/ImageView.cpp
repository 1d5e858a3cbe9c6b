#include "Image/ImageView.h"

#include <QBitmap>
#include <QFocusEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <new>

#include "Common/CommonFunc.h"
#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "Live/FullScreenWnd.h"
#include "Image/ImageDoc.h"
#include "Image/ImageFrame.h"
#include "App/Resource.h"

namespace {

constexpr QImage::Format kLayerFormat = QImage::Format_RGB32;
constexpr QImage::Format kDrawingFormat = QImage::Format_ARGB32_Premultiplied;


void LogError(const char* function, const char* call) {
  TraceLog(TRC_PRE, function, "The error occurred with the [%s] function.", call);
}

// The program's cursors: a pen, the eraser squares and the two hands.
QCursor PenCursor() {
  static const QCursor cursor = [] {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPolygonF body;
    body << QPointF(1, 1) << QPointF(5, 3) << QPointF(18, 16) << QPointF(16, 18) << QPointF(3, 5);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPolygon(body);
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygonF() << QPointF(0, 0) << QPointF(4, 2) << QPointF(2, 4));
    p.end();
    return QCursor(pm, 0, 0);
  }();
  return cursor;
}

QCursor EraserCursor(int size) {
  const int side = std::clamp(size, 4, 30);
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(0, 0, side - 1, side - 1);
  p.end();
  // The hot spot is the click point; the square lies right and below it.
  return QCursor(pm, 0, 0);
}

}  // namespace

CImageView::CImageView(CImageDoc* document, CImageHost* host, QWidget* parent)
    : QAbstractScrollArea(parent), m_pDocument(document), m_pHost(host) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAttribute(Qt::WA_NoSystemBackground);
  viewport()->setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  horizontalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setSingleStep(1);
  m_Picture = QImage(1, 1, kLayerFormat);
  m_Picture.fill(Qt::black);
  m_Drawing = QImage(1, 1, kDrawingFormat);
  m_Drawing.fill(Qt::transparent);
  m_Composed = m_Picture;
  m_Display = QImage(1, 1, kLayerFormat);
  m_Display.fill(Qt::black);
  if (m_pDocument && !m_pDocument->CreateViewData())
    TraceLog(TRC_PRE, "CImageView::OnCreate", "The error occurred with the [CreateViewData()] function.");
  UpdateCursor();
}

CImageView::~CImageView() {
  if (m_bLButtonDown && m_bSuspendedLive && m_pHost) m_pHost->ResumeLive();
  EndFullScreen();
}

CImageFrame* CImageView::GetImageFrame() const { return qobject_cast<CImageFrame*>(parentWidget()); }

QSize CImageView::GetClientSize() const { return viewport()->size(); }

CFullScreenWnd* CImageView::GetFullScreenWnd() const { return m_pFullWnd.data(); }

double CImageView::GetZoom() const { return m_pDocument ? m_pDocument->GetZoom() : 1.0; }

QSize CImageView::RotatedPictureSize() const {
  if (!m_pDocument) return {};
  const int w = m_pDocument->GetPictureWidth();
  const int h = m_pDocument->GetPictureHeight();
  return (m_pDocument->GetRotate() & 1) ? QSize(h, w) : QSize(w, h);
}

QSize CImageView::ZoomedSize() const {
  const QSize s = RotatedPictureSize();
  const double z = GetZoom();
  return QSize(static_cast<int>(s.width() * z), static_cast<int>(s.height() * z));
}

int CImageView::ScrollLimit(int zoomed, int client) const { return std::max(0, zoomed - client); }

QPoint CImageView::ClientToPicture(const QPoint& client) const {
  const double z = GetZoom();
  const int h = m_pDocument ? m_pDocument->GetScrollPos(SCROLL_HORZ) : 0;
  const int v = m_pDocument ? m_pDocument->GetScrollPos(SCROLL_VERT) : 0;
  return QPoint(static_cast<int>(std::floor((h + client.x()) / z)), static_cast<int>(std::floor((v + client.y()) / z)));
}

// ------------------------------------------------------------ layers

BOOL CImageView::ResizeLayer(QImage* layer, int width, int height, QImage::Format format) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  QImage fresh(width, height, format);
  if (fresh.isNull()) {
    LogError("CImageView::ResizeMemoryDC", "CreateDIBSection()");
    FotaviMessageBox(IDS_NO_RESOURCE);
    return FALSE;
  }
  fresh.fill(format == kDrawingFormat ? QColor(Qt::transparent) : QColor(Qt::black));
  *layer = fresh;
  return TRUE;
}

BOOL CImageView::DrawPicture() {
  if (!m_pDocument) return TRUE;
  const CBitmap24 bitmap = m_pDocument->GetBitmap();
  if (bitmap.isNull()) return TRUE;
  if (!ResizeLayer(&m_Picture, bitmap.width(), bitmap.height(), kLayerFormat)) {
    LogError("CImageView::DrawPicture", "ResizeMemoryDC()[1])");
    return FALSE;
  }
  if (!ResizeLayer(&m_Drawing, bitmap.width(), bitmap.height(), kDrawingFormat)) {
    LogError("CImageView::DrawPicture", "ResizeMemoryDC()[2]");
    return FALSE;
  }
  m_Picture = bitmap.convertToFormat(kLayerFormat);
  if (m_Picture.isNull()) {
    TraceLog(TRC_PRE, "CImageView::ConvRegistBitmap", "Invalid Parameter.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return FALSE;
  }
  m_nShownRotate = 0;
  // A holder turned before its picture was shown (never the case for a new
  // document) is caught up here.
  if (m_pDocument->GetRotate() != 0) {
    const int turns = m_pDocument->GetRotate();
    const QTransform t = QTransform().rotate(90.0 * turns);
    m_Picture = m_Picture.transformed(t);
    m_Drawing = m_Drawing.transformed(t);
    m_nShownRotate = turns;
  }
  return TRUE;
}

BOOL CImageView::RenewalPicture() {
  if (!m_pDocument) return TRUE;
  const QSize size = RotatedPictureSize();
  if (size.width() <= 0 || size.height() <= 0) return TRUE;
  if (m_Composed.size() != size || m_Composed.format() != kLayerFormat) {
    if (!ResizeLayer(&m_Composed, size.width(), size.height(), kLayerFormat)) {
      LogError("CImageView::RenewalPicture", "ResizeMemoryDC");
      FotaviMessageBox(IDS_INTERNAL_ERROR);
      return FALSE;
    }
  }
  QPainter p(&m_Composed);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, m_Picture);
  // Strokes are drawn without antialiasing, so every drawing pixel is either
  // fully opaque or fully transparent: the picture never shows through.
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.drawImage(0, 0, m_Drawing);
  return TRUE;
}

void CImageView::OnUpdate() {
  const QSize client = GetClientSize();
  if (m_Display.size() != client) {
    if (!ResizeLayer(&m_Display, client.width(), client.height(), kLayerFormat)) {
      LogError("CImageView::OnSize", "ResizeMemoryDC");
      return;
    }
  }
  m_Display.fill(Qt::black);
  if (m_pDocument && !RotatedPictureSize().isEmpty()) {
    QPainter p(&m_Display);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double z = GetZoom();
    p.translate(-m_pDocument->GetScrollPos(SCROLL_HORZ), -m_pDocument->GetScrollPos(SCROLL_VERT));
    p.scale(z, z);
    p.drawImage(0, 0, m_Composed);
  }
  viewport()->update();
}

BOOL CImageView::UpdateBaseDC() {
  OnUpdate();
  return TRUE;
}

CBitmap24 CImageView::GetComposedBitmap() {
  RenewalPicture();  // without any rubber band still on it
  return ToBitmap24(m_Composed);
}

// ------------------------------------------------------------ scrolling

BOOL CImageView::UpdateScrollBars() {
  if (m_bInUpdateScrollBars || !m_pDocument) return TRUE;
  const QSize zoomed = ZoomedSize();
  if (zoomed.width() <= 0 || zoomed.height() <= 0) return TRUE;
  m_bInUpdateScrollBars = true;
  m_bSettingScroll = true;
  const int oldH = m_pDocument->GetScrollPos(SCROLL_HORZ);
  const int oldV = m_pDocument->GetScrollPos(SCROLL_VERT);
  int h = oldH;
  int v = oldV;
  // Which bars the zoomed picture needs: a bar takes room from the other
  // direction, so one bar may call for the other.
  const QSize full = contentsRect().size();
  const int barH = horizontalScrollBar()->sizeHint().height();
  const int barW = verticalScrollBar()->sizeHint().width();
  bool needH = zoomed.width() > full.width();
  bool needV = zoomed.height() > full.height();
  if (needH && !needV) needV = zoomed.height() > full.height() - barH;
  if (needV && !needH) needH = zoomed.width() > full.width() - barW;
  setHorizontalScrollBarPolicy(needH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(needV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  const QSize client = GetClientSize();
  h = std::clamp(h, 0, ScrollLimit(zoomed.width(), client.width()));
  v = std::clamp(v, 0, ScrollLimit(zoomed.height(), client.height()));
  horizontalScrollBar()->setPageStep(std::max(1, client.width()));
  verticalScrollBar()->setPageStep(std::max(1, client.height()));
  horizontalScrollBar()->setRange(0, ScrollLimit(zoomed.width(), client.width()));
  verticalScrollBar()->setRange(0, ScrollLimit(zoomed.height(), client.height()));
  horizontalScrollBar()->setValue(h);
  verticalScrollBar()->setValue(v);
  m_pDocument->SetScrollPos(SCROLL_HORZ, h);
  m_pDocument->SetScrollPos(SCROLL_VERT, v);
  if (m_bSelectShow) MoveSelectionBy(oldH - h, oldV - v);
  m_bSettingScroll = false;
  m_bInUpdateScrollBars = false;
  return TRUE;
}

void CImageView::MoveSelectionBy(int dx, int dy) {
  if (m_bSelectShow) m_Tracker.m_rect.translate(dx, dy);
}

void CImageView::scrollContentsBy(int, int) {
  if (m_bSettingScroll || !m_pDocument) return;
  const int h = horizontalScrollBar()->value();
  const int v = verticalScrollBar()->value();
  MoveSelectionBy(m_pDocument->GetScrollPos(SCROLL_HORZ) - h, m_pDocument->GetScrollPos(SCROLL_VERT) - v);
  m_pDocument->SetScrollPos(SCROLL_HORZ, h);
  m_pDocument->SetScrollPos(SCROLL_VERT, v);
  if (!RenewalPicture()) LogError("CImageView::OnHScroll", "RenewalPicture()");
  OnUpdate();
}

void CImageView::SetScrollPosition(int horizontal, int vertical) {
  if (!m_pDocument) return;
  const QSize zoomed = ZoomedSize();
  const QSize client = GetClientSize();
  const int h = std::clamp(horizontal, 0, ScrollLimit(zoomed.width(), client.width()));
  const int v = std::clamp(vertical, 0, ScrollLimit(zoomed.height(), client.height()));
  MoveSelectionBy(m_pDocument->GetScrollPos(SCROLL_HORZ) - h, m_pDocument->GetScrollPos(SCROLL_VERT) - v);
  m_bSettingScroll = true;
  horizontalScrollBar()->setValue(h);
  verticalScrollBar()->setValue(v);
  m_bSettingScroll = false;
  m_pDocument->SetScrollPos(SCROLL_HORZ, h);
  m_pDocument->SetScrollPos(SCROLL_VERT, v);
  RenewalPicture();
  OnUpdate();
}

void CImageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  OnUpdate();  // display buffer to the new client size
  UpdateScrollBars();
  if (!RenewalPicture()) LogError("CImageView::OnSize", "RenewalPicture()");
  OnUpdate();
}

// ------------------------------------------------------------ zoom

double CImageView::ClampZoom(double zoom) { return std::clamp(zoom, IMAGE_ZOOM_MIN, IMAGE_ZOOM_MAX); }

void CImageView::SetZoom(double zoom) {
  if (!m_pDocument) return;
  m_pDocument->SetZoom(zoom);
  UpdateScrollBars();
  DropSelection();
  RenewalPicture();
  OnUpdate();
}

double CImageView::BestFitZoom(const QSize& available, const QSize& picture) {
  if (picture.width() <= 0 || picture.height() <= 0) return 0;
  // Whole percents in integers: 290 / 1000 is 29 %, where the double 0.29 x 100 truncates to 28.
  const long long px = static_cast<long long>(available.width()) * 100 / picture.width();
  const long long py = static_cast<long long>(available.height()) * 100 / picture.height();
  return ClampZoom(std::min(px, py) / 100.0);
}

void CImageView::BestFit() {
  // The client area as if both scroll bars were hidden.
  const double zoom = BestFitZoom(contentsRect().size(), RotatedPictureSize());
  if (zoom > 0) SetZoom(zoom);
}

bool CImageView::ComputeAreaZoom(const QSize& client, const QSize& picture, double zoom, const QPoint& scroll,
                                 const QRect& selection, AreaZoom* result) {
  if (zoom <= 0 || picture.isEmpty() || client.isEmpty()) return false;
  // The part of the zoomed picture that lies in the client area.
  const int zoomedW = static_cast<int>(picture.width() * zoom);
  const int zoomedH = static_cast<int>(picture.height() * zoom);
  const int right = std::min(selection.left() + selection.width(), zoomedW - scroll.x());
  const int bottom = std::min(selection.top() + selection.height(), zoomedH - scroll.y());
  const int width = right - selection.left();
  const int height = bottom - selection.top();
  // Beyond the picture, or thin in one direction: nothing to zoom to.
  if (width <= 0 || height <= 0) return false;
  const double factor = std::min(static_cast<double>(client.width()) / width,
                                 static_cast<double>(client.height()) / height);
  const double newZoom = ClampZoom(zoom * factor);
  const int newW = static_cast<int>(picture.width() * newZoom);
  const int newH = static_cast<int>(picture.height() * newZoom);
  int h = static_cast<int>((scroll.x() + selection.left()) / zoom * newZoom);
  int v = static_cast<int>((scroll.y() + selection.top()) / zoom * newZoom);
  h = std::clamp(h, 0, std::max(0, newW - client.width()));
  v = std::clamp(v, 0, std::max(0, newH - client.height()));
  if (result) {
    result->zoom = newZoom;
    result->scroll = QPoint(h, v);
  }
  return true;
}

void CImageView::SelectAreaZoom() {
  if (!m_bSelectShow || !m_pDocument) return;
  AreaZoom az;
  const QPoint scroll(m_pDocument->GetScrollPos(SCROLL_HORZ), m_pDocument->GetScrollPos(SCROLL_VERT));
  if (!ComputeAreaZoom(GetClientSize(), RotatedPictureSize(), GetZoom(), scroll, m_Tracker.m_rect, &az)) return;
  m_pDocument->SetZoom(az.zoom);
  DropSelection();
  UpdateScrollBars();
  SetScrollPosition(az.scroll.x(), az.scroll.y());
}

bool CImageView::LoadZoomFits(const QSize& available, const QSize& decoration, const QSize& picture, double zoom) {
  const bool widthFits = decoration.width() + picture.width() * zoom + 20 <= available.width();
  const bool heightFits = decoration.height() + picture.height() * zoom + 20 < available.height();
  return widthFits && heightFits;
}

double CImageView::ChooseLoadZoom(const QSize& available, const QSize& decoration, const QSize& picture) {
  for (double zoom : {1.0, 0.5, 0.25})
    if (LoadZoomFits(available, decoration, picture, zoom)) return zoom;
  return 0;
}

void CImageView::FitNewPicture(int mode) {
  CImageFrame* frame = GetImageFrame();
  QWidget* area = m_pHost ? m_pHost->GetChildArea() : nullptr;
  const QSize picture = RotatedPictureSize();
  double zoom = 1.0;
  if (frame && area) {
    const QSize decoration = frame->DecorationSize();
    const QPoint at = frame->pos();
    const QSize fromFrame(area->width() - at.x(), area->height() - at.y());
    if (mode == 0) {
      zoom = ChooseLoadZoom(fromFrame, decoration, picture);
      if (zoom == 0) {
        m_pHost->ResetNextChildPos();
        zoom = ChooseLoadZoom(area->size(), decoration, picture);
        if (zoom == 0) zoom = 0.25;
      }
    } else {
      zoom = m_pHost->GetNewPictureZoom();
      if (!LoadZoomFits(fromFrame, decoration, picture, zoom)) m_pHost->ResetNextChildPos();
    }
  } else if (mode != 0 && m_pHost) {
    zoom = m_pHost->GetNewPictureZoom();
  }
  SetZoom(zoom);
  if (frame)
    frame->FitToClientSize(QSize(static_cast<int>(picture.width() * zoom), static_cast<int>(picture.height() * zoom)));
}

// ------------------------------------------------------------ loading

BOOL CImageView::LoadPicture(const std::string& path, BOOL bmp) {
  if (!m_pDocument || !m_pDocument->LoadPicture(path, bmp)) {
    LogError("CImageView::LoadPicture", "LoadPicture");
    return FALSE;
  }
  return ShowLoadedPicture(0);
}

BOOL CImageView::LoadPicture(const BYTE* data, DWORD size, int fitMode) {
  if (!m_pDocument || !m_pDocument->LoadPicture(data, size, m_nDecodeOption)) {
    LogError("CImageView::LoadPicture", "LoadPicture");
    return FALSE;
  }
  // A picture that exists in memory only has changes to save.
  m_pDocument->SetModifiedFlag(true);
  return ShowLoadedPicture(fitMode);
}

BOOL CImageView::ShowLoadedPicture(int fitMode) {
  static const char* const kLog = "CImageView::LoadPicture";
  if (!DrawPicture()) {
    LogError(kLog, "DrawPicture");
    return FALSE;
  }
  FitNewPicture(fitMode);
  UpdateScrollBars();
  if (!RenewalPicture()) {
    LogError(kLog, "RenewalPicture()");
    return FALSE;
  }
  OnUpdate();
  return TRUE;
}

// ------------------------------------------------------------ rotation

void CImageView::SetRotation(int commandId) {
  if (!m_pDocument) return;
  m_pDocument->SetRotate(commandId);
  const int target = m_pDocument->GetRotate();
  const int d = (target - m_nShownRotate + 4) % 4;
  if (d != 0 && !m_Picture.isNull()) {
    // Quarter turns of the layers are exact pixel moves.
    const QTransform t = QTransform().rotate(90.0 * d);
    QImage picture = m_Picture.transformed(t);
    QImage drawing = m_Drawing.transformed(t);
    if (picture.isNull() || drawing.isNull()) {
      TraceLogMemory(TRC_PRE, "CImageView::RotationPicture", "new BYTE[]");
      FotaviMessageBox(IDS_NO_RESOURCE);
      LogError("CImageView::SetRotation", "RotationPicture()");
      return;
    }
    m_Picture = picture.convertToFormat(kLayerFormat);
    m_Drawing = drawing.convertToFormat(kDrawingFormat);
    m_nShownRotate = target;
    m_pDocument->SetModifiedFlag(true);
  }
  UpdateScrollBars();
  RenewalPicture();
  OnUpdate();
}

// ------------------------------------------------------------ full screen

BOOL CImageView::ViewFullScreen() {
  static const char* const kLog = "CImageView::ViewFullScreen";
  if (m_pFullWnd) return TRUE;
  CImageFrame* frame = GetImageFrame();
  RenewalPicture();
  CFullScreenWnd* wnd = nullptr;
  try {
    wnd = new CFullScreenWnd(frame ? frame->GetSafeHwnd() : nullptr, &m_Composed, this);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, kLog, "new CFullScreenWnd");
    FotaviMessageBox(IDS_NO_RESOURCE);
    return FALSE;
  }
  if (!wnd->IsCreated() || !wnd->Initialize()) {
    TraceLog(TRC_PRE, kLog, "Initialization error of CFullScreenWnd.");
    wnd->Destroy();
    return FALSE;
  }
  m_pFullWnd = wnd;
  if (!wnd->DrawPicture()) {
    LogError(kLog, "DrawPicture()");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    EndFullScreen();
    return FALSE;
  }
  return TRUE;
}

void CImageView::EndFullScreen() {
  if (!m_pFullWnd) return;
  CFullScreenWnd* wnd = m_pFullWnd;
  m_pFullWnd = nullptr;
  wnd->SetActive(false);
  wnd->SetSource(nullptr);
  wnd->Destroy();
}

// ------------------------------------------------------------ painting

void CImageView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.drawImage(0, 0, m_Display);
  if (m_bSelectShow) m_Tracker.Draw(&p);
}

// ------------------------------------------------------------ selection and tools

void CImageView::SetSelection(const QRect& clientRect) {
  m_Tracker.m_rect = clientRect;
  m_bSelectShow = true;
  viewport()->update();
}

void CImageView::DropSelection() {
  if (!m_bSelectShow) return;
  m_bSelectShow = false;
  m_Tracker.m_rect = QRect();
  viewport()->update();
}

void CImageView::SetEditMode(int tool) {
  if (m_pHost) m_pHost->SetCurrentTool(tool);
  UpdateCursor();
}

QCursor CImageView::CursorForTool(int tool) const {
  switch (tool) {
    case ID_DRAW_FREELINE:
    case ID_DRAW_LINE:
      return PenCursor();
    case ID_DRAW_RECTANGLE:
    case ID_DRAW_HLINE:
    case ID_DRAW_VLINE:
    case ID_TOOL_SELECT:
      return QCursor(Qt::CrossCursor);
    case ID_DRAW_ERASER: {
      const int size = m_pHost ? m_pHost->GetEraserSize() : 10;
      return EraserCursor(size == 6 || size == 10 || size == 16 ? size : 6);
    }
    case ID_TOOL_HAND:
      return QCursor(m_bLButtonDown ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
    default:
      return QCursor(Qt::ArrowCursor);
  }
}

void CImageView::UpdateCursor() {
  const int tool = m_bLButtonDown ? m_nStrokeTool : (m_pHost ? m_pHost->GetCurrentTool() : ID_TOOL_HAND);
  viewport()->setCursor(CursorForTool(tool));
}

bool CImageView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Enter) UpdateCursor();
  return QAbstractScrollArea::viewportEvent(event);
}

void CImageView::EraseArea(int x, int y, int width, int height) {
  const QPoint topLeft = ClientToPicture(QPoint(x, y));
  const double z = GetZoom();
  const QRect area(topLeft, QSize(static_cast<int>(width / z), static_cast<int>(height / z)));
  // Erasing a stroke is a change to the picture like drawing one; erasing
  // what is clear already changes nothing.
  const bool changes = HasDrawingIn(area);
  {
    QPainter p(&m_Drawing);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillRect(area, Qt::transparent);
  }
  if (changes && m_pDocument) m_pDocument->SetModifiedFlag(true);
  RenewalPicture();
  OnUpdate();
}

void CImageView::EraseAllArea() {
  const bool changes = HasDrawingIn(m_Drawing.rect());
  m_Drawing.fill(Qt::transparent);
  if (changes && m_pDocument) m_pDocument->SetModifiedFlag(true);
  RenewalPicture();
  OnUpdate();
}

bool CImageView::HasDrawingIn(const QRect& area) const {
  const QRect r = area.intersected(m_Drawing.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(m_Drawing.constScanLine(y));
    for (int x = r.left(); x <= r.right(); ++x)
      if (qAlpha(line[x]) != 0) return true;
  }
  return false;
}

// ------------------------------------------------------------ strokes

QPen CImageView::MakeEditPen(bool eraser) const {
  if (eraser) {
    const int size = m_pHost ? m_pHost->GetEraserSize() : 10;
    // At least one picture pixel, however far the picture is zoomed in.
    const int width = std::max(1, static_cast<int>(size / GetZoom()));
    return QPen(QBrush(Qt::transparent), width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  }
  const int width = std::max(1, m_pHost ? m_pHost->GetPenWidth() : 3);
  const QColor color = ColorFromRef(m_pHost ? m_pHost->GetPenColor() : 0);
  if (m_pHost && m_pHost->GetDotLine()) {
    QPen pen(QBrush(color), width, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({1.0, 1.0});  // dots and gaps one pen width long
    return pen;
  }
  return QPen(QBrush(color), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void CImageView::DrawShape(QPainter* painter, int tool, const QPoint& from, const QPoint& to) const {
  const QPoint a = ClientToPicture(from);
  QPoint b = ClientToPicture(to);
  switch (tool) {
    case ID_DRAW_RECTANGLE: {
      painter->setBrush(Qt::NoBrush);
      QPolygon outline;
      outline << a << QPoint(b.x(), a.y()) << b << QPoint(a.x(), b.y());
      painter->drawPolygon(outline);
      return;
    }
    case ID_DRAW_HLINE: b.setY(a.y()); break;
    case ID_DRAW_VLINE: b.setX(a.x()); break;
    default: break;
  }
  painter->drawLine(a, b);
}

void CImageView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  OnLButtonDown(event->position().toPoint(), event->globalPosition().toPoint());
}

void CImageView::mouseMoveEvent(QMouseEvent* event) {
  if (m_bLButtonDown && !(event->buttons() & Qt::LeftButton)) {
    // The release went elsewhere (grab lost): the stroke ends here.
    OnLButtonUp(event->position().toPoint());
    return;
  }
  if (!m_bLButtonDown) UpdateCursor();
  // Only the left button alone; with Shift or Ctrl held nothing happens.
  if (event->buttons() != Qt::LeftButton || event->modifiers() != Qt::NoModifier) return;
  OnMouseMove(event->position().toPoint(), event->globalPosition().toPoint());
}

void CImageView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  OnLButtonUp(event->position().toPoint());
}

void CImageView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  EndStroke();
}

void CImageView::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  EndStroke();
}

void CImageView::EndStroke() {
  if (m_bLButtonDown) OnLButtonUp(m_ptLastMove);
}

void CImageView::OnLButtonDown(const QPoint& point, const QPoint& global) {
  if (m_bLButtonDown || !m_pDocument) return;
  const int tool = m_pHost ? m_pHost->GetCurrentTool() : ID_TOOL_HAND;
  m_ptScrollAtPress = QPoint(m_pDocument->GetScrollPos(SCROLL_HORZ), m_pDocument->GetScrollPos(SCROLL_VERT));
  if (tool != ID_TOOL_HAND) DropSelection();
  switch (tool) {
    case ID_TOOL_HAND:
      m_ptPoint = point;
      m_ptPressGlobal = global;
      break;
    case ID_TOOL_SELECT:
      m_ptPoint = point;
      SetSelection(QRect(point, QSize(0, 0)));
      break;
    case ID_DRAW_FREELINE:
    case ID_DRAW_LINE:
    case ID_DRAW_RECTANGLE:
    case ID_DRAW_HLINE:
    case ID_DRAW_VLINE:
    case ID_DRAW_ERASER: {
      m_pDocument->SetModifiedFlag(true);
      m_ptPoint = point;
      if (tool == ID_DRAW_ERASER) {
        const int half = (m_pHost ? m_pHost->GetEraserSize() : 10) / 2;
        m_ptPoint += QPoint(half, half);
      }
      break;
    }
    default:
      return;
  }
  m_bSuspendedLive = m_pHost && m_pHost->SuspendLive();
  m_nStrokeTool = tool;
  m_bLButtonDown = true;
  m_ptLastMove = point;
  UpdateCursor();
  // The first stamp or segment is drawn without moving.
  OnMouseMove(point, global);
}

void CImageView::OnMouseMove(const QPoint& point, const QPoint& global) {
  if (!m_bLButtonDown) return;
  m_ptLastMove = point;
  BOOL ok = TRUE;
  const char* handler = "";
  switch (m_nStrokeTool) {
    case ID_DRAW_FREELINE:
      ok = MoveMouseFreeLine(point);
      handler = "MoveMouseFreeLine()";
      break;
    case ID_DRAW_LINE:
    case ID_DRAW_RECTANGLE:
    case ID_DRAW_HLINE:
    case ID_DRAW_VLINE:
      ok = RenewalPicture() && MoveMouseShape(m_nStrokeTool, point, &m_Composed) && UpdateBaseDC();
      handler = m_nStrokeTool == ID_DRAW_LINE        ? "MoveMouseLine()"
                : m_nStrokeTool == ID_DRAW_RECTANGLE ? "MoveMouseSquare()"
                : m_nStrokeTool == ID_DRAW_HLINE     ? "MoveMouseHorizon()"
                                                     : "MoveMouseVertical()";
      break;
    case ID_DRAW_ERASER:
      ok = MoveMouseEraser(point);
      handler = "MoveMouseEraser()";
      break;
    case ID_TOOL_HAND:
      ok = MoveMouseDrag(global);
      handler = "MoveMouseDrag()";
      break;
    case ID_TOOL_SELECT:
      ok = MoveMouseSelect(point);
      handler = "MoveMouseSelect()";
      break;
    default:
      break;
  }
  if (!ok) LogError("CImageView::OnMouseMove", handler);
}

BOOL CImageView::MoveMouseFreeLine(const QPoint& point) {
  if (m_pHost && m_pHost->GetDotLine()) {
    // A dotted line is drawn in pieces longer than one dot, so the pattern shows.
    const int step = static_cast<int>(m_pHost->GetPenWidth() * GetZoom());
    if (GetPointDistance(m_ptPoint.x(), m_ptPoint.y(), point.x(), point.y()) <= step) return TRUE;
  }
  {
    QPainter p(&m_Drawing);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setPen(MakeEditPen(false));
    p.drawLine(ClientToPicture(m_ptPoint), ClientToPicture(point));
  }
  m_ptPoint = point;
  return RenewalPicture() && UpdateBaseDC();
}

BOOL CImageView::MoveMouseShape(int tool, const QPoint& point, QImage* target) {
  QPainter p(target);
  p.setRenderHint(QPainter::Antialiasing, false);
  if (target == &m_Drawing) p.setCompositionMode(QPainter::CompositionMode_Source);
  p.setPen(MakeEditPen(false));
  DrawShape(&p, tool, m_ptPoint, point);
  return TRUE;
}

BOOL CImageView::MoveMouseEraser(const QPoint& point) {
  const int size = m_pHost ? m_pHost->GetEraserSize() : 10;
  QPoint at = point;
  if (at != m_ptPoint) at += QPoint(size / 2, size / 2);
  {
    QPainter p(&m_Drawing);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    const double z = GetZoom();
    if (at == m_ptPoint) {
      // A square of the eraser's screen size, at least one picture pixel.
      const int side = std::max(1, static_cast<int>(size / z));
      const int half = static_cast<int>((size / 2) / z);
      const QPoint centre = ClientToPicture(at);
      p.fillRect(QRect(centre.x() - half, centre.y() - half, side, side), Qt::transparent);
    } else {
      p.setPen(MakeEditPen(true));
      p.drawLine(ClientToPicture(m_ptPoint), ClientToPicture(at));
    }
  }
  m_ptPoint = at;
  return RenewalPicture() && UpdateBaseDC();
}

BOOL CImageView::MoveMouseDrag(const QPoint& global) {
  const QSize zoomed = ZoomedSize();
  const QSize client = GetClientSize();
  const int h = m_ptScrollAtPress.x() + (m_ptPressGlobal.x() - global.x());
  const int v = m_ptScrollAtPress.y() + (m_ptPressGlobal.y() - global.y());
  SetScrollPosition(std::clamp(h, 0, ScrollLimit(zoomed.width(), client.width())),
                    std::clamp(v, 0, ScrollLimit(zoomed.height(), client.height())));
  return TRUE;
}

BOOL CImageView::MoveMouseSelect(const QPoint& point) {
  // Kept inside on the left and top; zooming clips the right and bottom.
  const QPoint at(std::max(point.x(), 0), std::max(point.y(), 0));
  m_Tracker.m_rect = QRect(QPoint(std::min(m_ptPoint.x(), at.x()), std::min(m_ptPoint.y(), at.y())),
                           QSize(std::abs(at.x() - m_ptPoint.x()), std::abs(at.y() - m_ptPoint.y())));
  m_bSelectShow = true;
  viewport()->update();
  return TRUE;
}

void CImageView::OnLButtonUp(const QPoint& point) {
  if (m_bLButtonDown) {
    switch (m_nStrokeTool) {
      case ID_DRAW_LINE:
      case ID_DRAW_RECTANGLE:
      case ID_DRAW_HLINE:
      case ID_DRAW_VLINE:
        MoveMouseShape(m_nStrokeTool, point, &m_Drawing);
        if (!RenewalPicture()) LogError("CImageView::OnLButtonUp", "RenewalPicture()");
        UpdateBaseDC();
        break;
      case ID_TOOL_SELECT:
        MoveMouseSelect(point);
        if (m_Tracker.m_rect.width() <= 2 && m_Tracker.m_rect.height() <= 2) DropSelection();
        viewport()->update();
        break;
      default:
        break;
    }
  }
  const bool resume = m_bSuspendedLive;
  m_bSuspendedLive = false;
  m_bLButtonDown = false;
  UpdateCursor();
  if (resume && m_pHost) m_pHost->ResumeLive();
}
