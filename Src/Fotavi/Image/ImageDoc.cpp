#include "Image/ImageDoc.h"

#include <QPointer>

#include "App/FotaviApp.h"
#include "Image/ImageFrame.h"
#include "Image/ImageStrings.h"

CImageDoc::CImageDoc(CDocTemplate* docTemplate) : CFotaviDoc(docTemplate, "CImageDoc") {}

CImageDoc::~CImageDoc() = default;

CImageFrame* CImageDoc::GetImageFrame() const { return qobject_cast<CImageFrame*>(GetFrame()); }

BOOL CImageDoc::SaveModified() {
  if (!IsModified()) return TRUE;
  const std::string text = FormatFotaviText(FotaviText(IDS_SAVE_QUESTION), GetTitle());
  switch (FotaviMessageBoxText(text, MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDYES: {
      CImageFrame* frame = GetImageFrame();
      if (!frame) return FALSE;
      // A name still to be asked keeps the window open; once that box has
      // saved the picture, the window closes (without the question: the
      // picture is saved).
      QPointer<CImageFrame> closing(frame);
      return frame->DoSaveFile(SAVEMODE_SAVE, [closing](BOOL saved) {
        if (saved && closing) PostMessage(closing->GetSafeHwnd(), WM_CLOSE, 0, 0);
      });
    }
    case IDNO:
      return TRUE;
    default:
      return FALSE;
  }
}
