#include "Image/ImageHost.h"

#include <QMdiArea>
#include <QPointer>

#include <map>
#include <memory>

#include "Image/DrawToolDlg.h"
#include "App/MainFrm.h"
#include "App/Resource.h"

namespace {

// The drawing settings, the live monitor and the window placement of the
// program's main frame.
class CMainFrameImageHost : public CImageHost {
 public:
  explicit CMainFrameImageHost(CMainFrame* frame) : m_pFrame(frame) {}
  bool IsFor(CMainFrame* frame) const { return m_pFrame.data() == frame; }

  int GetCurrentTool() const override { return m_pFrame ? m_pFrame->GetCurrentTool() : CImageHost::GetCurrentTool(); }
  void SetCurrentTool(int tool) override {
    if (m_pFrame) m_pFrame->SetCurrentTool(tool);
    else CImageHost::SetCurrentTool(tool);
  }
  int GetPenWidth() const override { return m_pFrame ? m_pFrame->GetPenWidth() : CImageHost::GetPenWidth(); }
  void SetPenWidth(int width) override {
    if (m_pFrame) m_pFrame->SetPenWidth(width);
    else CImageHost::SetPenWidth(width);
  }
  BYTE GetDotLine() const override { return m_pFrame ? m_pFrame->GetDotLine() : CImageHost::GetDotLine(); }
  void SetDotLine(BYTE dotted) override {
    if (m_pFrame) m_pFrame->SetDotLine(dotted);
    else CImageHost::SetDotLine(dotted);
  }
  COLORREF GetPenColor() const override { return m_pFrame ? m_pFrame->GetPenColor() : CImageHost::GetPenColor(); }
  void SetPenColor(COLORREF color) override {
    if (m_pFrame) m_pFrame->SetPenColor(color);
    else CImageHost::SetPenColor(color);
  }
  int GetEraserSize() const override { return m_pFrame ? m_pFrame->GetEraserSize() : CImageHost::GetEraserSize(); }
  void SetEraserSize(int size) override {
    if (m_pFrame) m_pFrame->SetEraserSize(size);
    else CImageHost::SetEraserSize(size);
  }

  bool SuspendLive() override { return m_pFrame && m_pFrame->SuspendLive(); }
  void ResumeLive() override {
    if (m_pFrame) m_pFrame->ResumeSuspendedLive();
  }
  HWND GetMainWnd() const override { return m_pFrame ? m_pFrame->GetSafeHwnd() : nullptr; }

  double GetNewPictureZoom() const override { return m_pFrame ? m_pFrame->GetNewPictureZoom() : 1.0; }
  int GetUntitledCount() const override {
    return m_pFrame ? m_pFrame->GetUntitledCount() : CImageHost::GetUntitledCount();
  }
  QPoint GrantChildPosition(const QSize& outer) override {
    return m_pFrame ? m_pFrame->GrantChildPosition(outer) : QPoint();
  }
  void AdvanceNextChildPos() override {
    if (m_pFrame) m_pFrame->AdvanceNextChildPos();
  }
  void ResetNextChildPos() override {
    if (m_pFrame) m_pFrame->SetNextChildPos(QPoint(0, 0));
  }
  QWidget* GetChildArea() const override {
    return m_pFrame && m_pFrame->GetMdiArea() ? m_pFrame->GetMdiArea()->viewport() : nullptr;
  }

  void UncheckPalette() override {
    if (!m_pFrame) return;
    if (auto* palette = qobject_cast<CEditViewTool*>(m_pFrame->GetDrawPalette())) palette->UncheckAll();
  }
  void EraseArea() override {
    if (m_pFrame) m_pFrame->EraseArea();
  }
  void EraseAll() override {
    if (m_pFrame) m_pFrame->EraseAll();
  }

 private:
  QPointer<CMainFrame> m_pFrame;
};

}  // namespace

CImageHost* ImageHostFor(CMainFrame* mainFrame) {
  if (!mainFrame) return nullptr;
  static std::map<CMainFrame*, std::unique_ptr<CMainFrameImageHost>> hosts;
  auto& host = hosts[mainFrame];
  // A new frame at the address of a deleted one gets a new adapter.
  if (!host || !host->IsFor(mainFrame)) host = std::make_unique<CMainFrameImageHost>(mainFrame);
  return host.get();
}
