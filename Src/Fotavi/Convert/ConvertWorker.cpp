#include "ConvertWorker.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "Common/Bmp.h"
#include "Common/CommonFunc.h"
#include "Common/TraceLog.h"
#include "Text/FotaviStrings.h"
#include "ExifHdrAdd.h"
#include "Platform/Paths.h"
#include "Platform/UiService.h"

// The trace lines carry the names of the conversion dialog's functions, whose
// work this class does.
namespace {

std::string UpperExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

CConvertWorker::CConvertWorker(std::string workFolder, std::string presentationFolder, IConvertHost* host,
                               const CJpeg& jpeg)
    : m_strWorkFolder(std::move(workFolder)),
      m_pHost(host),
      m_Jpeg(jpeg),
      m_Presentation(std::move(presentationFolder)) {
  while (m_strWorkFolder.size() > 1 && m_strWorkFolder.back() == '/') m_strWorkFolder.pop_back();
  // Cancel reaches a source being read or decoded, not only the next file.
  m_Jpeg.SetRunningFlag(&m_Running);
}

CConvertWorker::~CConvertWorker() {
  Cancel();
  Join();
  FreeTransErrList(&m_ErrorList);
}

std::string CConvertWorker::GetSlideFile() const { return m_strWorkFolder + "/" + SLIDE_FILE_NAME; }

void CConvertWorker::ShowMessage(UINT stringId, UINT type) {
  if (m_pHost) m_pHost->ShowMessage(stringId, type);
}

void CConvertWorker::AddError(UINT stringId, const std::string& source) {
  if (!AddTransErrEntry(FotaviText(stringId), source, &m_ErrorList)) {
    TraceLogMemory(TRC_PRE, "CPptDlg::AddError", "GlobalAlloc()");
  }
}

// ------------------------------------------------------------ running

BOOL CConvertWorker::Start() {
  if (m_Thread.joinable()) return FALSE;
  // Set once, here, before the thread exists: a Cancel pressed as soon as
  // the progress dialog shows is never undone by the worker.
  m_Running.store(1);
  try {
    m_Thread = std::thread(&CConvertWorker::RunThread, this);
  } catch (...) {
    m_Running.store(0);
    TraceLog(TRC_PRE, "CPlogressDlg::OnInitDialog", "The error occurred with the [AfxBeginThread()] function.");
    return FALSE;
  }
  return TRUE;
}

void CConvertWorker::Join() {
  if (m_Thread.joinable()) m_Thread.join();
}

void CConvertWorker::RunThread(CConvertWorker* worker) {
  // Nothing that goes wrong on this thread ends the program; the progress
  // dialog always hears of the end.
  try {
    worker->ConvertThread();
  } catch (...) {
    TraceLog(TRC_PRE, "CPptDlg::ConvertThread", "Internal error.");
  }
  if (worker->m_pHost) worker->m_pHost->ConvertEnd(1);
}

void CConvertWorker::SetProgress(int done, int count) {
  if (!m_pHost) return;
  char text[32];
  std::snprintf(text, sizeof text, "%d / %d", done, count);
  m_pHost->SetProgressText(text);
  m_pHost->SetProgressPos(count > 0 ? done * 100 / count : 0);
}

int CConvertWorker::ConvertThread() {
  FreeTransErrList(&m_ErrorList);
  m_nCurrentNumber = 1;
  m_nFilesDone = 0;
  m_bNumberKnown = false;
  m_bStopped = false;
  m_nStopMessage = 0;
  m_bFatal = false;
  if (!m_pDestination) {
    TraceLog(TRC_PRE, "CPptDlg::ConvertThread", "Internal error.");
    return 0;
  }

  int result = 0;
  if (m_bFileMode) {
    SetProgress(0, 1);
    if (KindOf(m_strSourceFile) == KIND_NONE) {
      ShowMessage(IDS_INVALID_FILE_TYPE, MB_ICONWARNING);
      return 0;
    }
    result = ConvertOne(m_strSourceFile);
    SetProgress(1, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } else {
    result = FilePluralConvert();
  }
  if (result == 1 && m_pDestination->IsCard()) m_pDestination->EndOfSeries();
  return result;
}

// ------------------------------------------------------------ folder runs

CConvertWorker::SourceKind CConvertWorker::KindOf(const std::string& path) {
  const std::string ext = UpperExtension(path);
  if (ext == ".JPG") return KIND_JPEG;
  if (ext == ".BMP") return KIND_BMP;
  if (ext == ".PPT" || ext == ".PPTX") return KIND_PPT;
  return KIND_NONE;
}

std::vector<std::string> CConvertWorker::EnumFiles(const std::string& folder) {
  std::vector<std::string> files;
  const std::string base = AddBackslash(folder);
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(base.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  // The folder's own order is arbitrary here; name order without case (as
  // a file manager lists them) makes it the same on every run.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const int ca = std::tolower(static_cast<unsigned char>(a[i]));
      const int cb = std::tolower(static_cast<unsigned char>(b[i]));
      if (ca != cb) return ca < cb;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const char* wanted : {".JPG", ".BMP", ".PPT", ".PPTX"}) {
    for (const std::string& name : names) {
      if (UpperExtension(name) != wanted) continue;
      const std::string path = base + name;
      if (WideLength(path) > SOURCE_FILE_PATH_MAX || IsFolder(path)) continue;
      files.push_back(path);
    }
  }
  return files;
}

int CConvertWorker::FilePluralConvert() {
  m_Files.clear();
  m_Files = EnumFiles(m_strSourceFolder);
  if (m_Files.empty()) {
    ShowMessage(IDS_NOTHING_TO_CONVERT, MB_ICONWARNING);
    return 0;
  }
  m_nFilesDone = 0;
  SetProgress(0, static_cast<int>(m_Files.size()));
  const int result = ConvertFile();
  if (result == 0) {
    TraceLog(TRC_PRE, "CPptDlg::FilePluralConvert", "The error occurred with the [ConvertFile()[PPT]] function.");
  }
  m_Files.clear();
  return result;
}

int CConvertWorker::ConvertFile() {
  static const char* kFunc = "CPptDlg::ConvertFile";
  const int count = static_cast<int>(m_Files.size());
  int result = 1;
  for (const std::string& file : m_Files) {
    SetProgress(m_nFilesDone, count);
    if (!ConvertOne(file)) {
      switch (KindOf(file)) {
        case KIND_PPT: TraceLog(TRC_PRE, kFunc, "The error occurred with the [ExportPPT()] function."); break;
        case KIND_JPEG: TraceLog(TRC_PRE, kFunc, "The error occurred with the [ExportJPEG()] function."); break;
        case KIND_BMP: TraceLog(TRC_PRE, kFunc, "The error occurred with the [ExportBMP()] function."); break;
        default: break;
      }
    }
    ++m_nFilesDone;
    SetProgress(m_nFilesDone, count);
    if (m_bFatal) {
      result = 0;
      break;
    }
    if (m_Running.load() == 0 && !m_bStopped) {
      m_bStopped = true;
      m_nStopMessage = IDS_CANCELED;
    }
  }
  return result;
}

int CConvertWorker::ConvertOne(const std::string& source) {
  try {
    switch (KindOf(source)) {
      case KIND_JPEG: return ExportJPEG(source);
      case KIND_BMP: return ExportBMP(source);
      case KIND_PPT: return ExportPPT(source);
      default: return 1;
    }
  } catch (const std::bad_alloc&) {
    // Memory ran out for this file: it was not converted, and the run goes on.
    m_Presentation.Close();
    TraceLogMemory(TRC_PRE, "CPptDlg::ConvertFile", "new");
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
}

// ------------------------------------------------------------ names

int CConvertWorker::CreateConvFileName(std::string* output) {
  if (!m_bNumberKnown) {
    int highest = 0;
    UINT message = IDS_SD_TRANSFER_FAILED;
    if (!m_pDestination->GetMaxNumber(&highest, &message)) {
      m_bStopped = true;
      m_nStopMessage = message;
      return 0;
    }
    m_nCurrentNumber = highest;
    m_bNumberKnown = true;
  }
  if (m_nCurrentNumber >= MAX_NUMBER) {
    m_bStopped = true;
    m_nStopMessage = IDS_FILE_EXISTS;
    return 0;
  }
  ++m_nCurrentNumber;
  UINT message = 0;
  switch (m_pDestination->MakeOutputName(m_nCurrentNumber, output, &message)) {
    case IConvertDestination::NAME_OK:
      return 1;
    case IConvertDestination::NAME_STOP:
      --m_nCurrentNumber;
      m_bStopped = true;
      m_nStopMessage = message;
      return 0;
    case IConvertDestination::NAME_FATAL:
    default:
      ShowMessage(message ? message : IDS_INTERNAL_ERROR, MB_ICONERROR);
      m_bFatal = true;
      return 0;
  }
}

// ------------------------------------------------------------ transfer

int CConvertWorker::TransFiles(const std::string& source, const std::string& staged) {
  const int code = m_pDestination->Deliver(staged);
  switch (code) {
    case TRANSFER_OK:
      return 1;
    case TRANSFER_NO_UNIT:
      AddError(IDS_NO_MAIN_UNIT, source);
      m_bStopped = true;
      m_nStopMessage = IDS_NO_MAIN_UNIT;
      return 0;
    case TRANSFER_CARD_FULL:
      AddError(IDS_SD_FULL, source);
      m_bStopped = true;
      m_nStopMessage = IDS_SD_FULL;
      return 0;
    case TRANSFER_NO_REPLY:
      AddError(IDS_SD_TRANSFER_FAILED, source);
      m_bStopped = true;
      m_nStopMessage = IDS_SD_TRANSFER_FAILED;
      return 0;
    case TRANSFER_LOCKED:
      AddError(IDS_LOCKED_IMAGE, source);
      return 1;
    case TRANSFER_TOO_LARGE:
      AddError(IDS_SD_OVER_2M, source);
      return 1;
    case TRANSFER_NAME_TOO_LONG:
      AddError(IDS_NAME_TOO_LONG, source);
      return 1;
    case TRANSFER_NO_MEMORY:
      AddError(IDS_NO_RESOURCE, source);
      ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
      m_bFatal = true;
      return 1;
    case TRANSFER_UNKNOWN_STATUS:
    case TRANSFER_UNREADABLE:
    default:
      AddError(IDS_SD_TRANSFER_FAILED, source);
      return 1;
  }
}

bool CConvertWorker::DeliverStaged(const std::string& source, const std::string& staged, const char* function) {
  if (!m_pDestination->IsCard()) return true;
  const int goOn = TransFiles(source, staged);
  ::unlink(staged.c_str());
  if (!goOn) {
    TraceLog(TRC_PRE, function, "The error occurred with the [TransFiles()] function.");
    m_bStopped = true;
    return false;
  }
  return true;
}

// ------------------------------------------------------------ exports

int CConvertWorker::ExportJPEG(const std::string& source) { return ExportPicture(source, KIND_JPEG); }

int CConvertWorker::ExportBMP(const std::string& source) { return ExportPicture(source, KIND_BMP); }

int CConvertWorker::ExportPicture(const std::string& source, SourceKind kind) {
  const char* function = kind == KIND_JPEG ? "CPptDlg::ExportJPEG" : "CPptDlg::ExportBMP";
  if (m_bStopped && m_nStopMessage) {
    AddError(m_nStopMessage, source);
    return 1;
  }
  std::string output;
  if (!CreateConvFileName(&output)) {
    TraceLog(TRC_PRE, function, "The error occurred with the [CreateConvFileName()] function.");
    if (m_bStopped) AddError(m_nStopMessage, source);
    return 0;
  }
  const int made = kind == KIND_JPEG ? JpegToExif(source, output) : BmpToExif(source, output);
  if (!made) {
    TraceLog(TRC_PRE, function, kind == KIND_JPEG ? "The error occurred with the [JpegToExif()] function."
                                                  : "The error occurred with the [BmpToExif()] function.");
    if (m_bStopped) AddError(m_nStopMessage, source);
    return 0;
  }
  return DeliverStaged(source, output, function) ? 1 : 0;
}

int CConvertWorker::ExportPPT(const std::string& source) {
  static const char* kFunc = "CPptDlg::ExportPPT";
  if (m_bStopped && m_nStopMessage) {
    AddError(m_nStopMessage, source);
    return 1;
  }
  switch (m_Presentation.Open(source, &m_Running)) {
    case CPresentationExport::OPEN_OK:
      break;
    case CPresentationExport::OPEN_NOT_STARTED:
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateDispatch()] function.");
      AddError(IDS_CONVERT_FAILED, source);
      return 0;
    case CPresentationExport::OPEN_CANCELED:
      AddError(IDS_CANCELED, source);
      m_bStopped = true;
      m_nStopMessage = IDS_CANCELED;
      return 0;
    case CPresentationExport::OPEN_TIMED_OUT:
    case CPresentationExport::OPEN_FAILED:
    default:
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [Open()] function.");
      AddError(IDS_CONVERT_FAILED, source);
      return 0;
  }

  int result = 1;
  for (int slide = 1; slide <= m_Presentation.GetSlideCount(); ++slide) {
    if (m_bFatal) {
      result = 0;
      break;
    }
    if (m_Running.load() == 0) {
      AddError(IDS_CANCELED, source);
      m_bStopped = true;
      m_nStopMessage = IDS_CANCELED;
      result = 0;
      break;
    }
    std::string output;
    if (!CreateConvFileName(&output)) {
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateConvFileName()] function.");
      if (m_bStopped) AddError(m_nStopMessage, source);
      result = 0;
      break;
    }
    if (!PptToExif(source, slide, output)) {
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [PptToExif()] function.");
      if (m_bStopped) AddError(m_nStopMessage, source);
      result = 0;
      break;
    }
    if (!DeliverStaged(source, output, kFunc)) {
      result = 0;
      break;
    }
  }
  m_Presentation.Close();
  return result;
}

// ------------------------------------------------------------ one picture

int CConvertWorker::SaveExif(const CBitmap24& picture, const std::string& output, const char* function) {
  if (!m_Jpeg.Save(output, picture, JPEG_QUALITY)) {
    TraceLog(TRC_PRE, function, "The error occurred with the [Save()] function.");
    return 0;
  }
  // The header's thumbnail belongs to a picture already made: Cancel does
  // not cut it short.
  CJpeg codec = m_Jpeg;
  codec.SetRunningFlag(nullptr);
  CExifHdrAdd exif(m_strWorkFolder, codec, [this](UINT id, UINT type) { ShowMessage(id, type); });
  if (!exif.AddExifHeader(output, output)) {
    TraceLog(TRC_PRE, function, "The error occurred with the [AddExifHeader()] function.");
    // A picture without its Exif header is no result: the camera would not
    // list it, and the next run would count its number as taken.
    ::unlink(output.c_str());
    return 0;
  }
  return 1;
}

int CConvertWorker::PptToExif(const std::string& source, int slide, const std::string& output) {
  static const char* kFunc = "CPptDlg::PptToExif";
  if (!IsFolder(m_strWorkFolder) && !MakeFolders(m_strWorkFolder, 0700)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateDirectory] function. GetLastError=[0x%08X]",
             static_cast<unsigned>(errno));
    ShowMessage(IDS_INTERNAL_ERROR, MB_ICONERROR);
    m_bFatal = true;
    return 0;
  }
  // A slide file left from an earlier export must never pass for this one.
  const std::string slideFile = GetSlideFile();
  if (::unlink(slideFile.c_str()) != 0 && errno != ENOENT) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [DeleteFile] function. GetLastError=[0x%08X]",
             static_cast<unsigned>(errno));
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  const CBitmap24 rendered = m_Presentation.RenderSlide(slide, SLIDE_WIDTH, SLIDE_HEIGHT);
  if (rendered.isNull() || !m_Jpeg.Save(slideFile, rendered, 95)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Export()] function.");
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  CBitmap24 picture;
  const BOOL loaded = m_Jpeg.Load(&picture, slideFile, false, 0, 0);
  ::unlink(slideFile.c_str());
  if (!loaded) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Load()] function.");
    if (StopIfCanceled()) return 0;
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  if (!SaveExif(picture, output, kFunc)) {
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  return 1;
}

