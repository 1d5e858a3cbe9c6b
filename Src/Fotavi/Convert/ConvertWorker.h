// The conversion of presentations, JPEG and BMP files into EXIF JPEG
// pictures named "IMAG%04d.jpg": one file or every convertible file of a
// folder, into a destination (a PC folder, or the camera's card through a
// destination of its own), on a worker thread of its own.
//
// Every picture is brought to a size the camera accepts (IsConvertibleSize,
// else ConvertBmpSize), saved as a JPEG of quality 75 with 4:2:2 sampling and
// given the Exif header of CExifHdrAdd; each slide of a presentation becomes
// one picture (CPresentationExport). Files that fail become error entries
// (source path, message) and the run goes on; a destination that can take
// no more stops the run, and every remaining file gets one entry with the
// stop message; a failure of the system sets the fatal flag, shows its
// message at once and suppresses the error list.
//
// The worker touches no widgets: progress and message boxes go to the host,
// which hands them to the user-interface thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/Bitmap.h"
#include "Common/Jpeg.h"
#include "ConvertDestination.h"
#include "TransErrEntry.h"
#include "PresentationExport.h"
#include "Platform/Types.h"

// The message a host posts to the progress dialog when the worker ends
// (wParam the result, lParam 0).
constexpr UINT WM_CONVERT_END = 0x401;

// What the worker reports to the program. Called on the worker thread.
class IConvertHost {
 public:
  virtual ~IConvertHost() = default;
  // The count text of the progress dialog ("3 / 10").
  virtual void SetProgressText(const std::string& text) = 0;
  // The progress position, 0 to 100.
  virtual void SetProgressPos(int position) = 0;
  // A counted message box with a string-table text and an icon.
  virtual void ShowMessage(UINT stringId, UINT type) = 0;
  // The worker has finished (the progress dialog ends with `result`).
  virtual void ConvertEnd(int result) = 0;
};

// Where a picture is drawn on its canvas.
struct ConvertFitGeometry {
  int canvasWidth = 0;
  int canvasHeight = 0;
  int x = 0;
  int y = 0;
  int width = 0;   // drawn size
  int height = 0;
  bool reduced = false;  // drawn smaller than its own size (smooth scaling)
};

class CConvertWorker {
 public:
  enum SourceKind { KIND_NONE, KIND_JPEG, KIND_BMP, KIND_PPT };

  static constexpr int JPEG_QUALITY = 75;
  static constexpr int SLIDE_WIDTH = 1024;
  static constexpr int SLIDE_HEIGHT = 768;
  static constexpr int MAX_WIDTH = 2592;
  static constexpr int MAX_HEIGHT = 1944;
  static constexpr int MAX_NUMBER = 9999;
  static constexpr const char* SLIDE_FILE_NAME = "PTJ_TEMP.tmp";

  // `workFolder`: the program's work folder ("FotaviK27_Cache" in its
  // private work folder); `presentationFolder`: the private folder of the
  // presentation export (CPresentationExport); `jpeg`: the program's codec
  // wrapper.
  CConvertWorker(std::string workFolder, std::string presentationFolder, IConvertHost* host,
                 const CJpeg& jpeg = CJpeg());
  ~CConvertWorker();
  CConvertWorker(const CConvertWorker&) = delete;
  CConvertWorker& operator=(const CConvertWorker&) = delete;

  // ---- the choices of the conversion dialog (set before a run)
  void SetFileMode(bool fileMode) { m_bFileMode = fileMode; }
  void SetSourceFile(std::string path) { m_strSourceFile = std::move(path); }
  void SetSourceFolder(std::string path) { m_strSourceFolder = std::move(path); }
  // Not owned; must outlive the run.
  void SetDestination(IConvertDestination* destination) { m_pDestination = destination; }
  CPresentationExport& Presentation() { return m_Presentation; }

