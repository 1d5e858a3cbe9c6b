// Presentations through LibreOffice and Poppler: a three-slide presentation
// (the middle slide hidden) made at test time from a committed flat ODP, as
// .ppt and as .pptx. Each slide must come out as one 1024 x 768 picture in
// slide order, its colours where the slide has them. Runs without a Qt
// application object, as the program's worker does.
#include <dirent.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "ConvertTestSupport.h"
#include "ConvertWorker.h"
#include "TransErrEntry.h"

using namespace convert_test;

namespace {

const char* kFixture = CONVERT_TEST_DATA "/ThreeSlidesMiddleHidden.fodp";

const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255), kYellow(255, 255, 0);

bool HaveOffice() { return HaveProgram("soffice"); }

// The folder the presentations are made in, with their profile: made at the
// first use, removed when the test program ends.
class FixtureFolder {
 public:
  FixtureFolder() = default;
  FixtureFolder(const FixtureFolder&) = delete;
  FixtureFolder& operator=(const FixtureFolder&) = delete;
  ~FixtureFolder() {
    if (!m_Path.empty()) RemoveTree(m_Path);
  }
  const std::string& Path() {
    if (m_Path.empty()) m_Path = MakeTempFolder("fixture");
    return m_Path;
  }

 private:
  std::string m_Path;
};

// The presentation in `format` ("ppt", "pptx"), made once per test program
// with a profile of its own.
std::string Presentation(const std::string& format) {
  static FixtureFolder fixtures;
  const std::string& folder = fixtures.Path();
  const std::string path = folder + "/ThreeSlidesMiddleHidden." + format;
  if (Exists(path)) return path;
  const std::string profile = "file://" + folder + "/profile";
  const std::string command = "cd " + Quote(folder) + " && TMPDIR=" + Quote(folder) +
                              " soffice --headless --norestore -env:UserInstallation=" + Quote(profile) +
                              " --convert-to " + format + " --outdir " + Quote(folder) + " " + Quote(kFixture) +
                              " >/dev/null 2>&1";
  RunCommand(command);
  return Exists(path) ? path : std::string();
}

// Processes whose command line names `text`.
int CountProcessesWith(const std::string& text) {
  int count = 0;
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  while (dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::string cmdline = ReadFile(std::string("/proc/") + e->d_name + "/cmdline");
    for (char& c : cmdline) {
      if (c == '\0') c = ' ';
    }
    if (cmdline.find(text) != std::string::npos) ++count;
  }
  ::closedir(proc);
  return count;
}

class PresentationTest : public ConvertFixture {
 protected:
  std::string Copy(const std::string& source, const std::string& name) {
    const std::string path = m_In + "/" + name;
    WriteFile(path, ReadFile(source));
    return path;
  }

  // Nothing of a killed or finished soffice is left behind.
  void ExpectNothingLeft(CConvertWorker& worker) {
    CPresentationExport& ppt = worker.Presentation();
    EXPECT_FALSE(Exists(ppt.GetProfileFolder() + "/.lock"));
    EXPECT_TRUE(ListFolder(ppt.GetTempFolder()).empty());
    EXPECT_TRUE(ListFolder(ppt.GetPdfFolder()).empty());
    EXPECT_FALSE(Exists(worker.GetSlideFile()));
    EXPECT_EQ(0, CountProcessesWith(ppt.GetProfileFolder()));
  }

  NullHost m_Host;
};

#define REQUIRE_OFFICE()                                                                          \
  if (!HaveOffice()) GTEST_SKIP() << "soffice (LibreOffice Impress) is not installed: "           \
                                     "presentation conversion is not tested";

// Where each slide has which colour: slide 1 yellow top-left, slide 2 yellow
// top-right, slide 3 yellow bottom-left, the rest of each its background.
void ExpectSlide(const std::string& path, QColor background, int yellowQuarter) {
  const QImage image = ReadImage(path);
  ASSERT_EQ(QSize(1024, 768), image.size()) << path;
  // Points near the edges tell a stretched slide from one with bands.
  const struct {
    int x, y, quarter;
  } points[] = {{256, 192, 0}, {768, 192, 1}, {256, 576, 2}, {768, 576, 3}, {6, 6, 0},    {1017, 6, 1},
                {6, 761, 2},   {1017, 761, 3}, {500, 40, 0},  {524, 40, 1}, {500, 728, 2}, {524, 728, 3}};
  for (const auto& p : points) {
    const QColor expected = p.quarter == yellowQuarter ? kYellow : background;
    EXPECT_TRUE(Near(image.pixel(p.x, p.y), expected))
        << path << " at " << p.x << "," << p.y << ": " << std::hex << image.pixel(p.x, p.y);
  }
  const ExifSegment seg = FindExifSegment(ReadFile(path));
  ASSERT_TRUE(seg.found) << path;
  TiffIfd exif;
  ASSERT_TRUE(ReadIfd(seg.tiff, 114, &exif));
  EXPECT_EQ(1024u, exif.entries[6].valueOrOffset);
  EXPECT_EQ(768u, exif.entries[7].valueOrOffset);
}

