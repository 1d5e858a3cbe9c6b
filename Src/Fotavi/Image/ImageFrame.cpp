#include "Image/ImageFrame.h"

#include <QPointer>

#include "App/Zoom.h"

#include <QMdiArea>
#include <QPainter>
#include <QPolygon>

#include <cmath>
#include <cstdio>
#include <new>

#include "Common/Bmp.h"
#include "Common/CommonFunc.h"
#include "Common/FileSelDlg.h"
#include "Common/Jpeg.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "App/Icons.h"
#include "Image/DrawToolDlg.h"
#include "Image/ImageView.h"
#include "App/MainFrm.h"
#include "App/Resource.h"

namespace {

constexpr const char* kSaveFilter = "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||";
constexpr int kJpegQuality = 75;
constexpr size_t kPathBufferLength = 261;

std::string Upper(const std::string& text) { return QString::fromStdString(text).toUpper().toStdString(); }


}  // namespace

int ImageMessageBox(UINT id) { return FotaviMessageBoxText(FotaviText(id)); }

CImageFrame::CImageFrame(CMainFrame* mainFrame, std::unique_ptr<CImageDoc> document, CImageHost* host)
    : CChildFrame(mainFrame, std::move(document), "CImageFrame"), m_pHost(host) {
  if (!m_pHost) {
    m_pOwnHost = std::make_unique<CImageHost>();
    m_pHost = m_pOwnHost.get();
  }
  setWindowIcon(StillPictureIcon());
  m_pView = new CImageView(GetImageDoc(), m_pHost, this);
  setWidget(m_pView);
  const QSize outer = OuterSizeFor(QSize(512, 384));
  resize(outer);
  move(m_pHost->GrantChildPosition(outer));
  PostMessage(GetSafeHwnd(), WM_CHILD_POSTCREATE, 0, 0);
}

CImageFrame::~CImageFrame() = default;

CImageDoc* CImageFrame::GetImageDoc() const { return static_cast<CImageDoc*>(GetDocument()); }

// ------------------------------------------------------------ messages

LRESULT CImageFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CHILD_POSTCREATE: {
      const int tool = m_pHost->GetCurrentTool();
      if (tool == ID_TOOL_HAND || tool == ID_TOOL_SELECT) m_pHost->SetCurrentTool(tool);
      m_pHost->AdvanceNextChildPos();
      return 0;
    }
    case WM_UPDATE_TITLE:
      UpdateTitle();
      return 0;
    case WM_IMAGE_CLOSEREQ:
      if (GetDocument()) GetDocument()->SetModifiedFlag(false);
      PostMessage(GetSafeHwnd(), WM_CLOSE, 0, 0);
      return 0;
    case WM_FULLSCREEN_END:
      if (m_pView) m_pView->EndFullScreen();
      return 0;
    default:
      return CChildFrame::WindowProc(msg, wParam, lParam);
  }
}

bool CImageFrame::CanClose() {
  // Its save box is in front: that answer comes first.
  if (m_bSaveBoxOpen) return false;
  CImageDoc* doc = GetImageDoc();
  return !doc || doc->SaveModified();
}

// ------------------------------------------------------------ commands

