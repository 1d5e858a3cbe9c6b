// The conversion worker with JPEG and BMP sources: sizes, numbering, the
// order of a folder run, error entries, stops and Cancel.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Text/FotaviStrings.h"
#include "ConvertTestSupport.h"
#include "ConvertWorker.h"
#include "TransErrEntry.h"
#include "Common/OutsideCodec.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Library.h"
#include "Platform/UiService.h"

using namespace convert_test;

namespace {

class RecordingHost : public IConvertHost {
 public:
  void SetProgressText(const std::string& text) override {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard<std::mutex> guard(m_Lock);
      texts.push_back(text);
      hook = onText;
    }
    if (hook) hook(text);
  }
  void SetProgressPos(int position) override {
    std::lock_guard<std::mutex> guard(m_Lock);
    positions.push_back(position);
  }
  void ShowMessage(UINT stringId, UINT type) override {
    std::lock_guard<std::mutex> guard(m_Lock);
    messages.emplace_back(stringId, type);
  }
  void ConvertEnd(int result) override {
    std::lock_guard<std::mutex> guard(m_Lock);
    ends.push_back(result);
  }

  std::mutex m_Lock;
  std::vector<std::string> texts;
  std::vector<int> positions;
  std::vector<std::pair<UINT, UINT>> messages;
  std::vector<int> ends;
  std::function<void(const std::string&)> onText;
};

class ConvertWorkerTest : public ConvertFixture {
 protected:
  RecordingHost m_Host;
};

// ------------------------------------------------------------ sizes

struct AcceptCase {
  int width, height;
  bool accepted;
};

class ConvertibleSizeTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(ConvertibleSizeTest, Accepts) {
  const AcceptCase c = GetParam();
  EXPECT_EQ(c.accepted, CConvertWorker::IsConvertibleSize(c.width, c.height)) << c.width << "x" << c.height;
}

INSTANTIATE_TEST_SUITE_P(Table, ConvertibleSizeTest,
                         ::testing::Values(AcceptCase{2592, 1944, true}, AcceptCase{1024, 768, true},
                                           AcceptCase{16, 8, true}, AcceptCase{2608, 1944, false},
                                           AcceptCase{2592, 1952, false}, AcceptCase{1000, 704, false},
                                           AcceptCase{1024, 770, false}, AcceptCase{0, 8, false},
                                           AcceptCase{16, 0, false}, AcceptCase{-16, 8, false}),
    [](const auto& info) {
      const int w = info.param.width;
      return (w < 0 ? "Minus" + std::to_string(-w) : std::to_string(w)) + "x" + std::to_string(info.param.height);
    });

struct FitCase {
  int width, height;
  int canvasW, canvasH, x, y, drawnW, drawnH;
  bool reduced;
};

class FitGeometryTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitGeometryTest, CanvasAndPlacement) {
  const FitCase c = GetParam();
  ConvertFitGeometry g;
  ASSERT_TRUE(CConvertWorker::GetFitGeometry(c.width, c.height, &g));
  EXPECT_EQ(c.canvasW, g.canvasWidth);
  EXPECT_EQ(c.canvasH, g.canvasHeight);
  EXPECT_EQ(c.x, g.x);
  EXPECT_EQ(c.y, g.y);
  EXPECT_EQ(c.drawnW, g.width);
  EXPECT_EQ(c.drawnH, g.height);
  EXPECT_EQ(c.reduced, g.reduced);
  EXPECT_TRUE(CConvertWorker::IsConvertibleSize(g.canvasWidth, g.canvasHeight));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FitGeometryTest,
    ::testing::Values(
        FitCase{1000, 700, 1008, 712, 4, 6, 1000, 700, false},      // width rounded, height follows, then to 8
        FitCase{1, 1, 16, 16, 7, 7, 1, 1, false},                   // smallest picture
        FitCase{5184, 1296, 2592, 1944, 0, 648, 2592, 648, true},   // wide: full width, centred down
        FitCase{5184, 3888, 2592, 1944, 0, 0, 2592, 1944, true},    // half size, whole canvas
        FitCase{2592, 1944, 2592, 1944, 0, 0, 2592, 1944, false},   // the largest accepted size
        FitCase{1024, 700, 1024, 704, 0, 2, 1024, 700, false},      // only the height rounded
        FitCase{2590, 1944, 2592, 1944, 1, 0, 2590, 1944, false},   // the height would pass 1944
        FitCase{100, 3000, 2592, 1944, 1264, 0, 64, 1944, true},    // tall: full height, centred across
        FitCase{3000, 1, 2592, 1944, 0, 971, 2592, 1, true}),      // a drawn height of at least 1
    [](const auto& info) { return std::to_string(info.param.width) + "x" + std::to_string(info.param.height); });

TEST(FitGeometry, RefusesEmptySizes) {
  ConvertFitGeometry g;
  EXPECT_FALSE(CConvertWorker::GetFitGeometry(0, 5, &g));
  EXPECT_FALSE(CConvertWorker::GetFitGeometry(5, 0, &g));
  CBitmap24 out;
  EXPECT_FALSE(CConvertWorker::ConvertBmpSize(QImage(), &out));
}

