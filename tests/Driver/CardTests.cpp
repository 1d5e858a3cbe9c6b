// Card and remote-control commands of the command table.
#include <fstream>
#include <regex>

#include "DriverFixture.h"

namespace fotavi::test {
namespace {

class CardTest : public OpenedDriverTest {
 protected:
  // Runs a request-object request with a card path and optional data.
  BOOL Run(WORD code, const std::string& path, const std::vector<BYTE>& data, CRequestParam* p, DWORD* err) {
    p->m_dwCommand = code;
    p->m_pCommand = new DEVICE_CMD(FotaviMakeCommand(code));
    p->m_pPath = new char[FOTAVI_PATH_BUFFER_SIZE]();
    std::strncpy(p->m_pPath, path.c_str(), FOTAVI_PATH_MAX_CHARS);
    p->m_dwDataLength = static_cast<DWORD>(data.size());
    p->m_pData = data.empty() ? nullptr : data.data();
    return device_->bRequest(p, err);
  }
  void HandBackReply(CRequestParam* p) {
    PostThreadMessage(p->m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(p->m_pReply));
    p->m_pReply = nullptr;
  }
  // Data packets (type 2) the camera received for a sequence.
  size_t DataPacketsIn(WORD seq) { return LogLines({"\"dir\":\"in\",\"type\":2,\"seq\":" + std::to_string(seq) + ","}).size(); }
  void MakeCardFolder(const std::string& rel) { MakeFolders(cardDir_ + "/" + rel); }
};

// Remote-control commands and the status-only card commands.
struct SimpleCommand {
  WORD code;
  DWORD param;
};

class SimpleCommandTest : public CardTest, public ::testing::WithParamInterface<SimpleCommand> {};

TEST_P(SimpleCommandTest, SyncAndAsyncRunTheCommandWithItsParameter) {
  DEVICE_CMD cmd = FotaviMakeCommand(GetParam().code, GetParam().param);
  HGLOBAL h = reinterpret_cast<HGLOBAL>(1);
  DWORD size = 1, err = 0;
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(size, 0u);
  WORD seq = 0;
  ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &seq, &err));
  ASSERT_TRUE(PumpUntil([&] { return !ReceivedOf(WM_FOTAVI_REQUEST).empty(); }));
  const Received r = ReceivedOf(WM_FOTAVI_REQUEST)[0];
  auto* rsp = reinterpret_cast<DEVICE_RSP*>(r.lParam);
  ASSERT_NE(rsp, nullptr);
  EXPECT_TRUE(rsp->bResult);
  EXPECT_EQ(rsp->wSequence, seq);
  EXPECT_EQ(rsp->wCommand, GetParam().code);
  EXPECT_EQ(rsp->pData, nullptr);
  HandBack(r);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", GetParam().code);
  EXPECT_EQ(LogLines({"\"cmd\":\"" + std::string(hex) + "\",\"param\":" + std::to_string(GetParam().param)}).size(),
            2u);
}

INSTANTIATE_TEST_SUITE_P(CommandTable, SimpleCommandTest,
                         ::testing::Values(SimpleCommand{0xE0, 3}, SimpleCommand{0xE1, 0x12345678},
                                           SimpleCommand{0xE2, 1}, SimpleCommand{0xEA, 2}, SimpleCommand{0xFA, 7},
                                           SimpleCommand{0x201, 0}, SimpleCommand{0x207, 0},
                                           SimpleCommand{0x20E, 0}, SimpleCommand{0x8101, 0},
                                           SimpleCommand{0x108, 0}),
                         [](const ::testing::TestParamInfo<SimpleCommand>& i) {
                           char b[16];
                           std::snprintf(b, sizeof b, "Code%X", i.param.code);
                           return std::string(b);
                         });

TEST_F(CardTest, RootListOfACardWithoutFoldersIsAnEmptyBlock) {
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_ROOTLIST);
  HGLOBAL h = nullptr;
  DWORD size = 1, err = 0;
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
  EXPECT_EQ(size, 0u);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 0u);
  GlobalFree(h);
}

TEST_F(CardTest, RootListHoldsOneEntryPerFolder) {
  MakeCardFolder("DCIM/100AAAAA");
  MakeCardFolder("DCIM/101BBBBB");
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_ROOTLIST);
  HGLOBAL h = nullptr;
  DWORD size = 0, err = 0;
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
  ASSERT_EQ(size, 3 * FOTAVI_ENTRY_SIZE);
  std::vector<BYTE> b = BlockBytes(h);
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[0]), "C:\\DCIM");
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[72]), "C:\\DCIM\\101BBBBB");
  GlobalFree(h);
}

class FolderListTest : public CardTest, public ::testing::WithParamInterface<int> {};