bool CImageFrame::OnCmdMsg(int id) {
  switch (id) {
    case ID_FILE_SAVEFILE: DoSaveFile(SAVEMODE_SAVE); return true;
    case ID_FILE_SAVEAS: DoSaveFile(SAVEMODE_SAVEAS); return true;
    case ID_ROTATE_180:
    case ID_ROTATE_90CCW:
    case ID_ROTATE_90CW:
      m_pView->SetRotation(id);
      return true;
    case ID_TOOL_HAND:
    case ID_TOOL_SELECT:
      OnToolChoice(id);
      return true;
    case ID_VIEW_ZOOMIN: ZoomIn(); break;
    case ID_VIEW_ZOOMOUT: ZoomOut(); break;
    case ID_VIEW_ACTUALSIZE: m_pView->SetZoom(1.0); break;
    case ID_VIEW_BESTFIT: m_pView->BestFit(); break;
    case ID_VIEW_ZOOMSELECT: m_pView->SelectAreaZoom(); break;
    case ID_VIEW_FULLSCREEN:
      if (!m_pView->ViewFullScreen())
        TraceLog(TRC_PRE, "CImageFrame::SetFullScreen", "The error occurred with the [ViewFullScreen()] function.");
      return true;
    default:
      return false;
  }
  SendMessage(GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  return true;
}

bool CImageFrame::OnUpdateCmdUI(CCmdUI* ui) {
  switch (ui->id) {
    case ID_FILE_SAVEFILE:
      ui->Enable(GetDocument() && GetDocument()->IsModified());
      return true;
    case ID_VIEW_ZOOMSELECT:
      ui->Enable(m_pView->HasSelection());
      return true;
    case ID_TOOL_HAND:
    case ID_TOOL_SELECT:
      ui->Enable(true);
      ui->SetCheck(m_pHost->GetCurrentTool() == ui->id);
      return true;
    case ID_FILE_SAVEAS:
    case ID_ROTATE_180:
    case ID_ROTATE_90CCW:
    case ID_ROTATE_90CW:
    case ID_VIEW_ZOOMIN:
    case ID_VIEW_ZOOMOUT:
    case ID_VIEW_ACTUALSIZE:
    case ID_VIEW_BESTFIT:
    case ID_VIEW_FULLSCREEN:
      ui->Enable(true);
      return true;
    default:
      return false;
  }
}

void CImageFrame::OnToolChoice(int id) {
  if (m_pHost->GetCurrentTool() != id) m_pHost->UncheckPalette();
  m_pView->SetEditMode(id);
}

double CImageFrame::NextZoomIn(double zoom) { return ZoomStepAbove(zoom); }

double CImageFrame::NextZoomOut(double zoom) { return ZoomStepBelow(zoom); }

void CImageFrame::ZoomIn() { m_pView->SetZoom(NextZoomIn(m_pView->GetZoom())); }

void CImageFrame::ZoomOut() { m_pView->SetZoom(NextZoomOut(m_pView->GetZoom())); }

// ------------------------------------------------------------ loading and erasing

BOOL CImageFrame::LoadFile(const std::string& path, BOOL bmp) {
  if (!m_pView->LoadPicture(path, bmp)) {
    TraceLog(TRC_PRE, "CImageFrame::LoadPicture", "The error occurred with the [LoadPicture()] function.");
    return FALSE;
  }
  return TRUE;
}

BOOL CImageFrame::LoadFromMemory(const BYTE* data, DWORD size) { return m_pView->LoadPicture(data, size, 1); }

void CImageFrame::EraseArea() {
  if (!m_pView->HasSelection()) return;
  const QRect r = m_pView->GetSelection();
  m_pView->EraseArea(r.x(), r.y(), r.width(), r.height());
}

void CImageFrame::EraseAll() { m_pView->EraseAllArea(); }

// ------------------------------------------------------------ size and caption

QSize CImageFrame::DecorationSize() const { return OuterSizeFor(QSize(0, 0)); }

void CImageFrame::FitToClientSize(const QSize& client) {
  QSize outer = OuterSizeFor(client);
  const QPoint at = m_pHost->GrantChildPosition(outer);
  if (const QWidget* area = m_pHost->GetChildArea()) {
    // A window bigger than the work area keeps its picture's zoom and takes
    // the room there is from its position: the picture scrolls inside it,
    // and its caption and buttons stay in sight.
    const QSize room(area->width() - at.x(), area->height() - at.y());
    if (room.isValid() && !room.isEmpty()) outer = outer.boundedTo(room);
  }
  resize(outer);
  move(at);
  show();
}

std::string CImageFrame::FormatZoom(double zoom) { return FormatZoomPercent(zoom); }

void CImageFrame::UpdateTitle() {
  CImageDoc* doc = GetImageDoc();
  if (!doc) return;
  std::string name = doc->GetName();
  if (!name.empty()) {
    CFilePath path;
    path.SetPath(name);
    name = path.GetFileName();
  } else {
    name = "Untitled-" + std::to_string(m_pHost->GetUntitledCount());
  }
  doc->SetName(name);
  doc->SetTitle(name);
  setWindowTitle(QString::fromStdString(name + " " + FormatZoom(m_pView->GetZoom())));
}

// ------------------------------------------------------------ saving

bool CImageFrame::SaveAsBmp(const std::string& path, bool defaultBmp) {
  const std::string ext = Upper(CFilePath(path).GetExt());
  if (ext == ".BMP") return true;
  if (ext == ".JPG") return false;
  return defaultBmp;
}

BOOL CImageFrame::DoSaveFile(int mode, std::function<void(BOOL saved)> then) {
  static const char* const kLog = "CImageFrame::DoSaveFile";
  CImageDoc* doc = GetImageDoc();
  if (!doc) return FALSE;
  const std::string path = doc->GetPath();
  if (mode == SAVEMODE_SAVE && !path.empty() && IsPathExist(path))
    return WritePicture(path, doc->GetSaveKind() == SAVEKIND_BMP);
  if (m_bSaveBoxOpen) return FALSE;  // one box at a time; it is in front

  bool defaultBmp = false;
  std::string folder;
  if (!path.empty()) {
    defaultBmp = Upper(CFilePath(path).GetExt()) == ".BMP";
    folder = CFilePath(path).GetFolder();
  } else {
    CRegOperation reg;
    folder = reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "OutputFolder", "");
    if (folder.empty() || !IsPathExist(folder)) folder = GetMyDocumentsPath();
  }
  CFileSelDlg dialog(false, "jpg", {}, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kSaveFilter, GetSafeHwnd());
  CControlDialog* counter = CFotaviApp::Instance() ? CFotaviApp::Instance()->GetControlDialog() : nullptr;
  // The answer may come before Open returns (a service that answers at
  // once): then it is this call's result.
  struct Call {
    bool returned = false;
    BOOL saved = FALSE;
  };
  auto call = std::make_shared<Call>();
  QPointer<CImageFrame> self(this);
  m_bSaveBoxOpen = true;
  dialog.Open(nullptr, folder.empty() ? nullptr : folder.c_str(), &path, kPathBufferLength, counter,
              [self, call, defaultBmp, then = std::move(then)](int result, const std::string& chosen) {
                if (!self) return;
                self->m_bSaveBoxOpen = false;
                BOOL saved = FALSE;
                if (result == IDOK) {
                  CRegOperation().WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE,
                                                     "OutputFolder", CFilePath(chosen).GetFolder());
                  saved = self->WritePicture(chosen, defaultBmp);
                } else if (result != IDCANCEL) {
                  TraceLog(TRC_PRE, kLog, "The error occurred with the [DoModal()] function. Return Code[%d]", result);
                  FotaviMessageBox(IDS_INTERNAL_ERROR);
                }
                if (!call->returned) {
                  call->saved = saved;
                } else if (then) {
                  then(saved);
                }
              });
  call->returned = true;
  return call->saved;
}