bool CConvertWorker::StopIfCanceled() {
  if (m_Running.load() != 0) return false;
  // Cancel stopped the source in progress: the export lists it with the stop
  // message, as a presentation stopped between slides is, and so is every
  // file after it.
  m_bStopped = true;
  m_nStopMessage = IDS_CANCELED;
  return true;
}

int CConvertWorker::JpegToExif(const std::string& source, const std::string& output) {
  static const char* kFunc = "CPptDlg::JpegToExif";
  CBitmap24 picture;
  if (!m_Jpeg.Load(&picture, source, false, 0, 0)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Load()] function.");
    if (StopIfCanceled()) return 0;
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  return FitAndSave(&picture, source, output, kFunc);
}

int CConvertWorker::BmpToExif(const std::string& source, const std::string& output) {
  static const char* kFunc = "CPptDlg::BmpToExif";
  CBmp bmp;
  QImage loaded;
  if (!bmp.Load(&loaded, source)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Load()] function.");
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  CBitmap24 picture;
  if (IsBitmap24(loaded)) {
    picture = std::move(loaded);
  } else if (!CBmp::Convert24Bmp(loaded, &picture)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Convert24Bmp()] function.");
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  return FitAndSave(&picture, source, output, kFunc);
}

int CConvertWorker::FitAndSave(CBitmap24* picture, const std::string& source, const std::string& output,
                               const char* function) {
  if (!IsConvertibleSize(picture->width(), picture->height())) {
    CBitmap24 fitted;
    if (!ConvertBmpSize(*picture, &fitted)) {
      TraceLog(TRC_PRE, function, "The error occurred with the [ConvertBmpSize()] function.");
      AddError(IDS_CONVERT_FAILED, source);
      return 0;
    }
    *picture = std::move(fitted);
  }
  if (!SaveExif(*picture, output, function)) {
    AddError(IDS_CONVERT_FAILED, source);
    return 0;
  }
  return 1;
}