TEST_P(FolderListTest, PortionsOf2048AddUpToTheWholeList) {
  const int n = GetParam();
  MakeCardFolder("DCIM/100TEST");
  for (int i = 0; i < n; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/DCIM/100TEST/IM%06d.JPG", cardDir_.c_str(), i);
    std::ofstream(name).put('x');
  }
  CRequestParam p;
  DWORD err = 0;
  ASSERT_TRUE(Run(FOTAVI_CMD_SD_FOLDERLIST, "C:\\DCIM\\100TEST", {}, &p, &err)) << std::hex << err;
  std::vector<BYTE> b = BlockBytes(p.m_hReplyData);
  ASSERT_EQ(b.size(), 8 + 36u * n);
  DWORD status, count;
  std::memcpy(&status, &b[0], 4);
  std::memcpy(&count, &b[4], 4);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(count, static_cast<DWORD>(n));
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[8 + 36 * (n - 1)]),
               ("C:\\DCIM\\100TEST\\IM" + std::string(6 - std::to_string(n - 1).size(), '0') +
                std::to_string(n - 1) + ".JPG")
                   .c_str());
  std::vector<std::string> firsts;
  std::regex re("\"first\":(\\d+),\"last\":(\\d+)");
  for (const std::string& l : LogLines({"\"first\":"})) {
    std::smatch m;
    if (std::regex_search(l, m, re)) firsts.push_back(std::string(m[1]) + "-" + std::string(m[2]));
  }
  std::vector<std::string> expected;
  for (int f = 0;; f += 2048) {
    expected.push_back(std::to_string(f) + "-" + std::to_string(f + 2047));
    if (n - f < 2048) break;  // a portion that is not full ends the list
  }
  EXPECT_EQ(firsts, expected);
  EXPECT_EQ(p.m_pReply->dwLength, b.size());
  GlobalFree(p.m_hReplyData);
  HandBackReply(&p);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FolderListTest, ::testing::Values(3, 2048, 5000),
    [](const auto& info) { return std::to_string(info.param) + "Entries"; });

TEST_F(CardTest, FolderListStatusOtherThanZeroFailsAndResets) {
  MakeCardFolder("DCIM/100TEST");
  Command("status 0x8105 1 list");
  size_t resetsBefore = LogLines({"\"code\":\"0x222000\""}).size();
  CRequestParam p;
  DWORD err = 0;
  EXPECT_FALSE(Run(FOTAVI_CMD_SD_FOLDERLIST, "C:\\DCIM\\100TEST", {}, &p, &err));
  EXPECT_EQ(err, ERR_FOTAVI_REQUESTRSP);
  EXPECT_EQ(p.m_hReplyData, nullptr);
  EXPECT_EQ(LogLines({"\"code\":\"0x222000\""}).size(), resetsBefore + 1);
  HandBackReply(&p);
}

class FileTransferTest : public CardTest, public ::testing::WithParamInterface<DWORD> {
 protected:
  void SetUp() override {
    maxTransferSize_ = GetParam();
    CardTest::SetUp();
  }
};

TEST_P(FileTransferTest, FileWrittenInManyPacketsReadsBackUnchanged) {
  MakeCardFolder("DCIM/100TEST");
  std::vector<BYTE> data(600000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7 + (i >> 9));
  CRequestParam w;
  DWORD err = 0;
  ASSERT_TRUE(Run(FOTAVI_CMD_SD_WRITEFILE, "C:\\DCIM\\100TEST\\IM000001.JPG", data, &w, &err)) << std::hex << err;
  EXPECT_EQ(w.m_dwStatus, 0u);
  EXPECT_EQ(w.m_hReplyData, nullptr);
  const size_t payload = GetParam() * 1024 - 8;
  EXPECT_EQ(DataPacketsIn(w.m_pReply->wSequence), 1 + (data.size() + 12 + payload - 1) / payload)
      << "the path, then the sub-header and data in packets of the transfer size";
  HandBackReply(&w);
  CRequestParam r;
  ASSERT_TRUE(Run(FOTAVI_CMD_SD_READFILE, "C:\\DCIM\\100TEST\\IM000001.JPG", {}, &r, &err)) << std::hex << err;
  EXPECT_EQ(BlockBytes(r.m_hReplyData), data);
  EXPECT_EQ(r.m_pReply->wCommand, FOTAVI_CMD_SD_READFILE);
  GlobalFree(r.m_hReplyData);
  HandBackReply(&r);
}

INSTANTIATE_TEST_SUITE_P(TransferSizes, FileTransferTest, ::testing::Values(16u, 64u, 256u),
                         [](const ::testing::TestParamInfo<DWORD>& i) { return std::to_string(i.param) + "KiB"; });

TEST_F(CardTest, FileThatFitsTheFirstPacketTakesOneRead) {
  MakeCardFolder("DCIM/100TEST");
  std::ofstream(cardDir_ + "/DCIM/100TEST/SMALL.TXT") << "hello";
  CRequestParam r;
  DWORD err = 0;
  ASSERT_TRUE(Run(FOTAVI_CMD_SD_READFILE, "C:\\DCIM\\100TEST\\SMALL.TXT", {}, &r, &err)) << std::hex << err;
  std::vector<BYTE> b = BlockBytes(r.m_hReplyData);
  EXPECT_EQ(std::string(b.begin(), b.end()), "hello");
  GlobalFree(r.m_hReplyData);
  HandBackReply(&r);
}

