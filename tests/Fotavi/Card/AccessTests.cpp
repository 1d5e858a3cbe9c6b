// The card access service and the transfer against the camera emulator,
// checked on the card folder and in the emulator's exchange log.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "CardFixture.h"
#include "CardLimits.h"
#include "FileTransfer.h"
#include "SDAccess.h"

namespace fotavi::test {
namespace {

using AccessTest = CardFixture;

TEST_F(AccessTest, RootFolderTakesTheCardsLetterCaseOnlyForADcimRoot) {
  MakeCardFolder("dcim/100ABCDE");
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  struct Case {
    std::string before, after;
  } cases[] = {
      {"C:\\DCIM", "C:\\dcim"},
      {"", "C:\\dcim"},
      {"C:\\DcIm\\rest", "C:\\dcim\\rest"},
      {"C:\\PICTURES", "C:\\PICTURES"},  // another root is never garbled
      {"C:\\DC", "C:\\DC"},
  };
  for (const Case& c : cases) {
    std::string buffer = c.before;
    access.SD_GetRootFolder(&buffer);
    EXPECT_EQ(buffer, c.after) << c.before;
  }
}

TEST_F(AccessTest, ListingsGiveFullCardPathsAndAnEmptyCardNoList) {
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  EXPECT_EQ(access.SD_GetFolderList(), nullptr);  // no DCIM folder at all
  EXPECT_EQ(access.GetLastStatus(), 0u);
  MakeCardFolder("DCIM/100ABCDE");
  MakeCardFolder("DCIM/101FOTAV");
  PutCardFile("DCIM/100ABCDE/ABCD0001.JPG", "one");
  const auto* folders = access.SD_GetFolderList();
  ASSERT_NE(folders, nullptr);
  EXPECT_EQ(*folders, (std::vector<std::string>{"C:\\DCIM", "C:\\DCIM\\100ABCDE", "C:\\DCIM\\101FOTAV"}));
  access.FreeAll();
  const auto* files = access.SD_GetFileList("C:\\DCIM\\100ABCDE");
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(*files, (std::vector<std::string>{"C:\\DCIM\\100ABCDE\\ABCD0001.JPG"}));
  access.FreeAll();
  EXPECT_EQ(access.SD_GetFileList("C:\\DCIM\\101FOTAV"), nullptr);
  EXPECT_EQ(access.GetLastStatus(), 0u);
  EXPECT_EQ(access.SD_GetFileList("C:\\DCIM\\102NONE_"), nullptr);
  EXPECT_NE(access.GetLastStatus(), 0u);
}

TEST_F(AccessTest, ReadCreateDeleteAndAllBlocksComeBack) {
  MakeCardFolder("DCIM/100ABCDE");
  const std::string picture = MakeJpeg(320, 240, 1);
  PutCardFile("DCIM/100ABCDE/ABCD0001.JPG", picture);
  ASSERT_TRUE(StartCamera());
  {
    CSDAccess access(device_);
    EXPECT_TRUE(access.SD_GetStatus());
    const SD_DATA* data = access.SD_GetJpegFile("C:\\DCIM\\100ABCDE\\ABCD0001.JPG");
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->dwLength, picture.size());
    const char* p = static_cast<const char*>(GlobalLock(data->hData));
    EXPECT_EQ(std::string(p, data->dwLength), picture);
    GlobalUnlock(data->hData);
    access.FreeAll();
    EXPECT_TRUE(access.SD_CreateFolder("C:\\DCIM\\101NEW__"));
    EXPECT_TRUE(CardFileExists("DCIM/101NEW__"));
    EXPECT_FALSE(access.SD_CreateFolder("C:\\DCIM\\101NEW__"));  // exists: status 3
    EXPECT_EQ(access.GetLastStatus(), 3u);
    EXPECT_TRUE(access.SD_DeleteFolder("C:\\DCIM\\101NEW__"));
    EXPECT_FALSE(CardFileExists("DCIM/101NEW__"));
    EXPECT_TRUE(access.SD_EndTransfer());
    EXPECT_EQ(access.GetLastStatus(), FOTAVI_STATUS_NORESPONSE);
  }
  EXPECT_EQ(CommandsIn("0x108"), 1u);
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(AccessTest, WithoutCardTheStatusSaysSo) {
  ASSERT_TRUE(StartCamera(false));
  CSDAccess access(device_);
  EXPECT_FALSE(access.SD_GetStatus());
  EXPECT_EQ(access.GetLastStatus(), FOTAVI_SD_NOCARD);
  EXPECT_EQ(access.SD_GetFolderList(), nullptr);
  EXPECT_EQ(access.GetLastStatus(), FOTAVI_SD_NOCARD);
}

TEST_F(AccessTest, APathTooLongOrNotEncodableIsNeverSent) {
  MakeCardFolder("DCIM/100ABCDE");
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  EXPECT_EQ(access.SD_SetJpegFile("C:\\DCIM\\100ABCDE\\XYZ\\ABCD0001.JPG", "data", 4), FOTAVI_STATUS_NORESPONSE);
  EXPECT_EQ(access.SD_SetJpegFile("C:\\DCIM\\100ABCDE\\\xE6\x97\xA5.JPG", "data", 4), FOTAVI_STATUS_NORESPONSE);
  EXPECT_EQ(access.SD_SetJpegFile("", "data", 4), FOTAVI_STATUS_NORESPONSE);
  EXPECT_FALSE(access.SD_CreateFolder("C:\\DCIM\\100ABCDE\\0123456789ABCDEF"));
  EXPECT_EQ(CommandsIn("0x104"), 0u);
  EXPECT_EQ(CommandsIn("0x106"), 0u);
}

TEST_F(AccessTest, CardTextIsWindows1252OnTheWireAndUtf8InTheProgram) {
  MakeCardFolder("DCIM/100\xC3\x89T\xC3\x89_");   // "100ÉTÉ_": a host name in UTF-8
  MakeCardFolder("DCIM/101\xE6\x97\xA5\xE6\x9C\xAC");  // CJK: no card name for it
  ASSERT_TRUE(StartCamera());
  CSDAccess access(device_);
  const auto* folders = access.SD_GetFolderList();
  ASSERT_NE(folders, nullptr);
  EXPECT_EQ(*folders, (std::vector<std::string>{"C:\\DCIM", "C:\\DCIM\\100\xC3\x89T\xC3\x89_"}));
  access.FreeAll();
  EXPECT_TRUE(access.SD_CreateFolder("C:\\DCIM\\102\xE2\x82\xAC"));  // the euro sign is 0x80 on the wire
  EXPECT_TRUE(CardFileExists("DCIM/102\xE2\x82\xAC"));
  EXPECT_FALSE(access.SD_CreateFolder("C:\\DCIM\\103\xE6\x97\xA5"));  // refused, never replaced
  EXPECT_FALSE(CardFileExists("DCIM/103?"));
}

// ------------------------------------------------------------ transfer

class TransferTest : public CardFixture {
 protected:
  void SetUp() override {
    CardFixture::SetUp();
    MakeCardFolder("DCIM/100ABCDE");
    src_ = MakeSourceFolder("pictures");
  }
  void PutSource(const std::string& name, const std::string& data) { WriteBytes(src_ + "/" + name, data); }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (HGLOBAL e : errors_) out.push_back(TransErrFileName(e) + ": " + TransErrMessage(e));
    return out;
  }
  void TearDown() override {
    FreeTransErrList(&errors_);
    CardFixture::TearDown();
  }
  std::string src_;
  CErrorList errors_;
};

TEST_F(TransferTest, OnlyDcfNamedJpegFilesAreSent) {
  PutSource("Img-0001.jpg", "bad name");
  PutSource("ABCD0001.JPG", "picture one");
  PutSource("abcd0002.jpeg", "wrong extension");
  PutSource("ABCD0003.JPG.txt", "not a picture");
  MakeFolders(src_ + "/100ABCDE");
  MakeFolders(src_ + "/ABCD0004.JPG");  // a folder with a picture's name
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  EXPECT_EQ(transfer.Names(), std::vector<std::string>{"ABCD0001.JPG"});
  EXPECT_EQ(transfer.Run({}, &errors_), 1u);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(CardFile("DCIM/100ABCDE/ABCD0001.JPG"), "picture one");
  EXPECT_EQ(CommandsIn("0x104"), 1u);
  EXPECT_EQ(CommandsIn("0x108"), 1u);
}

TEST_F(TransferTest, ADuplicateNameIsRefusedBeforeAnythingIsSent) {
  PutCardFile("DCIM/100ABCDE/abcd0001.jpg", "on the card");
  PutSource("ABCD0001.JPG", "new");
  PutSource("ABCD0002.JPG", "other");
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  EXPECT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_DUPLICATE);
  EXPECT_EQ(CommandsIn("0x104"), 0u);
  EXPECT_EQ(CommandsIn("0x108"), 0u);
  EXPECT_EQ(CardFile("DCIM/100ABCDE/abcd0001.jpg"), "on the card");
}

