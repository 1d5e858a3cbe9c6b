// The document of one still picture: its picture holder (made when the view
// is created) and the modified flag that decides whether closing asks to save.
#pragma once

#include "App/Document.h"

class CImageFrame;

class CImageDoc : public CFotaviDoc {
 public:
  explicit CImageDoc(CDocTemplate* docTemplate);
  ~CImageDoc() override;

  // The question before the document closes: TRUE lets it close. Unmodified:
  // TRUE. Otherwise "Save changes to the document %s before closing?" with
  // Yes (save, close only when saved), No (close) and Cancel (stay open).
  BOOL SaveModified();

  CImageFrame* GetImageFrame() const;
};
