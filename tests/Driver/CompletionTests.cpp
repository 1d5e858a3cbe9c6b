// Asynchronous completions, their records and the hand-back rule.
#include "DriverFixture.h"

namespace fotavi::test {
namespace {

class CompletionTest : public OpenedDriverTest {
 protected:
  void SetUp() override {
    logLevel_ = 2;
    OpenedDriverTest::SetUp();
  }
  std::string DeviceLogText() {
    DWORD err;
    device_->bClose(&err);
    ReleaseInterface();  // ends the log thread: every line is written
    return ReadFileText(installDir_ + "/Logs/Device0.log");
  }
};

TEST_F(CompletionTest, BothAsyncFormsDeliverTheFrameInTheRecord) {
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  CRequestParam p;
  p.m_dwCommand = FOTAVI_CMD_GET_JPEG;
  p.m_pCommand = new DEVICE_CMD(cmd);
  WORD seq1 = 0, seq2 = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &seq1, &err));
  ASSERT_TRUE(device_->bRequestAsync(client_, &p, &seq2, &err));
  EXPECT_EQ(p.m_pReply, nullptr) << "the asynchronous form does not write the request object";
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_REQUEST).size() == 2; }));
  std::vector<Received> r = ReceivedOf(WM_FOTAVI_REQUEST);
  for (size_t i = 0; i < 2; ++i) {
    auto* rsp = reinterpret_cast<DEVICE_RSP*>(r[i].lParam);
    ASSERT_NE(rsp, nullptr);
    EXPECT_TRUE(rsp->bResult);
    EXPECT_EQ(rsp->wSequence, i == 0 ? seq1 : seq2) << "completions come in request order";
    EXPECT_EQ(rsp->wCommand, FOTAVI_CMD_GET_JPEG);
    EXPECT_EQ(rsp->dwStatus, 0u);
    HGLOBAL h = static_cast<HGLOBAL>(rsp->pData);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), rsp->dwLength);
    GlobalFree(h);
    HandBack(r[i]);
  }
  EXPECT_NE(r[0].wParam, 0u);
  PumpFor(50);
  EXPECT_EQ(DeviceLogText().find("WM_FOTAVI_RELASERSP error"), std::string::npos);
}

TEST_F(CompletionTest, SecondHandBackOfARecordIsLoggedAndIgnored) {
  DEVICE_CMD cmd = FotaviMakeCommand(0x201);
  WORD seq = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &seq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_REQUEST).size() == 1; }));
  Received r = ReceivedOf(WM_FOTAVI_REQUEST)[0];
  HandBack(r);
  HandBack(r);
  PumpFor(100);
  char expected[64];
  std::snprintf(expected, sizeof expected, "WM_FOTAVI_RELASERSP error(%lx)", static_cast<unsigned long>(r.lParam));
  std::string text = DeviceLogText();
  size_t first = text.find(expected);
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("WM_FOTAVI_RELASERSP error", first + 1), std::string::npos);
}

TEST_F(CompletionTest, ReplyRecordOfTheSyncObjectFormIsFreedByItsHandBack) {
  CRequestParam p;
  p.m_dwCommand = 0x8101;
  p.m_pCommand = new DEVICE_CMD(FotaviMakeCommand(0x8101));
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequest(&p, &err));
  ASSERT_NE(p.m_pReply, nullptr);
  EXPECT_EQ(p.m_pReply->wCommand, 0x8101);
  EXPECT_EQ(p.m_pReply->dwStatus, p.m_dwStatus);
  EXPECT_NE(p.m_dwReleaseThread, 0u);
  PostThreadMessage(p.m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(p.m_pReply));
  PumpFor(50);
  EXPECT_EQ(DeviceLogText().find("WM_FOTAVI_RELASERSP error"), std::string::npos);
}

TEST_F(CompletionTest, FailedRequestCompletesWithItsCodeAndNoBlock) {
  Command("zero-packet 0x808E 1");
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  WORD seq = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &seq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_REQUEST).size() == 1; }));
  auto* rsp = reinterpret_cast<DEVICE_RSP*>(ReceivedOf(WM_FOTAVI_REQUEST)[0].lParam);
  EXPECT_FALSE(rsp->bResult);
  EXPECT_EQ(rsp->dwError, ERR_FOTAVI_READZERO);
  EXPECT_EQ(rsp->pData, nullptr);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
  HandBack(ReceivedOf(WM_FOTAVI_REQUEST)[0]);
  EXPECT_NE(DeviceLogText().find("LOG  \t\t:Return [FALSE]"), std::string::npos);
}

