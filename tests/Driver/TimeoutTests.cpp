// Time-outs of the pipe and the answers that arrive after them.
#include "DriverFixture.h"

namespace fotavi::test {
namespace {

struct LateCase {
  const char* name;
  WORD code;
};
void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

class LateReplyTest : public OpenedDriverTest, public ::testing::WithParamInterface<LateCase> {
 protected:
  // A request-object request: its status and data come back in `p`.
  BOOL Run(WORD code, CRequestParam* p, DWORD* err) {
    p->m_dwCommand = code;
    p->m_pCommand = new DEVICE_CMD(FotaviMakeCommand(code));
    return device_->bRequest(p, err);
  }
  void Finish(CRequestParam* p) {
    if (p->m_hReplyData) GlobalFree(p->m_hReplyData);
    p->m_hReplyData = nullptr;
    if (p->m_pReply) PostThreadMessage(p->m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(p->m_pReply));
    p->m_pReply = nullptr;
  }
};

// The camera answers a request only after the library gave up on it (and
// reset the camera); the late answer, whose status differs, must never be
// read as the next request's reply: the next requests get their own.
TEST_P(LateReplyTest, AnswerAfterTheTimeOutIsNeverTakenByTheNextExchange) {
  const WORD code = GetParam().code;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", code);
  Command(std::string("late ") + hex + " " + std::to_string(kTestTransferMs + 1000));
  Command(std::string("status ") + hex + " 7");  // the late answer carries status 7
  CRequestParam late;
  DWORD err = 0;
  EXPECT_FALSE(Run(code, &late, &err));
  EXPECT_EQ(err, ERR_FOTAVI_READTIMEOUT) << std::hex << err;
  Finish(&late);
  for (int i = 0; i < 2; ++i) {
    CRequestParam next;
    err = 0;
    ASSERT_TRUE(Run(code, &next, &err)) << "request " << i + 1 << " after the time-out: " << std::hex << err;
    EXPECT_EQ(next.m_dwStatus, 0u) << "request " << i + 1 << " got the late answer's status";
    if (code == FOTAVI_CMD_GET_JPEG) {
      int width = 0, height = 0;
      EXPECT_TRUE(DecodeJpeg(BlockBytes(next.m_hReplyData), &width, &height));
      EXPECT_EQ(width, 1024);
      EXPECT_EQ(height, 768);
    }
    Finish(&next);
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, LateReplyTest,
                         ::testing::Values(LateCase{"CardStatus", FOTAVI_CMD_SD_STATUS},
                                           LateCase{"Frame", FOTAVI_CMD_GET_JPEG}),
                         [](const ::testing::TestParamInfo<LateCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace fotavi::test