TEST_F(TransferTest, NothingToSendAndNoCardEndBeforeTheLoop) {
  PutSource("notdcf.jpg", "x");
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  EXPECT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_NO_FILES);
  PutSource("ABCD0001.JPG", "x");
  Command("status 0x8105 1 response");
  EXPECT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_NO_CARD);
  // Without a card the camera refuses the listing itself, which the library
  // reports as a failed request: no reply, an access error.
  Command("card off");
  EXPECT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_ACCESS_ERROR);
  Command("card on");
  Command("status 0x8105 4 list");
  EXPECT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_ACCESS_ERROR);
  EXPECT_EQ(CommandsIn("0x104"), 0u);
  EXPECT_EQ(CommandsIn("0x108"), 0u);
}

TEST_F(TransferTest, SizeLimitAtTheBoundary) {
  PutSource("ABCD0001.JPG", std::string(CARD_FILE_SIZE_LIMIT - 1, 'a'));
  PutSource("ABCD0002.JPG", std::string(CARD_FILE_SIZE_LIMIT, 'b'));
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  EXPECT_EQ(transfer.Run({}, &errors_), 1u);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ABCD0002.JPG: Unable to transfer image over 2M to SD memory."});
  EXPECT_EQ(CardFile("DCIM/100ABCDE/ABCD0001.JPG").size(), CARD_FILE_SIZE_LIMIT - 1);
  EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/ABCD0002.JPG"));
}