TEST_F(CompletionTest, CompletionForAVanishedWindowDoesNotLeakItsBlock) {
  HWND gone = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "short-lived");
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  Command("delay 0x808E 200");
  WORD seq = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequestAsync(gone, &cmd, &seq, &err));
  DestroyWindow(gone);
  // A synchronous request runs after the asynchronous one has completed.
  HGLOBAL h = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err));
  GlobalFree(h);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(CompletionTest, AsyncPipeOperationsCompleteWithTheirMessagesAndSequences) {
  BYTE packet[32] = {};
  packet[4] = 24;
  packet[8] = 0x01;
  packet[9] = 0x02;
  WORD wseq = 0, rseq = 0, iseq = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bWriteAsync(client_, packet, sizeof packet, &wseq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_WRITE).size() == 1; }));
  BYTE response[32];
  ASSERT_TRUE(device_->bReadAsync(client_, response, sizeof response, &rseq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_READ).size() == 1; }));
  ASSERT_TRUE(device_->bIoctlAsync(client_, IOCTL_FOTAVI_GET_STATUS, nullptr, 4, &iseq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_IOCTL).size() == 1; }));
  auto* w = reinterpret_cast<DEVICE_RSP*>(ReceivedOf(WM_FOTAVI_WRITE)[0].lParam);
  auto* r = reinterpret_cast<DEVICE_RSP*>(ReceivedOf(WM_FOTAVI_READ)[0].lParam);
  auto* i = reinterpret_cast<DEVICE_RSP*>(ReceivedOf(WM_FOTAVI_IOCTL)[0].lParam);
  EXPECT_TRUE(w->bResult);
  EXPECT_EQ(w->dwLength, 32u);
  // The response carries the write's sequence, which no waiting read has.
  EXPECT_FALSE(r->bResult);
  EXPECT_EQ(r->dwError, ERR_FOTAVI_READSEQ);
  EXPECT_EQ(r->dwLength, 32u);
  EXPECT_EQ(r->pData, response);
  EXPECT_TRUE(i->bResult);
  EXPECT_EQ(i->dwLength, 4u);
  EXPECT_EQ(std::vector<WORD>({wseq, rseq, iseq}), std::vector<WORD>({wseq, WORD(wseq + 1), WORD(wseq + 2)}));
  for (UINT m : {WM_FOTAVI_WRITE, WM_FOTAVI_READ, WM_FOTAVI_IOCTL}) HandBack(ReceivedOf(m)[0]);
}

TEST_F(CompletionTest, CloseWithRecordsOutstandingDeletesThem) {
  DEVICE_CMD cmd = FotaviMakeCommand(0x201);
  WORD seq = 0;
  DWORD err = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &seq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_REQUEST).size() == 3; }));
  EXPECT_TRUE(device_->bClose(&err));
  // Records handed back after the close reach no thread: the dispatcher is gone.
  EXPECT_FALSE(PostThreadMessage(static_cast<DWORD>(ReceivedOf(WM_FOTAVI_REQUEST)[0].wParam), WM_FOTAVI_RELASERSP,
                                 0, ReceivedOf(WM_FOTAVI_REQUEST)[0].lParam));
}

}  // namespace
}  // namespace fotavi::test

namespace fotavi::test {
namespace {

TEST_F(CompletionTest, HandBackOfARecordTakenBackByCloseIsUnknownAfterReopen) {
  DEVICE_CMD cmd = FotaviMakeCommand(0x201);
  WORD seq = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequestAsync(client_, &cmd, &seq, &err));
  ASSERT_TRUE(PumpUntil([&] { return ReceivedOf(WM_FOTAVI_REQUEST).size() == 1; }));
  const LPARAM stale = ReceivedOf(WM_FOTAVI_REQUEST)[0].lParam;
  ASSERT_TRUE(device_->bClose(&err));
  ASSERT_TRUE(Open());
  // New records after the reopen, and the stale one handed to the new dispatcher.
  CRequestParam p;
  p.m_dwCommand = 0x201;
  p.m_pCommand = new DEVICE_CMD(cmd);
  ASSERT_TRUE(device_->bRequest(&p, &err));
  EXPECT_NE(reinterpret_cast<LPARAM>(p.m_pReply), stale);
  PostThreadMessage(p.m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, stale);
  PostThreadMessage(p.m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(p.m_pReply));
  PumpFor(100);
  std::string text = DeviceLogText();
  char expected[64];
  std::snprintf(expected, sizeof expected, "WM_FOTAVI_RELASERSP error(%lx)", static_cast<unsigned long>(stale));
  EXPECT_NE(text.find(expected), std::string::npos);
  EXPECT_EQ(text.find("WM_FOTAVI_RELASERSP error", text.find(expected) + 20), std::string::npos)
      << "the new reply record was known";
}

}  // namespace
}  // namespace fotavi::test
