// The presentation program behind the conversion: LibreOffice Impress,
// without a display, turns a presentation into a PDF (hidden slides
// included), and Poppler renders its pages in-process. One page is one
// slide.
//
// soffice runs as a child process in a process group of its own, with a
// private user profile and TMPDIR inside a folder of this export's own
// (never the work folder the card tools empty, so the profile, which takes
// seconds to build, lasts from one conversion to the next), and with a time
// limit; a cleared run flag or the limit kills the whole group, after which
// the profile's lock file and the temporary files are removed. soffice exits
// 0 even when it could not load the file, so an export counts only when it
// left a PDF that opens.
//
// Works without a Qt application object: Poppler renders with its own
// rasteriser into a QImage.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "Common/Bitmap.h"
#include "Platform/Types.h"

namespace Poppler {
class Document;
}

class CPresentationExport {
 public:
  enum OpenResult {
    OPEN_OK = 0,
    OPEN_NOT_STARTED,  // soffice could not be started (missing, not executable)
    OPEN_FAILED,       // it ran but left no PDF that opens
    OPEN_TIMED_OUT,    // the time limit ran out; it was killed
    OPEN_CANCELED,     // the run flag was cleared; it was killed
  };

  static constexpr int DEFAULT_TIME_LIMIT_MS = 180000;
  // The option that makes the PDF export keep hidden slides; LibreOffice
  // ignores every other spelling of it without a word.
  static constexpr const char* PDF_FILTER =
      "pdf:impress_pdf_Export:{\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"true\"}}";

  // `folder`: a private folder for this export alone; the profile, the
  // temporary folder and the PDF are kept below it. The profile stays; the
  // other two are emptied after each use and removed with the object.
  explicit CPresentationExport(std::string folder);
  ~CPresentationExport();
  CPresentationExport(const CPresentationExport&) = delete;
  CPresentationExport& operator=(const CPresentationExport&) = delete;

  // The program to start ("soffice", looked up in PATH, unless a path).
  void SetProgram(std::string program) { m_strProgram = std::move(program); }
  const std::string& GetProgram() const { return m_strProgram; }
  void SetTimeLimit(int milliseconds) { m_nTimeLimitMs = milliseconds; }
  int GetTimeLimit() const { return m_nTimeLimitMs; }

  // True when the program can be found and run.
  bool IsAvailable() const;

  // Exports `path` (a regular file only: anything else fails at once) to
  // PDF and opens it. `running` is read every few
  // milliseconds while soffice runs; 0 kills it. Any earlier document is
  // closed first.
  OpenResult Open(const std::string& path, const std::atomic<LONG>* running);
  // Number of slides of the open presentation (0 when none is open).
  int GetSlideCount() const;
  // Renders slide `index` (1-based) to exactly width x height, the page
  // stretched to fill it. A null picture on failure.
  CBitmap24 RenderSlide(int index, int width, int height) const;
  // Drops the document and its PDF.
  void Close();

  // Folders used below the export's folder.
  std::string GetProfileFolder() const;
  std::string GetTempFolder() const;
  std::string GetPdfFolder() const;

 private:
  // Removes what a killed soffice leaves behind: the profile's lock file and
  // everything in the temporary folder.
  void CleanStaleFiles() const;

  std::string m_strFolder;
  std::string m_strProgram = "soffice";
  int m_nTimeLimitMs = DEFAULT_TIME_LIMIT_MS;
  std::unique_ptr<Poppler::Document> m_pDocument;
};