BOOL CImageFrame::WritePicture(const std::string& path, bool defaultBmp) {
  static const char* const kLog = "CImageFrame::DoSaveFile";
  CImageDoc* doc = GetImageDoc();
  if (!doc) return FALSE;
  const bool bmp = SaveAsBmp(path, defaultBmp);
  const CBitmap24 picture = m_pView->GetComposedBitmap();
  // Both writers replace an existing file only once the new one is whole.
  const BOOL saved = bmp ? CBmp().Save(path, picture) : FotaviJpeg().Save(path, picture, kJpegQuality);
  if (!saved) {
    TraceLog(TRC_PRE, kLog, "%s",
             bmp ? "The error occurred with the [BMP Save()] function."
                 : "The error occurred with the [JPEG Save()] function.");
    ImageMessageBox(IDS_SAVE_ERROR);
    return FALSE;
  }
  doc->SetSaveKind(bmp ? SAVEKIND_BMP : SAVEKIND_JPEG);
  doc->SetPath(path);
  const std::string name = CFilePath(path).GetFileName();
  doc->SetName(name);
  doc->SetTitle(name);
  SendMessage(GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  doc->SetModifiedFlag(false);
  return TRUE;
}

// ------------------------------------------------------------ template

CChildFrame* CreateImageFrame(CMainFrame* mainFrame, CDocTemplate* docTemplate) {
  try {
    auto doc = std::make_unique<CImageDoc>(docTemplate);
    auto* frame = new CImageFrame(mainFrame, std::move(doc), ImageHostFor(mainFrame));
    if (mainFrame && mainFrame->GetMdiArea()) {
      mainFrame->GetMdiArea()->addSubWindow(frame);
      // The area places new windows by itself; ours cascade from the main
      // frame's next child position.
      frame->move(frame->GetHost()->GrantChildPosition(frame->size()));
    }
    return frame;
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CImageDoc::CreateViewData", "new CImageFrame");
    FotaviMessageBox(IDS_NO_RESOURCE);
    return nullptr;
  }
}

void RegisterImageParts() {
  RegisterDocTemplateFactory(DOCTEMPLATE_IMAGE, CreateImageFrame);
  CMainFrame::RegisterToolFactory(ID_TOOL_DRAW, [](CMainFrame* mainFrame) -> QWidget* {
    return new CEditViewTool(ImageHostFor(mainFrame), mainFrame);
  });
}
