#include "Image/ImageDoc.h"

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
      return frame && frame->DoSaveFile(SAVEMODE_SAVE) ? TRUE : FALSE;
    }
    case IDNO:
      return TRUE;
    default:
      return FALSE;
  }
}
