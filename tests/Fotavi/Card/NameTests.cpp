// DCF names, the card's code page, error entries and the request's path
// buffer: no device needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "AnsiText.h"
#include "DcfNameCheck.h"
#include "TransErrEntry.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "SDAccess.h"

namespace {

struct NameCase {
  const char* name;
  bool valid;
};

// A case's test name: valid or not, the name's letters and digits (any
// other byte as "_"), and the case's index.
std::string NameCaseName(const ::testing::TestParamInfo<NameCase>& info) {
  std::string n;
  for (char c : std::string(info.param.name)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return (info.param.valid ? "Valid_" : "Invalid_") + n + "_" + std::to_string(info.index);
}

class FolderNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FolderNameTest, FollowsTheDcfFolderRule) {
  EXPECT_EQ(CDcfNameCheck().IsFolderName(GetParam().name) != FALSE, GetParam().valid) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FolderNameTest,
    ::testing::Values(NameCase{"100ABCDE", true}, NameCase{"999_____", true}, NameCase{"100abcde", true},
                      NameCase{"1000000A", true}, NameCase{"099ABCDE", false}, NameCase{"000ABCDE", false},
                      NameCase{"10ABCDE", false}, NameCase{"100ABCDEF", false}, NameCase{"1O0ABCDE", false},
                      NameCase{"100AB-DE", false}, NameCase{"100AB DE", false}, NameCase{"", false},
                      // Full-width digits and letters are digits and letters to the locale, not to DCF.
                      NameCase{"\xEF\xBC\x91\xEF\xBC\x90\xEF\xBC\x90" "ABCDE", false},
                      NameCase{"100ABCD\xC3\x89", false}, NameCase{"100ABC\xC3\x89", false}),
    NameCaseName);

class FileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameTest, FollowsTheDcfFileRule) {
  EXPECT_EQ(CDcfNameCheck().IsFileName(GetParam().name) != FALSE, GetParam().valid) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileNameTest,
    ::testing::Values(NameCase{"ABCD0001.JPG", true}, NameCase{"abcd0001.jpg", true}, NameCase{"AB_D9999.Jpg", true},
                      NameCase{"____0001.JPG", true}, NameCase{"ABCD0000.JPG", false}, NameCase{"ABCD001.JPG", false},
                      NameCase{"ABCD0001.JPEG", false}, NameCase{"ABCD0001.JPG.JPG", false},
                      NameCase{"ABCD0001", false}, NameCase{"Img_0001.jpg", true}, NameCase{"Img-0001.jpg", false},
                      NameCase{"ABCDE001.JPG", false}, NameCase{".JPG", false}, NameCase{"", false},
                      NameCase{"ABCD\xEF\xBC\x90" "001.JPG", false}, NameCase{"\xC3\x89" "BCD0001.JPG", false}),
    NameCaseName);