TEST(ConvertBmpSize, DrawsThePictureOnBlackWhereTheGeometrySays) {
  QImage source(1000, 700, QImage::Format_BGR888);
  source.fill(QColor(200, 40, 40));
  CBitmap24 out;
  ASSERT_TRUE(CConvertWorker::ConvertBmpSize(source, &out));
  ASSERT_EQ(QSize(1008, 712), out.size());
  EXPECT_EQ(qRgb(0, 0, 0), out.pixel(3, 6));
  EXPECT_EQ(qRgb(0, 0, 0), out.pixel(4, 5));
  EXPECT_EQ(qRgb(200, 40, 40), out.pixel(4, 6));
  EXPECT_EQ(qRgb(200, 40, 40), out.pixel(1003, 705));
  EXPECT_EQ(qRgb(0, 0, 0), out.pixel(1004, 705));
  EXPECT_EQ(qRgb(0, 0, 0), out.pixel(1003, 706));

  QImage wide(5184, 1296, QImage::Format_BGR888);
  wide.fill(QColor(20, 200, 90));
  ASSERT_TRUE(CConvertWorker::ConvertBmpSize(wide, &out));
  ASSERT_EQ(QSize(2592, 1944), out.size());
  EXPECT_EQ(qRgb(0, 0, 0), out.pixel(1000, 647));
  EXPECT_TRUE(Near(out.pixel(0, 648), QColor(20, 200, 90), 2));
  EXPECT_TRUE(Near(out.pixel(2591, 1295), QColor(20, 200, 90), 2));
  EXPECT_EQ(qRgb(0, 0, 0), out.pixel(1000, 1296));
}

// ------------------------------------------------------------ error entries

TEST(ErrorEntry, TheConversionsEntryIsA1040ByteBlockOfTwoUtf16Fields) {
  const size_t before = GlobalBlockCount();
  CErrorList list;
  ASSERT_TRUE(AddTransErrEntry("Unable to convert file.", "/pics/Bild \xC3\xBC.jpg", &list));
  ASSERT_TRUE(AddTransErrEntry(std::string(400, 'm'), std::string(300, 'n'), &list));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(TRANSERR_ENTRY_SIZE, GlobalSize(list[0]));
  const auto* raw = static_cast<const char16_t*>(GlobalLock(list[0]));
  ASSERT_NE(nullptr, raw);
  EXPECT_EQ(u'/', raw[0]);
  EXPECT_EQ(u'\u00FC', raw[11]);
  EXPECT_EQ(u'.', raw[12]);
  EXPECT_EQ(0, raw[16]);
  EXPECT_EQ(u'U', raw[260]);  // the message starts at byte 520
  GlobalUnlock(list[0]);
  EXPECT_EQ("/pics/Bild \xC3\xBC.jpg", TransErrFileName(list[0]));
  EXPECT_EQ("Unable to convert file.", TransErrMessage(list[0]));
  // Each field keeps 259 characters and its terminating zero.
  EXPECT_EQ(std::string(259, 'n'), TransErrFileName(list[1]));
  EXPECT_EQ(std::string(259, 'm'), TransErrMessage(list[1]));
  FreeTransErrList(&list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(before, GlobalBlockCount());
}

// ------------------------------------------------------------ numbering

struct NumberCase {
  std::vector<std::string> files;    // present in the output folder
  std::vector<std::string> folders;  // folders there
  const char* expected;
};

class NumberingTest : public ConvertWorkerTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberingTest, TheFirstPictureTakesTheNextNumber) {
  const NumberCase& c = GetParam();
  for (const std::string& f : c.files) WriteFile(m_Out + "/" + f, "x");
  for (const std::string& d : c.folders) std::filesystem::create_directories(m_Out + "/" + d);
  WriteJpeg(m_In + "/p.jpg", 32, 16, Qt::red);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFile(&worker, m_In + "/p.jpg", &dest));
  EXPECT_TRUE(worker.GetErrorList().empty());
  EXPECT_TRUE(Exists(m_Out + "/" + c.expected)) << c.expected;
  EXPECT_EQ(c.files.size() + c.folders.size() + 1, ListFolder(m_Out).size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberingTest,
    ::testing::Values(NumberCase{{}, {}, "IMAG0001.jpg"},
                      NumberCase{{"IMAG0007.JPG", "IMAGABCD.JPG"}, {}, "IMAG0008.jpg"},
                      NumberCase{{"imag0003.jpg", "IMAG0002.Jpg"}, {"IMAG0050.JPG"}, "IMAG0004.jpg"},
                      NumberCase{{"IMAG0000.JPG", "IMAG10000.JPG", "IMAG0009.JPEG", "XIMAG0009.JPG"}, {}, "IMAG0001.jpg"},
                      NumberCase{{"IMAG-001.JPG", "IMAG 12.JPG"}, {}, "IMAG0001.jpg"},
                      NumberCase{{"IMAG9998.JPG"}, {}, "IMAG9999.jpg"}),
    [](const auto& info) {
      return std::to_string(info.param.files.size()) + "Files" + std::to_string(info.param.folders.size())
             + "Folders_" + std::to_string(info.index);
    });

