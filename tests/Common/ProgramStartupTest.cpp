// The programs' shared start-up pieces with each program's own words: every
// refusal shows that program's text in one stop box and writes that
// program's trace line; each program binds its own codec entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "App/FotaviApp.h"
#include "Common/CommonFunc.h"
#include "Common/ProgramStartup.h"
#include "Common/StringTable.h"
#include "MovApp.h"
#include "MovStrings.h"
#include "Platform/Settings.h"
#include "Platform/UiService.h"
#include "Text/FotaviStrings.h"
#include "TestEnv.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kParameters = "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters";

class BoxRecorder : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override {
    std::lock_guard<std::mutex> g(lock);
    texts.push_back(text);
    types.push_back(type);
    return IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  std::mutex lock;
  std::vector<std::string> texts;
  std::vector<UINT> types;
};

// One program as the shared pieces see it.
struct Program {
  const char* name;
  const StartupWords* words;
  void (*loadStrings)();
  const char* traceFile;  // in the installation's log folder
};
const Program kPresentation{"Presentation", &kFotaviStartupWords, &LoadFotaviStrings, "FotaviPreTrc.log"};
const Program kMovie{"Movie", &kMovStartupWords, &LoadFotaviMovStrings, "FotaviMovTrc.log"};

class StartupPieces : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fotavi_test::IsolateEnvironment("startup");
    install_ = root_ + "/install";
    fs::create_directories(install_ + "/Logs");
    ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, kParameters, "InstallPath", install_));
    setenv("FOTAVI_MODULE_PATH", COMMON_TEST_MODULES, 1);
    SetUserInterfaceService(&ui_);
  }
  void TearDown() override {
    SetUserInterfaceService(nullptr);
    unsetenv("FOTAVI_MODULE_PATH");
    ClearStringTable();
    fs::remove_all(root_);
  }
  // The name field and the message of the trace file's last line.
  std::pair<std::string, std::string> LastTraceLine(const Program& program) const {
    const std::string text = fotavi_test::ReadFile(install_ + "/Logs/" + program.traceFile);
    const std::regex line(R"(\[[^\]]*\] \[([^\]]*)\] ([^\r]*)\r\n$)");
    std::smatch m;
    if (!std::regex_search(text, m, line)) return {};
    std::string name = m[1].str();
    name.erase(name.find_last_not_of(' ') + 1);
    return {name, m[2].str()};
  }

  std::string root_;
  std::string install_;
  BoxRecorder ui_;
};

// ------------------------------------------------------------ refusals

enum class Cause { MutexExists, MutexOtherUser, MutexFailed, NoLibrary, NoReleaseEntry };

struct RefusalCase {
  const char* name;
  const Program* program;
  Cause cause;
  const char* text;        // the one message box
  const char* traceName;
  const char* traceStart;  // the trace message begins so (error codes and texts follow)
};

// gtest prints a row by its name (not by its bytes).
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusal : public StartupPieces, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, ShowsTheProgramsTextOnceAndLogsItsLine) {
  const RefusalCase& c = GetParam();
  c.program->loadStrings();
  const StartupWords& words = *c.program->words;
  CDeviceLibrary library(words);
  switch (c.cause) {
    case Cause::MutexExists:
      EXPECT_FALSE(AcceptMutexOutcome(words, APPMUTEX_EXISTS, nullptr));
      break;
    case Cause::MutexOtherUser:
      EXPECT_FALSE(AcceptMutexOutcome(words, APPMUTEX_ACCESSDENIED, nullptr));
      break;
    case Cause::MutexFailed:
      EXPECT_FALSE(AcceptMutexOutcome(words, APPMUTEX_FAILED, nullptr));
      break;
    case Cause::NoLibrary:
      EXPECT_FALSE(library.Load("FotaviNoSuchLibrary.dll", nullptr));
      break;
    case Cause::NoReleaseEntry:
      EXPECT_FALSE(library.Load(COMMON_NORELEASE_MODULE, nullptr));
      break;
  }
  EXPECT_EQ(ui_.texts, std::vector<std::string>{c.text});
  ASSERT_EQ(ui_.types.size(), 1u);
  EXPECT_EQ(ui_.types[0] & MB_ICONMASK, MB_ICONSTOP);
  const auto [name, message] = LastTraceLine(*c.program);
  EXPECT_EQ(name, c.traceName);
  EXPECT_EQ(message.rfind(c.traceStart, 0), 0u) << message;
  // Nothing of a refused library is kept.
  EXPECT_EQ(library.Module(), nullptr);
  EXPECT_EQ(library.Device(), nullptr);
}