class PresentationFormatTest : public PresentationTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PresentationFormatTest, EverySlideHiddenOrNotBecomesOnePictureInSlideOrder) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation(GetParam());
  ASSERT_FALSE(fixture.empty()) << "soffice could not make the ." << GetParam() << " fixture";
  const std::string source = Copy(fixture, std::string("talk.") + GetParam());
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFile(&worker, source, &dest));
  EXPECT_TRUE(worker.GetErrorList().empty()) << TransErrMessage(worker.GetErrorList().front());
  EXPECT_EQ((std::vector<std::string>{"IMAG0001.jpg", "IMAG0002.jpg", "IMAG0003.jpg"}), ListFolder(m_Out));
  ExpectSlide(m_Out + "/IMAG0001.jpg", kRed, 0);
  ExpectSlide(m_Out + "/IMAG0002.jpg", kGreen, 1);
  ExpectSlide(m_Out + "/IMAG0003.jpg", kBlue, 2);
  ExpectNothingLeft(worker);
  EXPECT_TRUE(m_Host.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, PresentationFormatTest, ::testing::Values("ppt", "pptx"),
    [](const auto& info) { return std::string(info.param); });

TEST_F(PresentationTest, AFolderRunTakesPicturesFirstThenPresentations) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation("pptx");
  ASSERT_FALSE(fixture.empty());
  Copy(fixture, "a.pptx");
  WriteJpeg(m_In + "/z.jpg", 1024, 768, QColor(255, 255, 255));
  WriteFile(m_In + "/b.ppt", std::string("\xD0\xCF\x11\xE0 not really a presentation"));
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFolder(&worker, &dest));
  // z.jpg first, then b.ppt (which soffice cannot load: it leaves no PDF),
  // then the three slides of a.pptx.
  const auto entries = Entries(worker);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/b.ppt", std::string("Unable to convert file.")), entries[0]);
  EXPECT_EQ(4u, ListFolder(m_Out).size());
  EXPECT_TRUE(Near(ReadImage(m_Out + "/IMAG0001.jpg").pixel(512, 384), QColor(255, 255, 255)));
  ExpectSlide(m_Out + "/IMAG0002.jpg", kRed, 0);
  ExpectSlide(m_Out + "/IMAG0004.jpg", kBlue, 2);
  ExpectNothingLeft(worker);
}

TEST_F(PresentationTest, WithoutLibreOfficePresentationsFailAndPicturesStillConvert) {
  WriteFile(m_In + "/deck.ppt", "whatever");
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  worker.Presentation().SetProgram(m_Root + "/no-such-office/soffice");
  EXPECT_FALSE(worker.Presentation().IsAvailable());
  CLocalDestination dest(m_Out);
  EXPECT_EQ(1, RunFolder(&worker, &dest));
  const auto entries = Entries(worker);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/deck.ppt", std::string("Unable to convert file.")), entries[0]);
  EXPECT_EQ((std::vector<std::string>{"IMAG0001.jpg"}), ListFolder(m_Out));
}

TEST_F(PresentationTest, TheTimeLimitKillsTheExportAndTheProfileStaysUsable) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation("ppt");
  ASSERT_FALSE(fixture.empty());
  const std::string source = Copy(fixture, "slow.ppt");
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  worker.Presentation().SetTimeLimit(200);
  EXPECT_EQ(0, RunFile(&worker, source, &dest));
  const auto entries = Entries(worker);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(std::make_pair(source, std::string("Unable to convert file.")), entries[0]);
  EXPECT_TRUE(ListFolder(m_Out).empty());
  ExpectNothingLeft(worker);

  // The next export with the same profile works.
  worker.Presentation().SetTimeLimit(CPresentationExport::DEFAULT_TIME_LIMIT_MS);
  worker.PrepareRun();
  EXPECT_EQ(1, worker.ConvertThread());
  EXPECT_TRUE(worker.GetErrorList().empty());
  EXPECT_EQ(3u, ListFolder(m_Out).size());
}