TEST_F(ConvertWorkerTest, NumbersRunOutAt9999AndEveryFileLeftIsListed) {
  WriteFile(m_Out + "/IMAG9998.JPG", "x");
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(m_In + "/" + name, 32, 16, Qt::blue);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFolder(&worker, &dest));
  EXPECT_TRUE(Exists(m_Out + "/IMAG9999.jpg"));
  const auto entries = Entries(worker);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/b.jpg", std::string("File already exists in the output folder.")), entries[0]);
  EXPECT_EQ(std::make_pair(m_In + "/c.jpg", std::string("File already exists in the output folder.")), entries[1]);
  EXPECT_EQ(2u, ListFolder(m_Out).size());
}

TEST_F(ConvertWorkerTest, AnOutputPathTooLongStopsTheRun) {
  // A folder whose picture paths would pass 260 characters.
  std::string deep = m_Out;
  while (deep.size() < 250) deep += "/dddddddddddddddddddd";
  std::filesystem::create_directories(deep);
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::blue);
  WriteJpeg(m_In + "/b.jpg", 32, 16, Qt::blue);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(deep);
  RunFolder(&worker, &dest);
  const auto entries = Entries(worker);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("The output folder is not available.", entries[0].second);
  EXPECT_EQ("The output folder is not available.", entries[1].second);
  EXPECT_TRUE(ListFolder(deep).empty());
}

// ------------------------------------------------------------ path limits

// The limits count characters as UTF-16 units (a CJK character is 1, one
// beyond the basic plane 2), whatever their UTF-8 bytes.
struct PathLimitCase {
  const char* name;
  bool source;  // a source file of a folder run; else a picture of the output folder
  const char* ch;
  size_t chUnits;
  size_t units;  // of the whole path
  bool taken;
};

void PrintTo(const PathLimitCase& c, std::ostream* os) { *os << c.name; }

class PathLimitTest : public ConvertWorkerTest, public ::testing::WithParamInterface<PathLimitCase> {};

TEST_P(PathLimitTest, CountsUtf16UnitsNotBytes) {
  const PathLimitCase& c = GetParam();
  const std::string tail = c.source ? "/a.jpg" : "/IMAG0001.jpg";
  const std::string folder = PathOfLength(c.source ? m_In : m_Out, c.units, c.ch, c.chUnits, tail);
  ASSERT_TRUE(std::filesystem::create_directories(folder));
  if (c.source) {
    WriteJpeg(folder + tail, 32, 16, Qt::blue);
    const std::vector<std::string> files = CConvertWorker::EnumFiles(folder);
    EXPECT_EQ(files.size(), c.taken ? 1u : 0u);
    // The run itself converts it (or says there is nothing to convert).
    CConvertWorker worker(m_Work, m_Office, &m_Host);
    CLocalDestination dest(m_Out);
    worker.SetFileMode(false);
    worker.SetSourceFolder(folder);
    worker.SetDestination(&dest);
    worker.PrepareRun();
    EXPECT_EQ(worker.ConvertThread(), c.taken ? 1 : 0);
    EXPECT_EQ(Exists(m_Out + "/IMAG0001.jpg"), c.taken);
    EXPECT_EQ(m_Host.messages.empty(), c.taken);
  } else {
    CLocalDestination dest(folder);
    std::string name;
    UINT message = 0;
    EXPECT_EQ(dest.MakeOutputName(1, &name, &message),
              c.taken ? IConvertDestination::NAME_OK : IConvertDestination::NAME_STOP);
    if (c.taken) EXPECT_EQ(name, folder + tail);
    else EXPECT_EQ(message, static_cast<UINT>(IDS_OUTPUT_FOLDER_NA));
  }
}

const char* const kCjk = "\xE6\xBC\xA2";         // U+6F22: 3 bytes, 1 unit
const char* const kEmoji = "\xF0\x9F\x98\x80";  // U+1F600: 4 bytes, 2 units