constexpr const char* kPreInit = "Unable to initialize application.Closing application.";
constexpr const char* kMovInit = "Unable to initialize.\nClosing this application.";
constexpr const char* kLaunched = "Fotavi or Tiryx TWAIN DS is already launched.";
constexpr const char* kOtherUser = "Fotavi or Tiryx TWAIN DS is already used by the other user.";

INSTANTIATE_TEST_SUITE_P(
    Table, Refusal,
    ::testing::Values(
        RefusalCase{"PresentationAlreadyLaunched", &kPresentation, Cause::MutexExists, kLaunched,
                    "CFotaviApp::InitInstance", "The application is already launched."},
        RefusalCase{"PresentationOtherUser", &kPresentation, Cause::MutexOtherUser, kOtherUser,
                    "CFotaviApp::InitInstance", "The application is used by the other user."},
        RefusalCase{"PresentationMutexFailed", &kPresentation, Cause::MutexFailed, kPreInit,
                    "CFotaviApp::InitInstance", "The error occurred with the [CreateAppMutex()] function."},
        RefusalCase{"PresentationNoLibrary", &kPresentation, Cause::NoLibrary,
                    "Unable to load FotaviNoSuchLibrary.dll. ", "CFotaviApp::LoadDll",
                    "The error occurred with the [LoadLibrary] function. GetLastError=[0x"},
        RefusalCase{"PresentationNoReleaseEntry", &kPresentation, Cause::NoReleaseEntry, kPreInit,
                    "CFotaviApp::LoadDll", "The error occurred with the [GetProcAddress] function. GetLastError=[0x"},
        RefusalCase{"MovieAlreadyLaunched", &kMovie, Cause::MutexExists, kLaunched, "CFotaviMovApp::InitInstance",
                    "The application is already launched."},
        RefusalCase{"MovieOtherUser", &kMovie, Cause::MutexOtherUser, kOtherUser, "CFotaviMovApp::InitInstance",
                    "The application is used by the other user."},
        RefusalCase{"MovieMutexFailed", &kMovie, Cause::MutexFailed, kMovInit, "CFotaviMovApp::InitInstance",
                    "The error occurred with the [CreateAppMutex()] function."},
        RefusalCase{"MovieNoLibrary", &kMovie, Cause::NoLibrary, "Unable to load FotaviNoSuchLibrary.dll.",
                    "CFotaviMovApp::LoadDll", "It failed in LoadLibrary. "},
        RefusalCase{"MovieNoReleaseEntry", &kMovie, Cause::NoReleaseEntry, kMovInit, "CFotaviMovApp::LoadDll",
                    "It failed in GetProcAddress. "}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ codec entries

struct CodecCase {
  const char* name;
  const Program* program;
  COutsideCodecLibrary::Entries entries;
  DWORD jpegLib;  // 1: the full codec; 2: one without FncSaveJpegW
  bool bound;
  bool saveBound;
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

class CodecEntries : public StartupPieces, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(CodecEntries, EachProgramBindsWhatItUses) {
  const CodecCase& c = GetParam();
  ASSERT_TRUE(SettingsWriteDword(HKEY_LOCAL_MACHINE, kParameters, "JpegLib", c.jpegLib));
  COutsideCodecLibrary codec(*c.program->words, c.entries);
  EXPECT_EQ(codec.Load() != FALSE, c.bound);
  EXPECT_EQ(codec.Module() != nullptr, c.bound);
  EXPECT_EQ(codec.LoadEntry() != nullptr, c.bound);
  EXPECT_EQ(codec.InfoEntry() != nullptr, c.bound);
  EXPECT_EQ(codec.SaveEntry() != nullptr, c.saveBound);
  if (!c.bound) {
    EXPECT_EQ(LastTraceLine(*c.program).second.rfind("The error occurred with the [GetProcAddress] function.", 0),
              0u);
  }
  EXPECT_TRUE(codec.Unload());
  EXPECT_EQ(codec.Module(), nullptr);
  EXPECT_EQ(codec.LoadEntry(), nullptr);
  EXPECT_TRUE(ui_.texts.empty());  // the codec is optional: never a message
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodecEntries,
    ::testing::Values(
        CodecCase{"PresentationBindsTheSaveEntry", &kPresentation, COutsideCodecLibrary::Entries::LoadSaveInfo, 1,
                  true, true},
        CodecCase{"PresentationRefusesACodecThatCannotSave", &kPresentation,
                  COutsideCodecLibrary::Entries::LoadSaveInfo, 2, false, false},
        CodecCase{"MovieLeavesTheSaveEntry", &kMovie, COutsideCodecLibrary::Entries::LoadInfo, 1, true, false},
        CodecCase{"MovieTakesACodecThatCannotSave", &kMovie, COutsideCodecLibrary::Entries::LoadInfo, 2, true,
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
