#include "Image/ImageDoc.h"

#include "Common/StringTable.h"
#include "App/FotaviApp.h"
#include "Image/ImageFrame.h"
#include "Image/ImageStrings.h"

CImageDoc::CImageDoc(CDocTemplate* docTemplate) : CFotaviDoc(docTemplate, "CImageDoc") {}

CImageDoc::~CImageDoc() = default;

CImageFrame* CImageDoc::GetImageFrame() const { return qobject_cast<CImageFrame*>(GetFrame()); }

BOOL CImageDoc::SaveModified() {
  if (!IsModified()) return TRUE;
  std::string text = FotaviText(IDS_SAVE_QUESTION);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, GetTitle());
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