TEST_F(TransferTest, CardPathOf32CharactersIsSentAnd33IsTooLong) {
  MakeCardFolder("DCIM/100ABCDE/XY");
  MakeCardFolder("DCIM/100ABCDE/XYZ");
  PutSource("ABCD0001.JPG", "pic");
  ASSERT_TRUE(StartCamera());
  {
    CFileTransfer transfer(device_);
    ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE\\XY"), CFileTransfer::PREPARE_READY);
    EXPECT_EQ(transfer.Run({}, &errors_), 1u);
    EXPECT_EQ(CardFile("DCIM/100ABCDE/XY/ABCD0001.JPG"), "pic");
  }
  {
    CFileTransfer transfer(device_);
    ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE\\XYZ"), CFileTransfer::PREPARE_READY);
    EXPECT_EQ(transfer.Run({}, &errors_), 0u);
    EXPECT_EQ(Messages(), std::vector<std::string>{"ABCD0001.JPG: The file name is too long."});
  }
  EXPECT_EQ(CommandsIn("0x104"), 1u);
  // The 32-byte path reached the camera whole.
  const auto paths = PathsIn();
  EXPECT_NE(std::find(paths.begin(), paths.end(), "C:\\DCIM\\100ABCDE\\XY\\ABCD0001.JPG"), paths.end());
}

TEST_F(TransferTest, CancelAfterTheFirstOfFiveListsTheRestAndEndsTheBatch) {
  for (int i = 1; i <= 5; ++i) PutSource("ABCD000" + std::to_string(i) + ".JPG", "p" + std::to_string(i));
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  bool running = true;
  std::vector<int> positions;
  CFileTransfer::Hooks hooks;
  hooks.running = [&] { return running; };
  hooks.progress = [&](size_t done, size_t total, int position) {
    EXPECT_EQ(total, 5u);
    positions.push_back(position);
    if (done == 1) running = false;  // the user presses Cancel
  };
  EXPECT_EQ(transfer.Run(hooks, &errors_), 1u);
  EXPECT_EQ(positions, (std::vector<int>{20, 40, 60, 80, 100}));
  ASSERT_EQ(errors_.size(), 4u);
  for (HGLOBAL e : errors_) EXPECT_EQ(TransErrMessage(e), "Operation was canceled.");
  EXPECT_EQ(TransErrFileName(errors_[0]), "ABCD0002.JPG");
  EXPECT_EQ(CommandsIn("0x104"), 1u);
  EXPECT_EQ(CommandsIn("0x108"), 1u);
}

TEST_F(TransferTest, NoCardInTheMiddleStopsTheLoopButEndsTheBatch) {
  for (int i = 1; i <= 4; ++i) PutSource("ABCD000" + std::to_string(i) + ".JPG", "p");
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  int gone = 0;
  CFileTransfer::Hooks hooks;
  hooks.progress = [&](size_t done, size_t, int) {
    if (done == 1) Command("status 0x104 1 first");
  };
  hooks.cardGone = [&] { ++gone; };
  EXPECT_EQ(transfer.Run(hooks, &errors_), 1u);
  EXPECT_EQ(gone, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(CommandsIn("0x104"), 2u);  // the second write answered "no card"; no third
  EXPECT_EQ(CommandsIn("0x108"), 1u);
  // The end of the batch comes after the last write.
  const auto log = ExchangeLog();
  size_t lastWrite = 0, end = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].find("\"dir\":\"in\",\"type\":0,") == std::string::npos) continue;
    if (log[i].find("\"cmd\":\"0x104\"") != std::string::npos) lastWrite = i;
    if (log[i].find("\"cmd\":\"0x108\"") != std::string::npos) end = i;
  }
  EXPECT_GT(end, lastWrite);
}