// ------------------------------------------------------------ sizes

bool CConvertWorker::IsConvertibleSize(int width, int height) {
  return width > 0 && width <= MAX_WIDTH && height > 0 && height <= MAX_HEIGHT && width % 16 == 0 &&
         height % 8 == 0;
}

bool CConvertWorker::GetFitGeometry(int w, int h, ConvertFitGeometry* g) {
  if (!g) return false;
  *g = ConvertFitGeometry();
  if (w < 1 || h < 1) {
    TraceLog(TRC_PRE, "CPptDlg::ConvertBmpSize", "Invalid Parameter. BitmapWidth = [0x%08X] BitmapHeight = [0x%08X]",
             static_cast<unsigned>(w), static_cast<unsigned>(h));
    return false;
  }
  if (w > MAX_WIDTH || h > MAX_HEIGHT) {
    g->canvasWidth = MAX_WIDTH;
    g->canvasHeight = MAX_HEIGHT;
    g->reduced = true;
    const double sx = static_cast<double>(MAX_WIDTH) / w;
    const double sy = static_cast<double>(MAX_HEIGHT) / h;
    if (sy < sx) {
      g->width = std::max(1, static_cast<int>(w * sy));
      g->height = MAX_HEIGHT;
      g->x = (MAX_WIDTH - g->width) / 2;
      g->y = 0;
    } else {
      g->width = MAX_WIDTH;
      g->height = std::max(1, static_cast<int>(h * sx));
      g->x = 0;
      g->y = (MAX_HEIGHT - g->height) / 2;
    }
    return true;
  }
  g->width = w;
  g->height = h;
  g->canvasWidth = w;
  g->canvasHeight = h;
  if (w % 16 != 0) {
    g->canvasWidth = (w / 16 + 1) * 16;
    g->x = (g->canvasWidth - w) / 2;
    g->canvasHeight = static_cast<int>(static_cast<double>(g->canvasWidth) / w * h);
    g->y = (g->canvasHeight - h) / 2;
  }
  if (g->canvasHeight % 8 != 0) {
    g->canvasHeight = (g->canvasHeight / 8 + 1) * 8;
    g->y = (g->canvasHeight - h) / 2;
  }
  if (g->canvasHeight > MAX_HEIGHT) {
    g->canvasHeight = MAX_HEIGHT;
    g->y = (MAX_HEIGHT - h) / 2;
  }
  return true;
}

