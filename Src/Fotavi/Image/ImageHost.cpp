#include "Image/ImageHost.h"

#include <QMdiArea>
#include <QPointer>

#include <memory>

#include "Image/DrawToolDlg.h"
#include "App/MainFrm.h"
#include "App/Resource.h"

namespace {

// The drawing settings, the live monitor and the window placement of the
// program's main frame.
class CMainFrameImageHost : public CImageHost {
 public:
  explicit CMainFrameImageHost(CMainFrame* frame) : CImageHost(&frame->GetDrawSettings()), m_pFrame(frame) {}

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

 protected:
  void OnToolChanged(int tool) override {
    if (m_pFrame) m_pFrame->SetCurrentTool(tool);
  }

 private:
  QPointer<CMainFrame> m_pFrame;
};

}  // namespace

CImageHost* ImageHostFor(CMainFrame* mainFrame) {
  if (!mainFrame) return nullptr;
  if (!mainFrame->GetImageHost()) mainFrame->SetImageHost(std::make_unique<CMainFrameImageHost>(mainFrame));
  return mainFrame->GetImageHost();
}
