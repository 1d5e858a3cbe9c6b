// Conversion figures: a 10-slide presentation and a folder of 50 JPEG and
// 50 BMP pictures of mixed sizes, converted by the worker to a PC folder and
// to a card service held in memory and (when the device library and the
// camera emulator are built) to the emulator's card through the program's
// card service, beside the bare steps in the same run:
// the soffice PDF export alone, the Poppler render, and TurboJPEG decode +
// scale + encode at quality 75 (4:2:2).
//
//   fotavi_convert_bench [rounds]
#include <turbojpeg.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <poppler-qt6.h>

#include "CardDestination.h"
#include "Common/Bmp.h"
#include "Common/Jpeg.h"
#include "ConvertWorker.h"
#ifdef CONVERT_BENCH_EMULATOR
#include "CardFileService.h"
#include "EmulatorProcess.h"
#include "Platform/Platform.h"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

class QuietHost : public IConvertHost {
 public:
  void SetProgressText(const std::string&) override {}
  void SetProgressPos(int) override {}
  void ShowMessage(UINT id, UINT) override { std::fprintf(stderr, "message %u\n", id); }
  void ConvertEnd(int) override {}
};

class MemoryCard : public ICardFileService {
 public:
  DWORD ListFiles(const std::string&, std::vector<std::string>* entries) override {
    entries->clear();
    return 0;
  }
  DWORD WriteFile(const std::string&, const BYTE*, DWORD length) override {
    bytes += length;
    return 0;
  }
  void EndTransfer() override {}
  size_t bytes = 0;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A picture with some structure, so the codec has work to do.
QImage Scene(int width, int height, unsigned seed) {
  QImage image(width, height, QImage::Format_BGR888);
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y) {
    uchar* row = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uchar>((x * 255) / std::max(1, width - 1));
      row[3 * x + 1] = static_cast<uchar>((y * 255) / std::max(1, height - 1));
      row[3 * x + 2] = static_cast<uchar>(((x / 32 + y / 32) % 2) * 160 + (rng() & 63));
    }
  }
  return image;
}

std::string TenSlides() {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.2\" "
      "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">\n<office:styles/>\n"
      "<office:automatic-styles><style:page-layout style:name=\"PM1\"><style:page-layout-properties "
      "fo:margin-top=\"0cm\" fo:margin-bottom=\"0cm\" fo:margin-left=\"0cm\" fo:margin-right=\"0cm\" "
      "fo:page-width=\"28cm\" fo:page-height=\"15.75cm\"/></style:page-layout>\n";
  for (int i = 0; i < 10; ++i) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02x%02x%02x", 25 * i, 200 - 15 * i, 90 + 10 * i);
    s += "<style:style style:name=\"g" + std::to_string(i) +
         "\" style:family=\"graphic\"><style:graphic-properties draw:stroke=\"none\" draw:fill=\"solid\" "
         "draw:fill-color=\"" + colour + "\"/></style:style>\n";
  }
  s += "</office:automatic-styles><office:master-styles><style:master-page style:name=\"Default\" "
       "style:page-layout-name=\"PM1\"/></office:master-styles>\n<office:body><office:presentation>\n";
  for (int i = 0; i < 10; ++i) {
    s += "<draw:page draw:name=\"s" + std::to_string(i) + "\" draw:master-page-name=\"Default\">"
         "<draw:rect draw:style-name=\"g" + std::to_string(i) +
         "\" svg:x=\"0cm\" svg:y=\"0cm\" svg:width=\"28cm\" svg:height=\"15.75cm\"/>"
         "<draw:ellipse svg:x=\"3cm\" svg:y=\"2cm\" svg:width=\"10cm\" svg:height=\"8cm\"/>"
         "<draw:frame svg:x=\"2cm\" svg:y=\"11cm\" svg:width=\"24cm\" svg:height=\"3cm\"><draw:text-box>"
         "<text:p>Slide " + std::to_string(i + 1) + ": the quick brown fox jumps over the lazy dog</text:p>"
         "</draw:text-box></draw:frame></draw:page>\n";
  }
  s += "</office:presentation></office:body></office:document>\n";
  return s;
}