BOOL CConvertWorker::ConvertBmpSize(const QImage& source, CBitmap24* out) {
  if (!out) return FALSE;
  ConvertFitGeometry g;
  if (source.isNull() || !GetFitGeometry(source.width(), source.height(), &g)) return FALSE;
  CBitmap24 canvas = CreateBitmap24(g.canvasWidth, g.canvasHeight);
  if (canvas.isNull()) {
    TraceLog(TRC_PRE, "CPptDlg::ConvertBmpSize",
             "The error occurred with the [CreateDIBBitmap] function. GetLastError=[0x%08X]", 12u);
    return FALSE;
  }
  CBitmap24 drawn = ToBitmap24(source);
  if (g.reduced) {
    // Averaging reduction, as a half-tone stretch does.
    drawn = ToBitmap24(drawn.scaled(g.width, g.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  }
  if (drawn.isNull() || drawn.width() != g.width || drawn.height() != g.height) {
    TraceLog(TRC_PRE, "CPptDlg::ConvertBmpSize",
             "The error occurred with the [StretchDIBits] function. GetLastError=[0x%08X]", 12u);
    return FALSE;
  }
  for (int y = 0; y < g.height; ++y) {
    std::memcpy(canvas.scanLine(g.y + y) + 3 * g.x, drawn.constScanLine(y), static_cast<size_t>(g.width) * 3);
  }
  *out = std::move(canvas);
  return TRUE;
}