INSTANTIATE_TEST_SUITE_P(
    Table, PathLimitTest,
    ::testing::Values(PathLimitCase{"SourceAscii259", true, "s", 1, 259, true},
                      PathLimitCase{"SourceAscii260", true, "s", 1, 260, false},
                      // 120 characters, 292 bytes: the folder run used to find nothing.
                      PathLimitCase{"SourceCjk120", true, kCjk, 1, 120, true},
                      PathLimitCase{"SourceCjk259", true, kCjk, 1, 259, true},
                      PathLimitCase{"SourceCjk260", true, kCjk, 1, 260, false},
                      PathLimitCase{"SourceEmoji259", true, kEmoji, 2, 259, true},
                      PathLimitCase{"SourceEmoji260", true, kEmoji, 2, 260, false},
                      PathLimitCase{"OutputAscii260", false, "o", 1, 260, true},
                      PathLimitCase{"OutputAscii261", false, "o", 1, 261, false},
                      PathLimitCase{"OutputCjk260", false, kCjk, 1, 260, true},
                      PathLimitCase{"OutputCjk261", false, kCjk, 1, 261, false}),
    [](const ::testing::TestParamInfo<PathLimitCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ sources that are no pictures

// A folder run on the worker's own thread, as the program runs it. False
// when it has not ended within the limit; a FIFO at `fifo` is then opened
// for writing and closed, so that a worker blocked on it gets free and the
// test ends either way.
bool RunOnWorkerThread(CConvertWorker* worker, RecordingHost* host, const std::string& folder,
                       IConvertDestination* dest, const std::string& fifo, int limitMs) {
  worker->SetFileMode(false);
  worker->SetSourceFolder(folder);
  worker->SetDestination(dest);
  if (!worker->Start()) return false;
  const auto ended = [host] {
    std::lock_guard<std::mutex> guard(host->m_Lock);
    return !host->ends.empty();
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!ended() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool inTime = ended();
  while (!inTime && !fifo.empty() && !ended()) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  worker->Join();
  return inTime;
}

struct FifoCase {
  const char* name;
  std::vector<const char*> pictures;  // written as pictures of their kind
  const char* fifo;
  std::vector<std::string> written;  // a picture's number is taken before its source is read
  bool outside = false;               // through the outside codec module
};

void PrintTo(const FifoCase& c, std::ostream* os) { *os << c.name; }

class FifoSourceTest : public ConvertWorkerTest, public ::testing::WithParamInterface<FifoCase> {};

TEST_P(FifoSourceTest, AFifoNamedLikeASourceGetsItsEntryAndTheRunGoesOn) {
  const FifoCase& c = GetParam();
  for (const char* name : c.pictures) {
    const std::string path = m_In + "/" + name;
    if (CConvertWorker::KindOf(path) == CConvertWorker::KIND_BMP) WriteBmp(path, 32, 16, Qt::red);
    else WriteJpeg(path, 32, 16, Qt::red);
  }
  const std::string fifo = m_In + "/" + c.fifo;
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // In place of soffice, a program that reads the file it is given, as
  // soffice opens it.
  const std::string reader = m_Root + "/reader";
  WriteFile(reader, "#!/bin/sh\nfor last; do :; done\nexec cat -- \"$last\" > /dev/null\n");
  ASSERT_EQ(::chmod(reader.c_str(), 0755), 0);
  const HMODULE module = c.outside ? LoadLibrary(JpegCodecLibraryName(JPEGLIB_SIMD)) : nullptr;
  ASSERT_EQ(c.outside, module != nullptr) << GetLoadErrorText();
  const CJpeg codec = module ? CJpeg(GetProcAddressAs<PFN_FNCLOADJPEGW>(module, FNC_LOADJPEGW),
                                     GetProcAddressAs<PFN_FNCSAVEJPEGW>(module, FNC_SAVEJPEGW), nullptr)
                             : CJpeg();
  // A folder named like a picture is no source: the run never lists it.
  std::filesystem::create_directories(m_In + "/folder.jpg");
  CConvertWorker worker(m_Work, m_Office, &m_Host, codec);
  worker.Presentation().SetProgram(reader);
  CLocalDestination dest(m_Out);
  EXPECT_TRUE(RunOnWorkerThread(&worker, &m_Host, m_In, &dest, fifo, 10000));
  EXPECT_EQ(ListFolder(m_Out), c.written);
  EXPECT_EQ(Entries(worker), (std::vector<std::pair<std::string, std::string>>{{fifo, "Unable to convert file."}}));
  if (module) FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FifoSourceTest,
    ::testing::Values(FifoCase{"Jpeg", {"a.jpg", "c.jpg"}, "b.jpg", {"IMAG0001.jpg", "IMAG0003.jpg"}},
                      FifoCase{"JpegOutside", {"a.jpg", "c.jpg"}, "b.jpg", {"IMAG0001.jpg", "IMAG0003.jpg"}, true},
                      FifoCase{"Bmp", {"a.bmp", "c.bmp"}, "b.bmp", {"IMAG0001.jpg", "IMAG0003.jpg"}},
                      // Presentations come after the pictures.
                      FifoCase{"Presentation", {"a.jpg", "c.jpg"}, "b.ppt", {"IMAG0001.jpg", "IMAG0002.jpg"}}),
    [](const ::testing::TestParamInfo<FifoCase>& info) { return std::string(info.param.name); });

// A death test's child runs the test again from its start in a process of
// its own, which ends by _Exit without TearDown. While this is in scope its
// temporary folder is made inside `root`, which the parent's TearDown
// removes, however the child ends.
class ChildTempFolders {
 public:
  explicit ChildTempFolders(const std::string& root) : m_Path(root + "/children") {
    std::filesystem::create_directories(m_Path);
    if (const char* old = std::getenv("TMPDIR")) m_Old = old;
    ::setenv("TMPDIR", m_Path.c_str(), 1);
  }
  ~ChildTempFolders() {
    if (m_Old) {
      ::setenv("TMPDIR", m_Old->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  ChildTempFolders(const ChildTempFolders&) = delete;
  ChildTempFolders& operator=(const ChildTempFolders&) = delete;
  const std::string& Path() const { return m_Path; }

 private:
  std::string m_Path;
  std::optional<std::string> m_Old;
};

// The address space the child process is held to, and the size of a file
// that may never be read whole under it (sparse: it takes no disk).
constexpr rlim_t kAddressSpace = 2560ull * 1024 * 1024;
constexpr off_t kHugeFile = 3ll * 1024 * 1024 * 1024;

// The program's two codec paths: libjpeg, or the outside codec module that
// the default installation binds.
struct CodecCase {
  const char* name;
  bool outside;
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

class OutsideCodecModule {
 public:
  explicit OutsideCodecModule(bool outside) {
    if (outside) m_Module = LoadLibrary(JpegCodecLibraryName(JPEGLIB_SIMD));
  }
  ~OutsideCodecModule() {
    if (m_Module) FreeLibrary(m_Module);
  }
  OutsideCodecModule(const OutsideCodecModule&) = delete;
  OutsideCodecModule& operator=(const OutsideCodecModule&) = delete;
  bool Bound(bool outside) const { return !outside || m_Module; }
  CJpeg Make() const {
    if (!m_Module) return CJpeg();
    return CJpeg(GetProcAddressAs<PFN_FNCLOADJPEGW>(m_Module, FNC_LOADJPEGW),
                 GetProcAddressAs<PFN_FNCSAVEJPEGW>(m_Module, FNC_SAVEJPEGW), nullptr);
  }

 private:
  HMODULE m_Module = nullptr;
};

class CodecPathTest : public ConvertWorkerTest, public ::testing::WithParamInterface<CodecCase> {
 protected:
  void SetUp() override {
    ConvertWorkerTest::SetUp();
    m_Codec = std::make_unique<OutsideCodecModule>(GetParam().outside);
    ASSERT_TRUE(m_Codec->Bound(GetParam().outside)) << GetLoadErrorText();
  }
  std::unique_ptr<OutsideCodecModule> m_Codec;
};

const CodecCase kCodecs[] = {{"Libjpeg", false}, {"Outside", true}};
std::string CodecName(const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; }

TEST_P(CodecPathTest, AHugeSourceIsReadPieceByPieceUnderAnAddressSpaceLimit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  // A whole small picture, then sparse bytes after its end up to 3 GB.
  WriteJpeg(m_In + "/big.jpg", 64, 48, Qt::green);
  ASSERT_EQ(::truncate((m_In + "/big.jpg").c_str(), kHugeFile), 0);
  WriteJpeg(m_In + "/c.jpg", 32, 16, Qt::blue);
  // In a child process, so the limit holds nothing else.
  const auto child = [this] {
    const rlimit limit{kAddressSpace, kAddressSpace};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
    CConvertWorker worker(m_Work, m_Office, &m_Host, m_Codec->Make());
    CLocalDestination dest(m_Out);
    const bool ended = RunOnWorkerThread(&worker, &m_Host, m_In, &dest, "", 60000);
    const bool all = ListFolder(m_Out).size() == 3 && worker.GetErrorList().empty();
    std::_Exit(ended && all ? 0 : 3);
  };
  const ChildTempFolders children(m_Root);
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  // The child's folder, with its own 3 GB file, went where TearDown removes it.
  EXPECT_EQ(ListFolder(children.Path()).size(), 1u);
}

// Cancel pressed while a source is in progress (the progress dialog shows
// it as begun): that source ends where it is and is listed as cancelled, as
// is every file after it; nothing is written.
struct CancelCase {
  bool fileMode;
  const char* cancelAt;  // the count text at which Cancel is pressed
  std::vector<const char*> canceled;
};

TEST_P(CodecPathTest, CancelEndsTheSourceInProgress) {
  const CancelCase cases[] = {{true, "0 / 1", {"a.jpg"}}, {false, "0 / 3", {"a.jpg", "b.jpg", "c.jpg"}}};
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(c.fileMode ? "one file" : "a folder");
    std::filesystem::remove_all(m_In);
    std::filesystem::remove_all(m_Out);
    std::filesystem::create_directories(m_In);
    std::filesystem::create_directories(m_Out);
    // A long source: a picture at the head of 3 GB.
    WriteJpeg(m_In + "/a.jpg", 640, 480, Qt::red);
    ASSERT_EQ(::truncate((m_In + "/a.jpg").c_str(), kHugeFile), 0);
    WriteJpeg(m_In + "/b.jpg", 32, 16, Qt::green);
    WriteJpeg(m_In + "/c.jpg", 32, 16, Qt::blue);
    CConvertWorker worker(m_Work, m_Office, &m_Host, m_Codec->Make());
    bool pressed = false;
    m_Host.onText = [&](const std::string& text) {
      if (!pressed && text == c.cancelAt) {
        pressed = true;
        worker.Cancel();
      }
    };
    CLocalDestination dest(m_Out);
    if (c.fileMode) {
      EXPECT_EQ(0, RunFile(&worker, m_In + "/a.jpg", &dest));
    } else {
      EXPECT_EQ(1, RunFolder(&worker, &dest));
    }
    m_Host.onText = nullptr;
    EXPECT_TRUE(pressed);
    std::vector<std::pair<std::string, std::string>> expected;
    for (const char* name : c.canceled) expected.emplace_back(m_In + "/" + name, "Operation was canceled.");
    EXPECT_EQ(Entries(worker), expected);
    EXPECT_TRUE(worker.IsStopped());
    EXPECT_EQ(worker.GetStopMessage(), static_cast<UINT>(IDS_CANCELED));
    EXPECT_TRUE(ListFolder(m_Out).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, CodecPathTest, ::testing::ValuesIn(kCodecs), CodecName);

// Room for the worker and small pictures, not for a 5184 x 3888 picture.
constexpr size_t kHeadroom = 40u * 1024 * 1024;

size_t AddressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  statm >> pages;
  return pages * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

TEST_F(ConvertWorkerTest, ADecodeThatRunsOutOfMemoryGivesItsEntryAndTheRunGoesOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  WriteJpeg(m_In + "/b.jpg", 5184, 3888, Qt::green);
  WriteJpeg(m_In + "/c.jpg", 32, 16, Qt::blue);
  const auto child = [this] {
    CConvertWorker worker(m_Work, m_Office, &m_Host);
    CLocalDestination dest(m_Out);
    const rlim_t cap = AddressSpaceInUse() + kHeadroom;
    const rlimit limit{cap, cap};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
    const bool ended = RunOnWorkerThread(&worker, &m_Host, m_In, &dest, "", 60000);
    const auto entries = Entries(worker);
    const bool listed = entries.size() == 1 && entries[0].first == m_In + "/b.jpg" &&
                        entries[0].second == "Unable to convert file.";
    std::_Exit(!ended ? 3 : !listed ? 4 : ListFolder(m_Out).size() != 2 ? 5 : 0);
  };
  const ChildTempFolders children(m_Root);
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ListFolder(children.Path()).size(), 1u);
}

TEST_F(ConvertWorkerTest, A5184By3888JpegIsConvertedToTheLargestSize) {
  WriteJpeg(m_In + "/big.jpg", 5184, 3888, Qt::green);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFile(&worker, m_In + "/big.jpg", &dest));
  EXPECT_TRUE(worker.GetErrorList().empty());
  const QImage out = ReadImage(m_Out + "/IMAG0001.jpg");
  EXPECT_EQ(out.size(), QSize(2592, 1944));
  EXPECT_TRUE(Near(out.pixel(1296, 972), Qt::green));
}

// ------------------------------------------------------------ folder runs

TEST_F(ConvertWorkerTest, EnumFilesTakesJpgThenBmpThenPptThenPptxInNameOrderWithoutCase) {
  for (const char* name : {"b.JPG", "a.jpg", "C.jpg", "c.bmp", "z.ppt", "d.pptx", "e.PPT", "f.jpeg", "g.pptx.bak",
                           "h.JPG.bmp", "noext", ".jpg"}) {
    WriteFile(m_In + "/" + name, "x");
  }
  std::filesystem::create_directories(m_In + "/dir.jpg");
  const std::vector<std::string> files = CConvertWorker::EnumFiles(m_In);
  std::vector<std::string> names;
  for (const std::string& f : files) names.push_back(f.substr(m_In.size() + 1));
  EXPECT_EQ((std::vector<std::string>{".jpg", "a.jpg", "b.JPG", "C.jpg", "c.bmp", "h.JPG.bmp", "e.PPT", "z.ppt",
                                      "d.pptx"}),
            names);
  // Full paths, the folder given with or without its trailing separator.
  EXPECT_EQ(m_In + "/a.jpg", CConvertWorker::EnumFiles(m_In + "/")[1]);
}

TEST_F(ConvertWorkerTest, AFolderRunConvertsInKindOrderAtTheQualityAndSampling) {
  // Widths tell the pictures apart in the output.
  WriteJpeg(m_In + "/b.jpg", 48, 16, Qt::green);
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  WriteBmp(m_In + "/c.bmp", 64, 16, QColor(0, 0, 255));
  WriteBmp8(m_In + "/d.bmp", 80, 16, QColor(255, 0, 255));
  WriteJpeg(m_In + "/e.jpg", 1000, 700, QColor(255, 255, 255));  // fitted onto a canvas
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFolder(&worker, &dest));
  EXPECT_TRUE(worker.GetErrorList().empty());
  const std::vector<std::pair<int, QColor>> expected = {
      {32, Qt::red}, {48, Qt::green}, {1008, QColor(255, 255, 255)}, {64, QColor(0, 0, 255)},
      {80, QColor(255, 0, 255)}};
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::string path = m_Out + "/" + ConvertFileName(static_cast<int>(i) + 1);
    const QImage image = ReadImage(path);
    ASSERT_FALSE(image.isNull()) << path;
    EXPECT_EQ(expected[i].first, image.width()) << path;
    EXPECT_TRUE(Near(image.pixel(image.width() / 2, image.height() / 2), expected[i].second)) << path;
    const std::string file = ReadFile(path);
    const ExifSegment seg = FindExifSegment(file);
    ASSERT_TRUE(seg.found) << path;
    TiffIfd exif;
    ASSERT_TRUE(ReadIfd(seg.tiff, 114, &exif));
    EXPECT_EQ(static_cast<uint32_t>(image.width()), exif.entries[6].valueOrOffset) << path;
    EXPECT_EQ(static_cast<uint32_t>(image.height()), exif.entries[7].valueOrOffset) << path;
    // Quality 75: the first luminance and chrominance quantisers of the
    // standard tables at half scale are 8 and 9.
    const size_t dqt = file.find("\xFF\xDB", seg.segmentEnd);
    ASSERT_NE(std::string::npos, dqt);
    EXPECT_EQ(8, static_cast<uint8_t>(file[dqt + 5])) << path;
    const size_t second = file.find(std::string("\x01", 1), dqt + 5 + 64);
    ASSERT_NE(std::string::npos, second);
    EXPECT_EQ(9, static_cast<uint8_t>(file[second + 1])) << path;
  }
  EXPECT_FALSE(Exists(m_Out + "/IMAG0006.jpg"));
  if (HaveProgram("exiftool")) {
    EXPECT_EQ("YCbCr4:2:2 (2 1)\n", RunCommand("exiftool -s3 -YCbCrSubSampling " + Quote(m_Out + "/IMAG0001.jpg")));
  }
  // The count text before and after every file.
  EXPECT_EQ((std::vector<std::string>{"0 / 5", "0 / 5", "1 / 5", "1 / 5", "2 / 5", "2 / 5", "3 / 5", "3 / 5",
                                      "4 / 5", "4 / 5", "5 / 5"}),
            m_Host.texts);
  EXPECT_EQ(100, m_Host.positions.back());
  EXPECT_TRUE(m_Host.messages.empty());
}

TEST_F(ConvertWorkerTest, UnreadableFilesBecomeEntriesAndTheRunGoesOn) {
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  WriteFile(m_In + "/broken.jpg", "no picture at all");
  const std::string whole = ReadFile(m_In + "/a.jpg");
  WriteFile(m_In + "/cut.jpg", whole.substr(0, whole.size() / 2));
  WriteFile(m_In + "/bad.bmp", "BM but nothing else");
  WriteBmp(m_In + "/good.bmp", 16, 8, Qt::blue);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFolder(&worker, &dest));
  const auto entries = Entries(worker);
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/broken.jpg", std::string("Unable to convert file.")), entries[0]);
  EXPECT_EQ(std::make_pair(m_In + "/cut.jpg", std::string("Unable to convert file.")), entries[1]);
  EXPECT_EQ(std::make_pair(m_In + "/bad.bmp", std::string("Unable to convert file.")), entries[2]);
  EXPECT_FALSE(worker.IsFatal());
  // a.jpg took 1; the failed ones used up their numbers, good.bmp has 5.
  EXPECT_EQ((std::vector<std::string>{"IMAG0001.jpg", "IMAG0005.jpg"}), ListFolder(m_Out));
}

TEST_F(ConvertWorkerTest, AFileOfAnotherKindIsRefusedInFileMode) {
  WriteJpeg(m_In + "/p.jpeg", 32, 16, Qt::red);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(0, RunFile(&worker, m_In + "/p.jpeg", &dest));
  ASSERT_EQ(1u, m_Host.messages.size());
  EXPECT_EQ(IDS_INVALID_FILE_TYPE, m_Host.messages[0].first);
  EXPECT_EQ(MB_ICONWARNING, m_Host.messages[0].second);
  EXPECT_TRUE(worker.GetErrorList().empty());
  EXPECT_TRUE(ListFolder(m_Out).empty());
}

TEST_F(ConvertWorkerTest, AFolderWithoutConvertibleFilesSaysSo) {
  WriteFile(m_In + "/readme.txt", "x");
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(0, RunFolder(&worker, &dest));
  ASSERT_EQ(1u, m_Host.messages.size());
  EXPECT_EQ(IDS_NOTHING_TO_CONVERT, m_Host.messages[0].first);
  EXPECT_EQ("There is no file that can be converted.", FotaviText(IDS_NOTHING_TO_CONVERT));
}

TEST_F(ConvertWorkerTest, FileModeReportsOneOfOne) {
  WriteJpeg(m_In + "/p.JPG", 32, 16, Qt::red);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFile(&worker, m_In + "/p.JPG", &dest));
  EXPECT_EQ((std::vector<std::string>{"0 / 1", "1 / 1"}), m_Host.texts);
  EXPECT_EQ((std::vector<int>{0, 100}), m_Host.positions);
  EXPECT_EQ((std::vector<std::string>{"IMAG0001.jpg"}), ListFolder(m_Out));
}

// ------------------------------------------------------------ Cancel and the thread

TEST_F(ConvertWorkerTest, CancelListsEveryFileNotYetConverted) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) WriteJpeg(m_In + "/" + name, 32, 16, Qt::red);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  m_Host.onText = [&](const std::string& text) {
    if (text == "1 / 4") worker.Cancel();
  };
  worker.SetFileMode(false);
  worker.SetSourceFolder(m_In);
  worker.SetDestination(&dest);
  ASSERT_TRUE(worker.Start());
  worker.Join();
  EXPECT_EQ((std::vector<int>{1}), m_Host.ends);
  EXPECT_EQ(0, worker.IsRunning());
  const auto entries = Entries(worker);
  ASSERT_EQ(3u, entries.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m_In + "/" + std::string(1, static_cast<char>('b' + i)) + ".jpg", entries[i].first);
    EXPECT_EQ("Operation was canceled.", entries[i].second);
  }
  EXPECT_EQ((std::vector<std::string>{"IMAG0001.jpg"}), ListFolder(m_Out));
}