TEST(DcfNameCheckTest, NullNamesFailAndEmptyTextsPassTheCharacterChecks) {
  const CDcfNameCheck check;
  EXPECT_FALSE(check.IsFolderName(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(check.IsFileName(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(check.IsDigits(""));
  EXPECT_TRUE(check.IsAlnumOrUnderscore(""));
  EXPECT_FALSE(check.IsDigits("\xD9\xA3"));  // Arabic-Indic digit three
}

TEST(AnsiTextTest, EncodesWindows1252AndRefusesWhatItCannotCarry) {
  std::string out = "untouched";
  EXPECT_TRUE(Utf8ToAnsi("C:\\DCIM\\caf\xC3\xA9\xE2\x82\xAC", &out));
  EXPECT_EQ(out, "C:\\DCIM\\caf\xE9\x80");
  EXPECT_EQ(AnsiToUtf8(out.c_str(), 36), "C:\\DCIM\\caf\xC3\xA9\xE2\x82\xAC");
  out = "untouched";
  EXPECT_FALSE(Utf8ToAnsi("C:\\\xE6\x97\xA5", &out));  // a CJK character: refused, not replaced
  EXPECT_EQ(out, "untouched");
  EXPECT_FALSE(Utf8ToAnsi("C:\\\xC3", &out));  // cut UTF-8
  EXPECT_FALSE(Utf8ToAnsi("\xC0\xAF", &out));  // over-long form
}

TEST(AnsiTextTest, ReadsAnEntryOnlyWithinItsBytes) {
  char entry[40];
  std::memset(entry, 'A', sizeof entry);
  EXPECT_EQ(AnsiToUtf8(entry, 36), std::string(36, 'A'));
}

TEST(RequestPathTest, PathsUpTo32BytesAreSentAndLongerOnesRefused) {
  CSDRequest request;
  const std::string path32 = "C:\\DCIM\\100ABCDE\\XY\\ABCD0001.JPG";
  ASSERT_EQ(path32.size(), 32u);
  ASSERT_TRUE(request.SetPath(path32));
  const char* buffer = request.Param()->m_pPath;
  EXPECT_EQ(std::memcmp(buffer, path32.data(), 32), 0);
  for (int i = 32; i < 36; ++i) EXPECT_EQ(buffer[i], 0) << i;

  EXPECT_FALSE(request.SetPath(path32 + "X"));
  for (int i = 0; i < 36; ++i) EXPECT_EQ(request.Param()->m_pPath[i], 0) << i;
  // 31 characters of which one takes two UTF-8 bytes: 31 bytes on the wire.
  EXPECT_TRUE(request.SetPath("C:\\DCIM\\100ABCDE\\X\\ABCD0001.JP\xC3\x89"));
  EXPECT_EQ(static_cast<unsigned char>(request.Param()->m_pPath[30]), 0xC9);
  EXPECT_FALSE(request.SetPath("C:\\\xE6\x97\xA5"));
}

TEST(RequestPathTest, CommandBlockHoldsOnlyTheCode) {
  CSDRequest request;
  request.SetCommand(0x8105);
  const auto* bytes = reinterpret_cast<const unsigned char*>(request.Param()->m_pCommand);
  EXPECT_EQ(bytes[0], 0x05);
  EXPECT_EQ(bytes[1], 0x81);
  for (int i = 2; i < 24; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(request.ReleaseReply(), 0);  // no reply attached
  EXPECT_EQ(request.GetData(), nullptr);
}

TEST(TransErrEntryTest, EntriesKeepOrderAndCutTextsAt259Characters) {
  const size_t before = GlobalBlockCount();
  CErrorList list;
  ASSERT_TRUE(AddTransErrEntry("Operation was canceled.", "ABCD0001.JPG", &list));
  ASSERT_TRUE(AddTransErrEntry("Unable to open file. ", "ABCD0001.JPG", &list));
  ASSERT_TRUE(AddTransErrEntry(std::string(300, 'm'), "\xC3\xA9t\xC3\xA9.jpg", &list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(GlobalSize(list[0]), 1040u);
  EXPECT_EQ(TransErrFileName(list[1]), "ABCD0001.JPG");
  EXPECT_EQ(TransErrMessage(list[1]), "Unable to open file. ");
  EXPECT_EQ(TransErrMessage(list[2]), std::string(259, 'm'));
  EXPECT_EQ(TransErrFileName(list[2]), "\xC3\xA9t\xC3\xA9.jpg");
  // The message field starts at byte 520.
  const auto* raw = static_cast<const char16_t*>(GlobalLock(list[0]));
  EXPECT_EQ(raw[260], u'O');
  GlobalUnlock(list[0]);
  FreeTransErrList(&list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(GlobalBlockCount(), before);
}

// Every synchronous operation without a device interface fails with no reply.
TEST(SDAccessTest, WithoutDeviceEveryOperationFailsWithNoReply) {
  CSDAccess access(nullptr);
  auto noReply = [&] { EXPECT_EQ(access.GetLastStatus(), FOTAVI_STATUS_NORESPONSE); };
  EXPECT_FALSE(access.SD_GetStatus());
  noReply();
  EXPECT_EQ(access.SD_GetFolderList(), nullptr);
  noReply();
  EXPECT_EQ(access.SD_GetFileList("C:\\DCIM\\100ABCDE"), nullptr);
  noReply();
  EXPECT_EQ(access.SD_GetJpegFile("C:\\DCIM\\100ABCDE\\ABCD0001.JPG"), nullptr);
  noReply();
  EXPECT_EQ(access.SD_GetPlayList(), nullptr);
  noReply();
  EXPECT_EQ(access.SD_SetJpegFile("C:\\DCIM\\A.JPG", "x", 1), FOTAVI_STATUS_NORESPONSE);
  EXPECT_FALSE(access.SD_CreateFolder("C:\\DCIM\\100ABCDE"));
  noReply();
  EXPECT_FALSE(access.SD_DeleteFolder("C:\\DCIM\\100ABCDE"));
  EXPECT_FALSE(access.SD_DeleteFolder(nullptr));
  EXPECT_FALSE(access.SD_SetPlayList("1", 1));
  noReply();
  EXPECT_FALSE(access.SD_EndTransfer());
  EXPECT_FALSE(access.SD_GetJpegFileAsync("C:\\DCIM\\100ABCDE\\ABCD0001.JPG"));
  std::string root = "C:\\DCIM";
  access.SD_GetRootFolder(&root);
  EXPECT_EQ(root, "C:\\DCIM");
}

}  // namespace

// ------------------------------------------------------------ reply decoding

namespace {

// A device that answers every synchronous request with a scripted reply
// block and counts the records handed back.
class ScriptedDevice : public CDeviceInterface {
 public:
  BOOL bSetNotifyWindow(HWND) override { return TRUE; }
  DWORD bIsConnected() override { return 1; }
  BOOL bOpen(HWND, DWORD* e) override { return No(e); }
  BOOL bClose(DWORD* e) override { return No(e); }
  BOOL bIoctlAsync(HWND, DWORD, const void*, DWORD, WORD*, DWORD* e) override { return No(e); }
  BOOL bIoctl(DWORD, void*, DWORD, DWORD*, WORD*, DWORD* e) override { return No(e); }
  BOOL bReadAsync(HWND, void*, DWORD, WORD*, DWORD* e) override { return No(e); }
  BOOL bRead(void*, DWORD, DWORD*, WORD*, DWORD* e) override { return No(e); }
  BOOL bWriteAsync(HWND, const void*, DWORD, WORD*, DWORD* e) override { return No(e); }
  BOOL bWrite(const void*, DWORD, DWORD*, WORD*, DWORD* e) override { return No(e); }
  BOOL bRequestAsync(HWND, CRequestParam*, WORD*, DWORD* e) override { return No(e); }
  BOOL bRequestAsync(HWND, const DEVICE_CMD*, WORD*, DWORD* e) override { return No(e); }
  BOOL bRequest(const DEVICE_CMD*, HGLOBAL*, DWORD*, DWORD* e) override { return No(e); }
  BOOL bRequest(CRequestParam* p, DWORD* e) override {
    *e = 0;
    HGLOBAL block = nullptr;
    if (!bytes.empty() || emptyBlock) {
      block = GlobalAlloc(GHND, bytes.size());
      std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
      GlobalUnlock(block);
    }
    auto* rsp = new DEVICE_RSP{};
    rsp->bResult = TRUE;
    rsp->wCommand = static_cast<WORD>(p->m_dwCommand);
    rsp->dwStatus = status;
    rsp->dwLength = static_cast<DWORD>(bytes.size());
    rsp->pData = block;
    p->m_dwStatus = status;
    p->m_hReplyData = block;
    p->m_pReply = rsp;
    p->m_dwReleaseThread = GetCurrentThreadId();
    lent.push_back(rsp);
    return TRUE;
  }
  // Takes the handed-back records off the calling thread's queue.
  size_t TakeBack() {
    size_t n = 0;
    MSG msg;
    while (PeekMessage(&msg)) {
      if (msg.message != WM_FOTAVI_RELASERSP) continue;
      auto* rsp = reinterpret_cast<DEVICE_RSP*>(msg.lParam);
      auto it = std::find(lent.begin(), lent.end(), rsp);
      if (it == lent.end()) continue;
      lent.erase(it);
      delete rsp;
      ++n;
    }
    return n;
  }
  std::string bytes;
  bool emptyBlock = false;
  DWORD status = 0;
  std::vector<DEVICE_RSP*> lent;

 private:
  static BOOL No(DWORD* e) {
    if (e) *e = ERR_FOTAVI_REQUEST;
    return FALSE;
  }
};

std::string Entry(const std::string& text, char fill = '\0') {
  std::string e = text;
  e.resize(36, fill);
  return e;
}

}  // namespace

TEST(ReplyDecodingTest, RootListTakesOnlyWholeEntriesEachWithinItsBytes) {
  const size_t before = GlobalBlockCount();
  ScriptedDevice device;
  // Two whole entries, the second without any zero, then 20 stray bytes.
  device.bytes = Entry("C:\\DCIM") + Entry("C:\\DCIM\\100ABCDE", 'X') + std::string(20, 'Z');
  {
    CSDAccess access(&device);
    const auto* list = access.SD_GetFolderList();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0], "C:\\DCIM");
    EXPECT_EQ((*list)[1], "C:\\DCIM\\100ABCDE" + std::string(36 - 16, 'X'));
  }
  EXPECT_EQ(device.TakeBack(), 1u);
  EXPECT_EQ(GlobalBlockCount(), before);  // the reply's block is gone
}

TEST(ReplyDecodingTest, FileListCountNeverReadsPastTheBlock) {
  const size_t before = GlobalBlockCount();
  ScriptedDevice device;
  DWORD header[2] = {0, 1000};  // claims 1000 entries
  device.bytes.assign(reinterpret_cast<const char*>(header), sizeof header);
  device.bytes += Entry("C:\\DCIM\\100ABCDE\\ABCD0001.JPG") + std::string(10, 'Z');
  {
    CSDAccess access(&device);
    const auto* list = access.SD_GetFileList("C:\\DCIM\\100ABCDE");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, std::vector<std::string>{"C:\\DCIM\\100ABCDE\\ABCD0001.JPG"});
  }
  EXPECT_EQ(device.TakeBack(), 1u);
  EXPECT_EQ(GlobalBlockCount(), before);
}

TEST(ReplyDecodingTest, EveryReplyBlockIsFreedWhateverTheStatus) {
  const size_t before = GlobalBlockCount();
  ScriptedDevice device;
  device.bytes = "file bytes that come with a refusal";
  device.status = 4;
  {
    CSDAccess access(&device);
    EXPECT_EQ(access.SD_GetJpegFile("C:\\DCIM\\100ABCDE\\ABCD0001.JPG"), nullptr);
    EXPECT_EQ(access.GetLastStatus(), 4u);
    EXPECT_EQ(access.SD_GetFolderList(), nullptr);
    EXPECT_EQ(access.SD_GetPlayList(), nullptr);
  }
  EXPECT_EQ(device.TakeBack(), 3u);
  EXPECT_EQ(GlobalBlockCount(), before);
  // A status-0 read of length 0 is an empty file, not a failure.
  device.bytes.clear();
  device.emptyBlock = true;
  device.status = 0;
  {
    CSDAccess access(&device);
    const SD_DATA* data = access.SD_GetJpegFile("C:\\DCIM\\100ABCDE\\ABCD0001.JPG");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->dwLength, 0u);
  }
  EXPECT_EQ(device.TakeBack(), 1u);
  EXPECT_EQ(GlobalBlockCount(), before);
}