std::string SofficeCommand(const std::string& folder, const std::string& filter, const std::string& outdir,
                           const std::string& input) {
  return "cd '" + folder + "' && TMPDIR='" + folder + "/tmp' soffice --headless --norestore --nologo --nodefault "
         "'-env:UserInstallation=file://" + folder + "/profile' --convert-to '" + filter + "' --outdir '" + outdir +
         "' '" + input + "' >/dev/null 2>&1";
}

// Bare picture step: decode (TurboJPEG, or Qt's BMP reader), scale into
// 2592 x 1944 when larger (the same smooth scaler), encode at quality 75.
void BareStep(const std::string& path, bool jpeg, tjhandle dec, tjhandle enc, size_t* outBytes) {
  QImage image;
  if (jpeg) {
    const std::string data = ReadAll(path);
    int w = 0, h = 0, sub = 0, cs = 0;
    tjDecompressHeader3(dec, reinterpret_cast<const unsigned char*>(data.data()), data.size(), &w, &h, &sub, &cs);
    image = QImage(w, h, QImage::Format_BGR888);
    tjDecompress2(dec, reinterpret_cast<const unsigned char*>(data.data()), data.size(), image.bits(), w,
                  static_cast<int>(image.bytesPerLine()), h, TJPF_BGR, TJFLAG_FASTDCT);
  } else {
    image.load(QString::fromStdString(path), "BMP");
    image = image.convertToFormat(QImage::Format_BGR888);
  }
  if (image.width() > 2592 || image.height() > 1944) {
    image = image.scaled(2592, 1944, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_BGR888);
  }
  unsigned char* out = nullptr;
  unsigned long size = 0;
  tjCompress2(enc, image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()), image.height(),
              TJPF_BGR, &out, &size, TJSAMP_422, 75, 0);
  *outBytes += size;
  tjFree(out);
}

double RunWorker(const std::string& work, bool fileMode, const std::string& source, IConvertDestination* dest,
                 int* errors) {
  QuietHost host;
  CConvertWorker worker(work, work + "/office", &host);
  worker.SetFileMode(fileMode);
  if (fileMode) worker.SetSourceFile(source);
  else worker.SetSourceFolder(source);
  worker.SetDestination(dest);
  worker.PrepareRun();
  const auto t0 = Clock::now();
  worker.ConvertThread();
  const double seconds = Seconds(t0);
  *errors += static_cast<int>(worker.GetErrorList().size());
  return seconds;
}