TEST_F(ConvertWorkerTest, ACancelRightAfterTheStartIsNeverUndoneByTheWorker) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}) {
    WriteJpeg(m_In + "/" + name, 32, 16, Qt::red);
  }
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  worker.SetFileMode(false);
  worker.SetSourceFolder(m_In);
  worker.SetDestination(&dest);
  ASSERT_TRUE(worker.Start());
  EXPECT_FALSE(worker.Start());  // one run at a time
  worker.Cancel();
  worker.Join();
  // At most the file in hand when Cancel came is converted.
  EXPECT_LE(ListFolder(m_Out).size(), 1u);
  EXPECT_GE(worker.GetErrorList().size(), 4u);
  EXPECT_EQ(0, worker.IsRunning());
  EXPECT_EQ((std::vector<int>{1}), m_Host.ends);
}

// ------------------------------------------------------------ a card-like destination

// Stages into a folder and answers each delivery with the next card status.
class ScriptedCard : public IConvertDestination {
 public:
  ScriptedCard(std::string staging, std::vector<DWORD> statuses)
      : m_Staging(std::move(staging)), m_Statuses(std::move(statuses)) {}
  bool IsCard() const override { return true; }
  bool GetMaxNumber(int* number, UINT* message) override {
    if (!listingWorks) {
      *message = IDS_SD_TRANSFER_FAILED;
      return false;
    }
    *number = highest;
    return true;
  }
  NameResult MakeOutputName(int number, std::string* path, UINT*) override {
    *path = m_Staging + "/" + ConvertFileName(number);
    return NAME_OK;
  }
  int Deliver(const std::string& path) override {
    delivered.push_back(path.substr(path.rfind('/') + 1));
    stagedExisted.push_back(Exists(path));
    const DWORD status = m_Statuses.empty() ? 0 : m_Statuses.front();
    if (!m_Statuses.empty()) m_Statuses.erase(m_Statuses.begin());
    return TransferCodeForStatus(status);
  }
  void EndOfSeries() override { ++ends; }