TEST_F(CardTest, FileWriteRefusedAtFirstStatusSendsNoData) {
  MakeCardFolder("DCIM/100TEST");
  Command("status 0x104 5 first");
  CRequestParam w;
  DWORD err = 0;
  ASSERT_TRUE(Run(FOTAVI_CMD_SD_WRITEFILE, "C:\\DCIM\\100TEST\\IM000001.JPG", std::vector<BYTE>(1000, 1), &w, &err));
  EXPECT_EQ(w.m_dwStatus, 5u);
  EXPECT_EQ(DataPacketsIn(w.m_pReply->wSequence), 1u) << "only the path packet reaches the camera";
  HandBackReply(&w);
}

TEST_F(CardTest, PlaylistWriteAtFirstStatus32SendsTheDataAndReportsFinal32AsZero) {
  MakeCardFolder("DCIM");
  Command("status 0x107 32 first");
  Command("status 0x107 32 final");
  CRequestParam w;
  DWORD err = 0;
  ASSERT_TRUE(Run(FOTAVI_CMD_SD_WRITEPLAYLIST, "C:\\DCIM\\PLAYLIST.TXT", std::vector<BYTE>(300, 'a'), &w, &err));
  EXPECT_EQ(w.m_dwStatus, 0u);
  EXPECT_EQ(DataPacketsIn(w.m_pReply->wSequence), 2u) << "path and one data packet";
  HandBackReply(&w);
}

struct StatusCase {
  const char* name;
  WORD code;
  const char* path;
  DWORD status;
};

class FolderCommandTest : public CardTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(FolderCommandTest, ReportsTheCamerasStatus) {
  MakeCardFolder("DCIM/100OLD");
  CRequestParam p;
  DWORD err = 0;
  ASSERT_TRUE(Run(GetParam().code, GetParam().path, {}, &p, &err)) << std::hex << err;
  EXPECT_EQ(p.m_dwStatus, GetParam().status);
  EXPECT_EQ(p.m_pReply->dwStatus, GetParam().status);
  HandBackReply(&p);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FolderCommandTest,
    ::testing::Values(StatusCase{"MakeFolder", FOTAVI_CMD_SD_MKDIR, "C:\\DCIM\\100NEW", 0},
                      StatusCase{"MakeExistingFolder", FOTAVI_CMD_SD_MKDIR, "C:\\DCIM\\100OLD", 3},
                      StatusCase{"DeleteFolder", FOTAVI_CMD_SD_DELETE, "C:\\DCIM\\100OLD", 0},
                      StatusCase{"DeleteMissing", FOTAVI_CMD_SD_DELETE, "C:\\DCIM\\999NONE", 2}),
    [](const ::testing::TestParamInfo<StatusCase>& i) { return std::string(i.param.name); });

// A request object that still holds the handle of an earlier reply: a
// request that brings no block leaves the object's handle alone, and its reply
// record must not hand that foreign handle out as its own data block.
struct StaleHandleCase {
  const char* name;
  WORD code;
  const char* path;
  const char* fault;  // emulator command, "" for none
  bool result;
};

class StaleReplyHandleTest : public CardTest, public ::testing::WithParamInterface<StaleHandleCase> {};

TEST_P(StaleReplyHandleTest, ReplyRecordCarriesNoBlockOfAnEarlierReply) {
  MakeCardFolder("DCIM/100OLD");
  if (*GetParam().fault) Command(GetParam().fault);
  HGLOBAL earlier = GlobalAlloc(GHND, 16);
  CRequestParam p;
  p.m_hReplyData = earlier;
  DWORD err = 0;
  EXPECT_EQ(Run(GetParam().code, GetParam().path, {}, &p, &err), GetParam().result ? TRUE : FALSE) << std::hex << err;
  ASSERT_NE(p.m_pReply, nullptr);
  EXPECT_EQ(p.m_pReply->pData, nullptr);
  EXPECT_EQ(p.m_hReplyData, earlier) << "the object's handle is left unchanged";
  HandBackReply(&p);
  GlobalFree(earlier);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, StaleReplyHandleTest,
    ::testing::Values(StaleHandleCase{"MakeFolder", FOTAVI_CMD_SD_MKDIR, "C:\\DCIM\\100NEW", "", true},
                      StaleHandleCase{"FailedFolderList", FOTAVI_CMD_SD_FOLDERLIST, "C:\\DCIM\\100OLD",
                                      "status 0x8105 1 list", false}),
    [](const ::testing::TestParamInfo<StaleHandleCase>& i) { return std::string(i.param.name); });

TEST_F(CardTest, CardCommandsWithoutCardReportNoCard) {
  Command("card off");
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  CRequestParam p;
  p.m_dwCommand = FOTAVI_CMD_SD_STATUS;
  p.m_pCommand = new DEVICE_CMD(cmd);
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequest(&p, &err));
  EXPECT_EQ(p.m_dwStatus, FOTAVI_SD_NOCARD);
  HandBackReply(&p);
}

}  // namespace
}  // namespace fotavi::test