TEST_F(PresentationTest, CancelDuringTheExportKillsItAndListsTheRest) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation("pptx");
  ASSERT_FALSE(fixture.empty());
  Copy(fixture, "a.pptx");
  Copy(fixture, "b.pptx");
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  worker.SetFileMode(false);
  worker.SetSourceFolder(m_In);
  worker.SetDestination(&dest);
  const std::string profile = worker.Presentation().GetProfileFolder();
  ASSERT_TRUE(worker.Start());
  // Cancel as soon as soffice runs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (CountProcessesWith(profile) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.Cancel();
  worker.Join();
  const auto entries = Entries(worker);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(std::make_pair(m_In + "/a.pptx", std::string("Operation was canceled.")), entries[0]);
  EXPECT_EQ(std::make_pair(m_In + "/b.pptx", std::string("Operation was canceled.")), entries[1]);
  EXPECT_TRUE(ListFolder(m_Out).empty());
  ExpectNothingLeft(worker);
}

TEST_F(PresentationTest, ASlideFileThatCannotBeReplacedFailsTheSlideInsteadOfPassingForIt) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation("pptx");
  ASSERT_FALSE(fixture.empty());
  const std::string source = Copy(fixture, "deck.pptx");
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  // A folder where the slide file belongs cannot be deleted as a file.
  std::filesystem::create_directories(worker.GetSlideFile());
  WriteJpeg(worker.GetSlideFile() + "/inside.jpg", 16, 8, Qt::green);
  EXPECT_EQ(0, RunFile(&worker, source, &dest));
  const auto entries = Entries(worker);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("Unable to convert file.", entries[0].second);
  EXPECT_TRUE(ListFolder(m_Out).empty());
}

TEST_F(PresentationTest, AStaleSlideFileIsDeletedAndNeverUsed) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation("ppt");
  ASSERT_FALSE(fixture.empty());
  const std::string source = Copy(fixture, "deck.ppt");
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  CLocalDestination dest(m_Out);
  std::filesystem::create_directories(m_Work);
  WriteJpeg(worker.GetSlideFile(), 1024, 768, kGreen);
  EXPECT_EQ(1, RunFile(&worker, source, &dest));
  ExpectSlide(m_Out + "/IMAG0001.jpg", kRed, 0);
  EXPECT_FALSE(Exists(worker.GetSlideFile()));
}

TEST_F(PresentationTest, OnlyTheProfileOutlastsTheExport) {
  REQUIRE_OFFICE();
  const std::string fixture = Presentation("pptx");
  ASSERT_FALSE(fixture.empty());
  const std::string source = Copy(fixture, "deck.pptx");
  std::string profile, temp, pdf;
  {
    CConvertWorker worker(m_Work, m_Office, &m_Host);
    CLocalDestination dest(m_Out);
    EXPECT_EQ(1, RunFile(&worker, source, &dest));
    profile = worker.Presentation().GetProfileFolder();
    temp = worker.Presentation().GetTempFolder();
    pdf = worker.Presentation().GetPdfFolder();
    EXPECT_EQ(profile.rfind(m_Office + "/", 0), 0u);
    ExpectNothingLeft(worker);
  }
  EXPECT_TRUE(Exists(profile + "/user"));
  EXPECT_FALSE(Exists(temp));
  EXPECT_FALSE(Exists(pdf));
}

TEST(PresentationExport, RendersWithoutAnApplicationObjectToExactlyTheSizeAsked) {
  if (!HaveOffice()) GTEST_SKIP() << "soffice (LibreOffice Impress) is not installed";
  const std::string fixture = Presentation("pptx");
  ASSERT_FALSE(fixture.empty());
  const std::string root = MakeTempFolder("render");
  CPresentationExport ppt(root + "/work");
  std::atomic<LONG> running{1};
  ASSERT_EQ(CPresentationExport::OPEN_OK, ppt.Open(fixture, &running));
  EXPECT_EQ(3, ppt.GetSlideCount());
  for (QSize size : {QSize(1024, 768), QSize(333, 777), QSize(1, 1)}) {
    const CBitmap24 picture = ppt.RenderSlide(2, size.width(), size.height());
    EXPECT_EQ(size, picture.size());
  }
  EXPECT_TRUE(ppt.RenderSlide(0, 10, 10).isNull());
  EXPECT_TRUE(ppt.RenderSlide(4, 10, 10).isNull());
  ppt.Close();
  EXPECT_EQ(0, ppt.GetSlideCount());
  RemoveTree(root);
}

}  // namespace