  bool listingWorks = true;
  int highest = 0;
  std::vector<std::string> delivered;
  std::vector<bool> stagedExisted;
  int ends = 0;

 private:
  std::string m_Staging;
  std::vector<DWORD> m_Statuses;
};

struct CardStopCase {
  DWORD status;
  const char* text;
};

class CardStopTest : public ConvertWorkerTest, public ::testing::WithParamInterface<CardStopCase> {};

TEST_P(CardStopTest, AStatusThatEndsTheCardStopsTheRun) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(m_In + "/" + name, 32, 16, Qt::red);
  ScriptedCard card(m_Out, {0, GetParam().status});
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  EXPECT_EQ(1, RunFolder(&worker, &card));
  EXPECT_EQ((std::vector<std::string>{"IMAG0001.jpg", "IMAG0002.jpg"}), card.delivered);
  EXPECT_EQ((std::vector<bool>{true, true}), card.stagedExisted);
  const auto entries = Entries(worker);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/b.jpg", std::string(GetParam().text)), entries[0]);
  EXPECT_EQ(std::make_pair(m_In + "/c.jpg", std::string(GetParam().text)), entries[1]);
  EXPECT_TRUE(ListFolder(m_Out).empty());  // every staged file deleted
  EXPECT_EQ(1, card.ends);                 // the folder run itself went through
}

