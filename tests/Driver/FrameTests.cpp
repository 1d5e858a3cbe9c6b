// JPEG frames (command 0x808E): header, announced length, faults.
#include <chrono>
#include <regex>

#include "DriverFixture.h"

namespace fotavi::test {
namespace {

// Announced frame lengths, in order, from the camera's responses.
std::vector<DWORD> AnnouncedLengths(const std::vector<std::string>& lines) {
  std::vector<DWORD> out;
  std::regex re("\"cmd\":\"0x808E\",\"status\":\\d+,\"length\":(\\d+)");
  for (const std::string& l : lines) {
    std::smatch m;
    if (std::regex_search(l, m, re)) out.push_back(static_cast<DWORD>(std::stoul(m[1])));
  }
  return out;
}

class FrameTest : public OpenedDriverTest, public ::testing::WithParamInterface<DWORD> {
 protected:
  void SetUp() override {
    maxTransferSize_ = GetParam();
    OpenedDriverTest::SetUp();
  }
};

TEST_P(FrameTest, BlockIsTheHeaderFollowedByExactlyTheAnnouncedBytes) {
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  HGLOBAL h = nullptr;
  DWORD size = 0, err = 0;
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
  ASSERT_NE(h, nullptr);
  std::vector<DWORD> announced = AnnouncedLengths(ExchangeLog());
  ASSERT_EQ(announced.size(), 1u);
  EXPECT_EQ(size, FOTAVI_JPEG_HEADER_SIZE + announced[0]);
  std::vector<BYTE> block = BlockBytes(h);
  EXPECT_EQ(block.size(), size);
  // SOI, DQT, DHT and SOF0 at their places; the frame data starts with SOS.
  EXPECT_EQ(block[0], 0xFF);
  EXPECT_EQ(block[1], 0xD8);
  EXPECT_EQ(block[3], 0xDB);
  EXPECT_EQ(block[137], 0xC4);
  EXPECT_EQ(block[557], 0xC0);
  EXPECT_EQ(block[575], 0xFF);
  EXPECT_EQ(block[576], 0xDA);
  int width = 0, height = 0;
  EXPECT_TRUE(DecodeJpeg(block, &width, &height));
  EXPECT_EQ(width, 1024);
  EXPECT_EQ(height, 768);
  GlobalFree(h);
}

INSTANTIATE_TEST_SUITE_P(TransferSizes, FrameTest, ::testing::Values(16u, 64u, 256u),
                         [](const ::testing::TestParamInfo<DWORD>& i) { return std::to_string(i.param) + "KiB"; });

class FrameOpenTest : public OpenedDriverTest {};

TEST_F(FrameOpenTest, FrameOfLengthZeroSucceedsWithoutBlock) {
  Command("frame-length-zero 1");
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  HGLOBAL h = reinterpret_cast<HGLOBAL>(1);
  DWORD size = 99, err = 0;
  EXPECT_TRUE(device_->bRequest(&cmd, &h, &size, &err));
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(FrameOpenTest, FrameRequestsAreSpacedAtLeast50ms) {
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    HGLOBAL h = nullptr;
    DWORD size = 0, err = 0;
    ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err));
    GlobalFree(h);
  }
  // Four gaps of 50 ms (the millisecond tick may take one off each); without
  // the spacing five frames take a few milliseconds.
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(elapsed.count(), 196);
}

// A frame transfer that goes wrong: the request fails with the fault's code,
// frees its block and resets the camera.
struct FrameFault {
  const char* name;
  const char* command;
  DWORD error;
};

class FrameFaultTest : public FrameOpenTest, public ::testing::WithParamInterface<FrameFault> {};

TEST_P(FrameFaultTest, FailsFreesTheBlockAndResets) {
  size_t resetsBefore = LogLines({"\"code\":\"0x222000\""}).size();
  Command(GetParam().command);
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  HGLOBAL h = nullptr;
  DWORD size = 0, err = 0;
  EXPECT_FALSE(device_->bRequest(&cmd, &h, &size, &err));
  EXPECT_EQ(err, GetParam().error) << std::hex << err;
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_) << "the block of the failed frame leaked";
  EXPECT_EQ(LogLines({"\"code\":\"0x222000\""}).size(), resetsBefore + 1);
  // The camera is usable again after the reset.
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
  GlobalFree(h);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FrameFaultTest,
    ::testing::Values(FrameFault{"ShortFrame", "short-frame 1", ERR_FOTAVI_READTIMEOUT},
                      FrameFault{"ZeroPacketMidTransfer", "zero-packet 0x808E 2", ERR_FOTAVI_READZERO},
                      FrameFault{"ZeroResponse", "zero-packet 0x808E 0", ERR_FOTAVI_READZERO},
                      FrameFault{"NoResponse", "drop 0x808E 1", ERR_FOTAVI_READTIMEOUT}),
    [](const ::testing::TestParamInfo<FrameFault>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace fotavi::test