struct StatusCase {
  const char* fault;
  const char* text;
};

class TransferStatusTest : public TransferTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(TransferStatusTest, AWriteRefusedByTheCameraBecomesItsEntry) {
  PutSource("ABCD0001.JPG", "p1");
  PutSource("ABCD0002.JPG", "p2");
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  Command(GetParam().fault);
  EXPECT_EQ(transfer.Run({}, &errors_), 1u);  // the loop goes on after the failed file
  EXPECT_EQ(Messages(), std::vector<std::string>{std::string("ABCD0001.JPG: ") + GetParam().text});
  EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/ABCD0001.JPG"));
  EXPECT_TRUE(CardFileExists("DCIM/100ABCDE/ABCD0002.JPG"));
  EXPECT_EQ(CommandsIn("0x108"), 1u);
}

// The case's name: the test's name and its printed parameter.
std::string StatusCaseName(const StatusCase& c) {
  std::string n;
  for (char c : std::string(c.fault)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return n;
}
void PrintTo(const StatusCase& c, std::ostream* os) { *os << StatusCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Statuses, TransferStatusTest,
                         ::testing::Values(StatusCase{"status 0x104 8 first", "Unable to read locked image."},
                                           StatusCase{"status 0x104 512 first", "Insufficient capacity of SD memory."},
                                           StatusCase{"status 0x104 512 final", "Insufficient capacity of SD memory."},
                                           StatusCase{"status 0x104 4 final", "Unable to transfer file to SD memory."},
                                           StatusCase{"status 0x104 2 first", "Unable to transfer file to SD memory."},
                                           StatusCase{"drop 0x104", "Unable to transfer file to SD memory."}),
                         [](const auto& info) { return StatusCaseName(info.param); });

TEST_F(TransferTest, AFileThatCannotBeReadBecomesAnEntryNotACardFile) {
  PutSource("ABCD0001.JPG", "secret");
  chmod((src_ + "/ABCD0001.JPG").c_str(), 0);
  PutSource("ABCD0002.JPG", "ok");
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  transfer.Run({}, &errors_);
  if (geteuid() != 0) {
    EXPECT_EQ(Messages(), std::vector<std::string>{"ABCD0001.JPG: Unable to open file. "});
    EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/ABCD0001.JPG"));
  }
  EXPECT_EQ(CardFile("DCIM/100ABCDE/ABCD0002.JPG"), "ok");
}

// A pipe named like a picture would block its opening for as long as no
// writer comes: it is a file that cannot be opened, never a hang.
TEST_F(TransferTest, APipeNamedLikeAPictureIsAnEntryNotAHang) {
  ASSERT_EQ(mkfifo((src_ + "/ABCD0001.JPG").c_str(), 0600), 0);
  PutSource("ABCD0002.JPG", "ok");
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  EXPECT_EQ(transfer.Run({}, &errors_), 1u);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ABCD0001.JPG: Unable to open file. "});
  EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/ABCD0001.JPG"));
  EXPECT_EQ(CardFile("DCIM/100ABCDE/ABCD0002.JPG"), "ok");
}

TEST_F(TransferTest, UnplugDuringATransferFailsEveryRemainingFileWithoutHanging) {
  for (int i = 1; i <= 5; ++i) PutSource("ABCD000" + std::to_string(i) + ".JPG", std::string(200000, 'a' + i));
  ASSERT_TRUE(StartCamera());
  CFileTransfer transfer(device_);
  ASSERT_EQ(transfer.Prepare(src_, "C:\\DCIM\\100ABCDE"), CFileTransfer::PREPARE_READY);
  std::thread unplugger;
  CFileTransfer::Hooks hooks;
  hooks.progress = [&](size_t done, size_t, int) {
    if (done == 1) {
      // The second write is held back by the camera and the cable goes meanwhile.
      Command("delay 0x104 800");
      unplugger = std::thread([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        emulator_->Unplug();
      });
    }
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(transfer.Run(hooks, &errors_), 1u);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  if (unplugger.joinable()) unplugger.join();
  ASSERT_EQ(errors_.size(), 4u);
  for (HGLOBAL e : errors_) EXPECT_EQ(TransErrMessage(e), "Unable to transfer file to SD memory.");
  // Four failures bounded by the library's own limits, never a hang.
  EXPECT_LT(seconds, 60);
  EXPECT_TRUE(CardFileExists("DCIM/100ABCDE/ABCD0001.JPG"));
  EXPECT_FALSE(CardFileExists("DCIM/100ABCDE/ABCD0002.JPG"));
}

}  // namespace
}  // namespace fotavi::test