INSTANTIATE_TEST_SUITE_P(
    Table, CardStopTest,
    ::testing::Values(
        CardStopCase{1, "Unable to use the main unit.  Please confirm the power supply or the connection."},
        CardStopCase{512, "Insufficient capacity of SD memory."},
        CardStopCase{0x80000000u, "Unable to transfer file to SD memory."}),
    [](const auto& info) { return "Status" + std::to_string(info.param.status); });

TEST_F(ConvertWorkerTest, StatusesThatLeaveTheCardUsableGiveAnEntryAndTheRunGoesOn) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(m_In + "/" + name, 32, 16, Qt::red);
  ScriptedCard card(m_Out, {8, 77, 0});
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  EXPECT_EQ(1, RunFolder(&worker, &card));
  EXPECT_EQ(3u, card.delivered.size());
  const auto entries = Entries(worker);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/a.jpg", std::string("Unable to read locked image.")), entries[0]);
  EXPECT_EQ(std::make_pair(m_In + "/b.jpg", std::string("Unable to transfer file to SD memory.")), entries[1]);
}

TEST_F(ConvertWorkerTest, AFailedCardListingStopsInsteadOfNumberingFromOne) {
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  WriteJpeg(m_In + "/b.jpg", 32, 16, Qt::red);
  ScriptedCard card(m_Out, {});
  card.listingWorks = false;
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  RunFolder(&worker, &card);
  EXPECT_TRUE(card.delivered.empty());
  const auto entries = Entries(worker);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("Unable to transfer file to SD memory.", entries[0].second);
  EXPECT_EQ("Unable to transfer file to SD memory.", entries[1].second);
}

TEST_F(ConvertWorkerTest, TheEndOfASeriesIsToldOnlyAfterASuccessfulRun) {
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  ScriptedCard card(m_Out, {0});
  card.highest = 41;
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  EXPECT_EQ(1, RunFile(&worker, m_In + "/a.jpg", &card));
  EXPECT_EQ((std::vector<std::string>{"IMAG0042.jpg"}), card.delivered);
  EXPECT_EQ(1, card.ends);
  WriteFile(m_In + "/bad.jpg", "x");
  EXPECT_EQ(0, RunFile(&worker, m_In + "/bad.jpg", &card));
  EXPECT_EQ(1, card.ends);
}

}  // namespace