  // ---- running
  // Sets the running flag and starts the worker thread, which runs
  // ConvertThread and then calls the host's ConvertEnd(1). FALSE when a run
  // is going on or no thread can be started.
  BOOL Start();
  // Waits for the worker thread to end.
  void Join();
  // Cancel: clears the running flag; the worker stops between files and
  // slides, a JPEG source being read or decoded stops where it is (it is
  // listed as cancelled), and a presentation export in progress is killed.
  void Cancel() { m_Running.store(0); }
  LONG IsRunning() const { return m_Running.load(); }
  // Sets the running flag for a run on the calling thread (tests, benchmarks).
  void PrepareRun() { m_Running.store(1); }

  // The run itself; 1 when it went through, 0 otherwise.
  int ConvertThread();

  // ---- results of the last run
  const CErrorList& GetErrorList() const { return m_ErrorList; }
  void FreeErrorList() { FreeTransErrList(&m_ErrorList); }
  bool IsFatal() const { return m_bFatal; }
  bool IsStopped() const { return m_bStopped; }
  UINT GetStopMessage() const { return m_nStopMessage; }
  int GetCurrentNumber() const { return m_nCurrentNumber; }
  const std::vector<std::string>& GetFiles() const { return m_Files; }

  // ---- steps (public for the dialog and tests)
  // The files of a folder run: JPG, then BMP, then PPT, then PPTX, each
  // kind in name order; folders and paths of 260 characters (UTF-16 units)
  // or more skipped.
  static std::vector<std::string> EnumFiles(const std::string& folder);
  // The kind chosen by the path's extension (any case).
  static SourceKind KindOf(const std::string& path);

  // One source by its kind: ExportJPEG, ExportBMP or ExportPPT; memory that
  // runs out gives the file an entry ("Unable to convert file.") and 0.
  int ConvertOne(const std::string& source);
  int FilePluralConvert();
  int ConvertFile();
  int ExportPPT(const std::string& source);
  int ExportJPEG(const std::string& source);
  int ExportBMP(const std::string& source);
  int PptToExif(const std::string& source, int slide, const std::string& output);
  int JpegToExif(const std::string& source, const std::string& output);
  int BmpToExif(const std::string& source, const std::string& output);
  int CreateConvFileName(std::string* output);
  int TransFiles(const std::string& source, const std::string& staged);
  void AddError(UINT stringId, const std::string& source);

  static bool IsConvertibleSize(int width, int height);
  // Canvas and placement for a picture of width x height; false for a size
  // below 1.
  static bool GetFitGeometry(int width, int height, ConvertFitGeometry* geometry);
  // The picture on a black canvas of an accepted size. FALSE for an empty
  // picture or when memory runs out.
  static BOOL ConvertBmpSize(const QImage& source, CBitmap24* out);

  std::string GetSlideFile() const;

 private:
  void SetProgress(int done, int count);
  // ExportJPEG and ExportBMP.
  int ExportPicture(const std::string& source, SourceKind kind);
  // The size rule, then SaveExif; an entry for the source on failure.
  int FitAndSave(CBitmap24* picture, const std::string& source, const std::string& output, const char* function);
  // Saves, adds the Exif header; removes the output again on failure.
  int SaveExif(const CBitmap24& picture, const std::string& output, const char* function);
  void ShowMessage(UINT stringId, UINT type);
  // After a failed decode: when Cancel caused it, stops the run with the
  // message "Operation was canceled." (the export lists the source with it)
  // and answers true.
  bool StopIfCanceled();
  // Hands a staged picture to the card and deletes it; false to stop.
  bool DeliverStaged(const std::string& source, const std::string& staged, const char* function);
  static void RunThread(CConvertWorker* worker);

  std::string m_strWorkFolder;
  IConvertHost* m_pHost;
  CJpeg m_Jpeg;
  CPresentationExport m_Presentation;
  IConvertDestination* m_pDestination = nullptr;

  bool m_bFileMode = true;
  std::string m_strSourceFile;
  std::string m_strSourceFolder;

  std::atomic<LONG> m_Running{0};
  int m_nCurrentNumber = 0;
  int m_nFilesDone = 0;
  bool m_bNumberKnown = false;
  bool m_bStopped = false;
  UINT m_nStopMessage = 0;
  bool m_bFatal = false;
  CErrorList m_ErrorList;
  std::vector<std::string> m_Files;
  std::thread m_Thread;
};
