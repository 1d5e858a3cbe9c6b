// Replies no camera of this kind sends: lengths and counts past what the
// request can be, responses cut short, listings that never end. Each fails
// the request with a device error, leaves no block behind and resets.
#include <fstream>

#include "Class/Request.h"
#include "DriverFixture.h"

namespace fotavi::test {
namespace {

class RefusedReplyTest : public OpenedDriverTest {
 protected:
  // Runs one request as the card tools do: with a path for the card commands.
  BOOL Run(WORD code, DWORD* err, CRequestParam* p) {
    p->m_dwCommand = code;
    p->m_pCommand = new DEVICE_CMD(FotaviMakeCommand(code));
    if (code != FOTAVI_CMD_GET_JPEG && code != FOTAVI_CMD_SD_ROOTLIST && code != FOTAVI_CMD_SD_STATUS) {
      p->m_pPath = new char[FOTAVI_PATH_BUFFER_SIZE]();
      const char* path = code == FOTAVI_CMD_SD_FOLDERLIST ? "C:\\DCIM\\100TEST" : "C:\\DCIM\\100TEST\\IMAG0001.JPG";
      std::strncpy(p->m_pPath, path, FOTAVI_PATH_MAX_CHARS);
    }
    return device_->bRequest(p, err);
  }
  void Finish(CRequestParam* p) {
    if (p->m_hReplyData) GlobalFree(p->m_hReplyData);
    p->m_hReplyData = nullptr;
    if (p->m_pReply) PostThreadMessage(p->m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(p->m_pReply));
    p->m_pReply = nullptr;
  }
  size_t Resets() { return LogLines({"\"code\":\"0x222000\""}).size(); }
  void WriteCardFile(size_t bytes) {
    MakeFolders(cardDir_ + "/DCIM/100TEST");
    std::ofstream f(cardDir_ + "/DCIM/100TEST/IMAG0001.JPG", std::ios::binary);
    f << std::string(bytes, 'x');
  }
};

struct Claim {
  const char* name;
  WORD code;
  DWORD value;  // what the reply announces (and then does not send)
};

class ClaimTest : public RefusedReplyTest, public ::testing::WithParamInterface<Claim> {};

TEST_P(ClaimTest, FailsWithADeviceErrorBeforeAnythingIsAllocated) {
  MakeFolders(cardDir_ + "/DCIM/100TEST");
  const size_t resetsBefore = Resets();
  Command("claim " + std::to_string(GetParam().code) + " " + std::to_string(GetParam().value));
  CRequestParam p;
  DWORD err = 0;
  EXPECT_FALSE(Run(GetParam().code, &err, &p));
  // A claim the library believed would wait for data that never comes and
  // fail by the transfer's time limit instead.
  EXPECT_EQ(err, ERR_FOTAVI_READFAILUER) << std::hex << err;
  EXPECT_EQ(p.m_hReplyData, nullptr);
  Finish(&p);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
  EXPECT_EQ(Resets(), resetsBefore + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ClaimTest,
    ::testing::Values(Claim{"FrameOf4GB", FOTAVI_CMD_GET_JPEG, 0xD900D8D9u},
                      Claim{"FrameOneOverItsBound", FOTAVI_CMD_GET_JPEG, FOTAVI_MAX_FRAME_LENGTH + 1},
                      Claim{"RootListOf100MEntries", FOTAVI_CMD_SD_ROOTLIST, 100000000u},
                      Claim{"RootListOneOverItsBound", FOTAVI_CMD_SD_ROOTLIST, FOTAVI_MAX_LIST_ENTRIES + 1},
                      Claim{"FolderListOf100MEntries", FOTAVI_CMD_SD_FOLDERLIST, 100000000u},
                      Claim{"FolderListOverOnePortion", FOTAVI_CMD_SD_FOLDERLIST, FOTAVI_FOLDER_PORTION + 1},
                      Claim{"FileOf4GB", FOTAVI_CMD_SD_READFILE, 0xFFFFFFF0u},
                      Claim{"FileOf2MiB", FOTAVI_CMD_SD_READFILE, 0x200000u},
                      Claim{"PlaylistOf4GB", FOTAVI_CMD_SD_READPLAYLIST, 0xE0000000u}),
    [](const ::testing::TestParamInfo<Claim>& i) { return std::string(i.param.name); });

struct FileSize {
  const char* name;
  size_t bytes;
  bool read;
};

class CardFileSizeTest : public RefusedReplyTest, public ::testing::WithParamInterface<FileSize> {};

TEST_P(CardFileSizeTest, FilesBelowTheCardTransferLimitAreReadAndLargerOnesRefused) {
  WriteCardFile(GetParam().bytes);
  CRequestParam p;
  DWORD err = 0;
  EXPECT_EQ(Run(FOTAVI_CMD_SD_READFILE, &err, &p), GetParam().read ? TRUE : FALSE) << std::hex << err;
  if (GetParam().read) {
    EXPECT_EQ(GlobalSize(p.m_hReplyData), GetParam().bytes);
  } else {
    EXPECT_EQ(err, ERR_FOTAVI_READFAILUER) << std::hex << err;
  }
  Finish(&p);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CardFileSizeTest,
                         ::testing::Values(FileSize{"JustBelow2MiB", 0x200000 - 1, true},
                                           FileSize{"Of2MiB", 0x200000, false}),
                         [](const ::testing::TestParamInfo<FileSize>& i) { return std::string(i.param.name); });

TEST_F(RefusedReplyTest, AFolderListingThatComesFullForEverEndsAtWhatACardFolderHolds) {
  MakeFolders(cardDir_ + "/DCIM/100TEST");
  Command("full-list always");
  CRequestParam p;
  DWORD err = 0;
  EXPECT_FALSE(Run(FOTAVI_CMD_SD_FOLDERLIST, &err, &p));
  EXPECT_EQ(err, ERR_FOTAVI_READFAILUER) << std::hex << err;
  EXPECT_EQ(p.m_hReplyData, nullptr);
  Finish(&p);
  EXPECT_EQ(LogLines({"\"dir\":\"in\"", "\"first\":"}).size(), FOTAVI_MAX_LIST_ENTRIES / FOTAVI_FOLDER_PORTION);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
  Command("clear");
}

struct CutResponse {
  const char* name;
  WORD code;
  DWORD bytes;
};

class CutResponseTest : public RefusedReplyTest, public ::testing::WithParamInterface<CutResponse> {};

TEST_P(CutResponseTest, FailsWithAReadErrorInsteadOfReadingAsStatusZero) {
  const size_t resetsBefore = Resets();
  Command("short-response " + std::to_string(GetParam().code) + " " + std::to_string(GetParam().bytes));
  CRequestParam p;
  DWORD err = 0;
  EXPECT_FALSE(Run(GetParam().code, &err, &p));
  EXPECT_EQ(err, ERR_FOTAVI_READFAILUER) << std::hex << err;
  Finish(&p);
  EXPECT_EQ(Resets(), resetsBefore + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, CutResponseTest,
    ::testing::Values(CutResponse{"CardStatusOfFourBytes", FOTAVI_CMD_SD_STATUS, 4},
                      CutResponse{"CardStatusWithoutItsStatusWord", FOTAVI_CMD_SD_STATUS, 12},
                      CutResponse{"CardStatusOneByteShort", FOTAVI_CMD_SD_STATUS, 19},
                      CutResponse{"FrameWithoutItsLength", FOTAVI_CMD_GET_JPEG, 12},
                      CutResponse{"RootListWithoutItsCount", FOTAVI_CMD_SD_ROOTLIST, 16}),
    [](const ::testing::TestParamInfo<CutResponse>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace fotavi::test