#ifdef CONVERT_BENCH_EMULATOR
// The camera emulator with a card, and the device library opened on it.
class EmulatorCard {
 public:
  bool Start(const std::string& root) {
    card_ = root + "/card";
    fs::create_directories(card_ + "/DCIM/100ABCDE");
    fs::create_directories(root + "/devices");
    setenv("FOTAVI_DEVICE_ROOT", (root + "/devices").c_str(), 1);
    setenv("FOTAVI_MACHINE_SETTINGS", (root + "/machine.conf").c_str(), 1);
    setenv("FOTAVI_USER_SETTINGS", (root + "/user.conf").c_str(), 1);
    setenv("FOTAVI_MUTEX_ROOT", (root + "/devices").c_str(), 1);
    SettingsWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Z5\\Device Parameters", "LogLevel", 0);
    fotavi::test::EmulatorOptions o;
    o.deviceRoot = root + "/devices";
    o.cardDir = card_;
    emulator_ = std::make_unique<fotavi::test::EmulatorProcess>(o);
    if (!emulator_->Start()) return false;
    HMODULE module = LoadLibrary(FOTAVI_DRIVER_MODULE);
    create_ = GetProcAddressAs<PFN_CREATEINSTANCE>(module, FOTAVI_CREATEINSTANCE);
    release_ = GetProcAddressAs<PFN_RELEASEINSTANCE>(module, FOTAVI_RELEASEINSTANCE);
    client_ = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "convert bench");
    DWORD err = 0;
    return create_ && release_ && create_(&device_) && device_ && device_->bOpen(client_, &err);
  }
  // The card keeps below its capacity: each run starts on an empty folder.
  void Empty() {
    fs::remove_all(card_ + "/DCIM/100ABCDE");
    fs::create_directories(card_ + "/DCIM/100ABCDE");
  }
  ~EmulatorCard() {
    DWORD err = 0;
    if (device_) device_->bClose(&err);
    if (device_ && release_) release_(&device_);
    if (client_) DestroyWindow(client_);
  }
  CDeviceInterface* device_ = nullptr;

 private:
  std::string card_;
  std::unique_ptr<fotavi::test::EmulatorProcess> emulator_;
  PFN_CREATEINSTANCE create_ = nullptr;
  PFN_RELEASEINSTANCE release_ = nullptr;
  HWND client_ = nullptr;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::string root = (fs::temp_directory_path() / "fotavi-convert-bench-XXXXXX").string();
  if (!::mkdtemp(root.data())) return 1;
  const std::string jpegs = root + "/jpeg", bmps = root + "/bmp", work = root + "/work/FotaviK27_Cache";
  fs::create_directories(jpegs);
  fs::create_directories(bmps);
  fs::create_directories(root + "/tmp");
  fs::create_directories(root + "/work");  // the private work folder the program passes in

  // 50 JPEG and 50 BMP pictures of mixed sizes, a third of them larger than
  // the camera takes.
  const QSize sizes[] = {{640, 480}, {1000, 700}, {1024, 768}, {1600, 1200}, {2592, 1944}, {4000, 3000}};
  CJpeg jpeg;
  CBmp bmp;
  for (int i = 0; i < 50; ++i) {
    const QSize s = sizes[i % 6];
    char name[32];
    std::snprintf(name, sizeof name, "/p%02d", i);
    jpeg.Save(jpegs + name + ".jpg", Scene(s.width(), s.height(), i), 90);
    bmp.Save(bmps + name + ".bmp", Scene(s.width(), s.height(), 100 + i));
  }

  const bool office = std::system("command -v soffice >/dev/null 2>&1") == 0;
  std::string pptx;
  if (office) {
    std::ofstream(root + "/ten.fodp") << TenSlides();
    std::system(SofficeCommand(root, "pptx", root, root + "/ten.fodp").c_str());
    pptx = root + "/ten.pptx";
    if (!fs::exists(pptx)) pptx.clear();
  }

  std::printf("conversion benchmark: %d rounds, best round of each figure\n", rounds);
  double bestJpeg = 1e9, bestBmp = 1e9, bestBareJpeg = 1e9, bestBareBmp = 1e9;
  double bestJpegCard = 1e9, bestBmpCard = 1e9;
  double bestJpegEmu = 1e9, bestBmpEmu = 1e9, bestSlidesEmu = 1e9;
  bool emulated = false;
#ifdef CONVERT_BENCH_EMULATOR
  EmulatorCard emulator;
  emulated = emulator.Start(root);
  if (!emulated) std::printf("the camera emulator or the device did not start: no emulator figures\n");
#endif
  double bestSlides = 1e9, bestSlidesCard = 1e9, bestExport = 1e9, bestRender = 1e9, bestBareEncode = 1e9;
  int errors = 0;
  tjhandle dec = tjInitDecompress();
  tjhandle enc = tjInitCompress();
  for (int r = 0; r < rounds; ++r) {
    // ---- bare picture steps
    size_t bytes = 0;
    auto t0 = Clock::now();
    for (const auto& e : fs::directory_iterator(jpegs)) BareStep(e.path().string(), true, dec, enc, &bytes);
    bestBareJpeg = std::min(bestBareJpeg, Seconds(t0) / 50);
    t0 = Clock::now();
    for (const auto& e : fs::directory_iterator(bmps)) BareStep(e.path().string(), false, dec, enc, &bytes);
    bestBareBmp = std::min(bestBareBmp, Seconds(t0) / 50);

    // ---- the program, to a PC folder and to the card service
    for (int card = 0; card < 2; ++card) {
      const std::string out = root + "/out" + std::to_string(r) + "_" + std::to_string(card);
      fs::create_directories(out);
      CLocalDestination local(out);
      MemoryCard memory;
      CCardDestination sd(&memory, "C:\\DCIM\\100ABCDE", work);
      IConvertDestination* dest = card ? static_cast<IConvertDestination*>(&sd) : &local;
      const double j = RunWorker(work, false, jpegs, dest, &errors) / 50;
      const double b = RunWorker(work, false, bmps, dest, &errors) / 50;
      (card ? bestJpegCard : bestJpeg) = std::min(card ? bestJpegCard : bestJpeg, j);
      (card ? bestBmpCard : bestBmp) = std::min(card ? bestBmpCard : bestBmp, b);
      if (!pptx.empty()) {
        const double s = RunWorker(work, true, pptx, dest, &errors) / 10;
        (card ? bestSlidesCard : bestSlides) = std::min(card ? bestSlidesCard : bestSlides, s);
      }
      fs::remove_all(out);
    }
#ifdef CONVERT_BENCH_EMULATOR
    // ---- the program to the emulator's card, through the card service
    if (emulated) {
      CSDCardFileService service(emulator.device_);
      CCardDestination sd(&service, "C:\\DCIM\\100ABCDE", work);
      emulator.Empty();
      bestJpegEmu = std::min(bestJpegEmu, RunWorker(work, false, jpegs, &sd, &errors) / 50);
      emulator.Empty();
      bestBmpEmu = std::min(bestBmpEmu, RunWorker(work, false, bmps, &sd, &errors) / 50);
      if (!pptx.empty()) {
        emulator.Empty();
        bestSlidesEmu = std::min(bestSlidesEmu, RunWorker(work, true, pptx, &sd, &errors) / 10);
      }
    }
#endif

    // ---- bare presentation steps
    if (!pptx.empty()) {
      const std::string pdfDir = root + "/pdf";
      fs::remove_all(pdfDir);
      fs::create_directories(pdfDir);
      t0 = Clock::now();
      std::system(SofficeCommand(root, CPresentationExport::PDF_FILTER, pdfDir, pptx).c_str());
      bestExport = std::min(bestExport, Seconds(t0));
      auto doc = Poppler::Document::load(QString::fromStdString(pdfDir + "/ten.pdf"));
      if (doc) {
        double render = 0, encode = 0;
        for (int p = 0; p < doc->numPages(); ++p) {
          t0 = Clock::now();
          auto page = doc->page(p);
          const QSizeF pts = page->pageSizeF();
          QImage image = page->renderToImage(1024 * 72.0 / pts.width(), 768 * 72.0 / pts.height(), 0, 0, 1024, 768)
                             .convertToFormat(QImage::Format_BGR888);
          render += Seconds(t0);
          t0 = Clock::now();
          unsigned char* jpegOut = nullptr;
          unsigned long size = 0;
          tjCompress2(enc, image.constBits(), 1024, static_cast<int>(image.bytesPerLine()), 768, TJPF_BGR,
                      &jpegOut, &size, TJSAMP_422, 75, 0);
          tjFree(jpegOut);
          encode += Seconds(t0);
        }
        bestRender = std::min(bestRender, render / 10);
        bestBareEncode = std::min(bestBareEncode, encode / 10);
      }
    }
  }
  tjDestroy(dec);
  tjDestroy(enc);

  if (!emulated) bestJpegEmu = bestBmpEmu = bestSlidesEmu = 0;
  std::printf("%-34s %12s %12s %12s %12s %8s\n", "source (s per picture or slide)", "bare steps", "to PC folder",
              "to card svc", "to emu card", "ratio");
  std::printf("%-34s %12.4f %12.4f %12.4f %12.4f %8.2f\n", "JPEG (mixed sizes)", bestBareJpeg, bestJpeg, bestJpegCard,
              bestJpegEmu, bestJpeg / bestBareJpeg);
  std::printf("%-34s %12.4f %12.4f %12.4f %12.4f %8.2f\n", "BMP (mixed sizes)", bestBareBmp, bestBmp, bestBmpCard,
              bestBmpEmu, bestBmp / bestBareBmp);
  if (!pptx.empty()) {
    const double bareSlide = bestExport / 10 + bestRender + bestBareEncode;
    std::printf("%-34s %12.4f %12.4f %12.4f %12.4f %8.2f\n", "presentation slide (10 slides)", bareSlide,
                bestSlides, bestSlidesCard, bestSlidesEmu, bestSlides / bareSlide);
    std::printf("  bare: soffice PDF export %.3f s per file, Poppler render %.4f s, encode %.4f s per slide\n",
                bestExport, bestRender, bestBareEncode);
  } else {
    std::printf("presentation: soffice is not installed, not measured\n");
  }
  std::printf("error entries over all runs: %d\n", errors);
  fs::remove_all(root);
  return 0;
}
