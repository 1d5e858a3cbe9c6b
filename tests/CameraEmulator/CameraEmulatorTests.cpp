// The emulator as a separate process, driven over its sockets the way the
// device library drives the camera.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "EmulatorProcess.h"
#include "PipeClient.h"

namespace fotavi::test {
namespace {

using Clock = std::chrono::steady_clock;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return b;
}

template <class Pred>
bool WaitUntil(int ms, Pred pred) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

// Runs a shell command, returns its exit status and standard output.
int Shell(const std::string& cmd, std::string* out) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  out->clear();
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  return pclose(p);
}

bool HaveProgram(const char* name) {
  std::string out;
  return Shell(std::string("command -v ") + name + " >/dev/null 2>&1", &out) == 0;
}

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = MakeTempDir("fotavi-emu-");
    ASSERT_FALSE(base_.empty());
    card_ = base_ + "/card";
    mkdir(card_.c_str(), 0755);
    mkdir((card_ + "/DCIM").c_str(), 0755);
    mkdir((card_ + "/DCIM/100ABCDE").c_str(), 0755);
  }
  void TearDown() override {
    emulator_.reset();
    RemoveTree(base_);
  }
  EmulatorOptions Options(bool withCard = true) {
    EmulatorOptions o;
    o.deviceRoot = base_ + "/root";
    if (withCard) o.cardDir = card_;
    o.exchangeLog = base_ + "/exchange.log";
    return o;
  }
  bool Launch(EmulatorOptions o) {
    packetSize_ = o.packetSize;
    emulator_ = std::make_unique<EmulatorProcess>(std::move(o));
    return emulator_->Start();
  }
  // Starts the emulator, runs `commands` on its command channel and connects `c` to the pipe.
  void Open(PipeClient& c, EmulatorOptions o, std::initializer_list<const char*> commands = {}) {
    ASSERT_TRUE(Launch(std::move(o)));
    for (const char* line : commands) ASSERT_TRUE(emulator_->Command(line)) << line;
    ASSERT_TRUE(c.Connect(PipePath()));
  }
  std::string PipePath() const { return emulator_->DevicePath() + "/FotaviZ5"; }
  std::string ControlPath() const { return emulator_->DevicePath() + "/control"; }
  // The exchange is finished when a follow-up request gets its own response.
  void ExpectInStep(PipeClient& c, uint16_t seq = 99) {
    Bytes r;
    ASSERT_TRUE(c.SendCommand(0x8101, seq));
    ASSERT_EQ(c.Read(&r, 3000), ReadResult::Packet);
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(U16(r.data()), 0);
    EXPECT_EQ(U16(r.data() + 2), seq);
  }

  std::string base_, card_;
  uint32_t packetSize_ = 65536;
  std::unique_ptr<EmulatorProcess> emulator_;
};

// ------------------------------------------------------------------ frames

TEST_F(EmulatorTest, FrameOverThePipeDecodesBehindTheLibraryHeader) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 1;
  Bytes frame;
  ASSERT_TRUE(c.Frame(5, &status, &frame));
  EXPECT_EQ(status, 0u);
  EXPECT_GT(frame.size(), 100000u);
  EXPECT_LT(frame.size(), 200000u);
  Bytes jpeg = BuildJpegHeader();
  ASSERT_EQ(jpeg.size(), 575u);
  jpeg.insert(jpeg.end(), frame.begin(), frame.end());
  int w = 0, h = 0;
  Bytes bgr;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(jpeg, &w, &h, &bgr, &error)) << error;
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);

  const std::string file = base_ + "/frame.jpg";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  std::string out;
  if (HaveProgram("djpeg")) {
    ASSERT_EQ(Shell("djpeg -ppm '" + file + "' 2>&1", &out), 0);
    const std::string ppmHeader = "P6\n1024 768\n255\n";
    EXPECT_EQ(out.rfind(ppmHeader, 0), 0u);
    EXPECT_EQ(out.size(), ppmHeader.size() + 1024 * 768 * 3);
  } else {
    std::printf("djpeg not installed: that check is left out\n");
  }
  if (HaveProgram("ffmpeg")) {
    // An independent decoder: any complaint about the stream is printed at level "error".
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1", &out), 0);
    EXPECT_EQ(out, "");
    ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=width,height,pix_fmt -of csv=p=0 '" + file + "' 2>&1", &out), 0);
    EXPECT_EQ(out.substr(0, out.find_last_not_of("\n") + 1), "1024,768,yuvj422p");
  } else {
    std::printf("ffmpeg not installed: that check is left out\n");
  }
}

TEST_F(EmulatorTest, ConsecutiveFramesDiffer) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status;
  Bytes a, b;
  ASSERT_TRUE(c.Frame(1, &status, &a));
  ASSERT_TRUE(c.Frame(2, &status, &b));
  EXPECT_NE(a, b);
}

class PacketSizeTest : public EmulatorTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PacketSizeTest, NoPacketIsLargerThanThePacketSize) {
  EmulatorOptions o = Options();
  o.packetSize = GetParam();
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, o));
  Bytes r;
  ASSERT_TRUE(c.SendCommand(0x808E, 3));
  ASSERT_EQ(c.Read(&r), ReadResult::Packet);
  uint32_t length = U32(r.data() + 12);
  Bytes jpeg = BuildJpegHeader();
  size_t packets = 0;
  while (jpeg.size() < 575 + length) {
    ASSERT_EQ(c.Read(&r), ReadResult::Packet);
    ASSERT_LE(r.size(), GetParam());
    ASSERT_EQ(U16(r.data()), 2);
    ASSERT_EQ(U16(r.data() + 2), 3);
    ASSERT_EQ(U32(r.data() + 4), r.size() - 8);
    jpeg.insert(jpeg.end(), r.begin() + 8, r.end());
    ++packets;
  }
  EXPECT_EQ(jpeg.size(), 575 + length);
  EXPECT_EQ(packets, (length + GetParam() - 9) / (GetParam() - 8));
  int w, h;
  Bytes bgr;
  std::string error;
  EXPECT_TRUE(DecodeJpeg(jpeg, &w, &h, &bgr, &error)) << error;
  ExpectInStep(c);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PacketSizeTest, ::testing::Values(64u, 4096u, 65536u, 131072u),
                         [](const auto& info) { return std::to_string(info.param) + "Bytes"; });

// -------------------------------------------------------------------- card

class FileRoundTripTest : public EmulatorTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FileRoundTripTest, WrittenFileReadsBackTheSame) {
  EmulatorOptions o = Options();
  o.packetSize = 4096;
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, o));
  const Bytes data = Pattern(GetParam());
  uint32_t first = 99, final = 99;
  ASSERT_TRUE(c.WriteFile(0x104, 11, "C:\\DCIM\\100ABCDE\\IMAG0001.JPG", data, 4096, &first, &final));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(final, 0u);
  std::string host = ReadText(card_ + "/DCIM/100ABCDE/IMAG0001.JPG");
  EXPECT_EQ(Bytes(host.begin(), host.end()), data);
  uint32_t status = 99;
  Bytes back;
  ASSERT_TRUE(c.ReadFile(0x8104, 12, "C:\\DCIM\\100ABCDE\\IMAG0001.JPG", &status, &back));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(back, data);
  ExpectInStep(c);
}

// 4076 bytes fill the first file packet of a 4096-byte packet exactly.
INSTANTIATE_TEST_SUITE_P(Sizes, FileRoundTripTest, ::testing::Values(0u, 1u, 4076u, 4077u, 4084u, 4085u, 300000u),
                         [](const auto& info) { return std::to_string(info.param) + "Bytes"; });

TEST_F(EmulatorTest, CardNamesMatchWithoutRegardToLetterCase) {
  WriteText(card_ + "/DCIM/100ABCDE/IMAG0007.JPG", "seven");
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status;
  Bytes data;
  ASSERT_TRUE(c.ReadFile(0x8104, 1, "c:\\dcim\\100abcde\\imag0007.jpg", &status, &data));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(std::string(data.begin(), data.end()), "seven");
  uint32_t first, final;
  ASSERT_TRUE(c.WriteFile(0x104, 2, "C:\\dcim\\100ABCDE\\imag0007.jpg", Pattern(10), 65536, &first, &final));
  EXPECT_EQ(final, 0u);
  EXPECT_EQ(ReadText(card_ + "/DCIM/100ABCDE/IMAG0007.JPG").size(), 10u);  // the same file, not a second one
  EXPECT_FALSE(Exists(card_ + "/dcim"));
}

TEST_F(EmulatorTest, MissingFileReadsAsEmptyWithStatusDone) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 99;
  Bytes data = {1};
  ASSERT_TRUE(c.ReadFile(0x8104, 1, "C:\\DCIM\\100ABCDE\\NONE0001.JPG", &status, &data));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(data.empty());
  ExpectInStep(c);
}

class RefusedWriteTest : public EmulatorTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedWriteTest, PathOutsideTheCardIsRefusedBeforeAnyData) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t first = 0, final = 0;
  ASSERT_TRUE(c.WriteFile(0x104, 4, GetParam(), Pattern(100), 65536, &first, &final));
  EXPECT_EQ(first, 2u);
  EXPECT_EQ(final, 0xFFFFFFFFu);
  EXPECT_FALSE(Exists(base_ + "/escape.jpg"));
  EXPECT_FALSE(Exists(base_ + "/root/escape.jpg"));
  ExpectInStep(c);
}

INSTANTIATE_TEST_SUITE_P(Paths, RefusedWriteTest,
                         ::testing::Values("C:\\..\\escape.jpg", "C:\\DCIM\\..\\..\\escape.jpg",
                                           "C:\\DCIM/../../escape.jpg", "C:\\NOFOLDER\\IMAG0001.JPG", "C:\\DCIM",
                                           "D:\\escape.jpg", "escape.jpg", ""),
                         [](const auto& info) {
                           std::string n;
                           for (char c : std::string(info.param)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return "Path" + n + "_" + std::to_string(info.index);
                         });

TEST_F(EmulatorTest, RootListHoldsTheDcimFolderAndItsFolders) {
  mkdir((card_ + "/DCIM/101fghij").c_str(), 0755);
  mkdir((card_ + "/DCIM/MISC").c_str(), 0755);
  mkdir((card_ + "/OTHER").c_str(), 0755);
  WriteText(card_ + "/DCIM/note.txt", "not a folder");
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 99;
  std::vector<std::string> entries;
  ASSERT_TRUE(c.RootList(3, &status, &entries));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(entries, (std::vector<std::string>{"C:\\DCIM", "C:\\DCIM\\100ABCDE", "C:\\DCIM\\101fghij", "C:\\DCIM\\MISC"}));
  ExpectInStep(c);
}

TEST_F(EmulatorTest, RootListOfACardWithoutDcimIsEmpty) {
  RemoveTree(card_ + "/DCIM");
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 99;
  std::vector<std::string> entries = {"x"};
  ASSERT_TRUE(c.RootList(3, &status, &entries));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(entries.empty());
  ExpectInStep(c);
}

class FolderListTest : public EmulatorTest, public ::testing::WithParamInterface<int> {};

TEST_P(FolderListTest, ComesInPortionsOf2048) {
  const int n = GetParam();
  std::vector<std::string> expected;
  for (int i = 1; i <= n; ++i) {
    char name[32];
    snprintf(name, sizeof name, "IMAG%04d.JPG", i);
    WriteText(card_ + "/DCIM/100ABCDE/" + name, "");
    expected.push_back(std::string("C:\\DCIM\\100ABCDE\\") + name);
  }
  mkdir((card_ + "/DCIM/100ABCDE/SUBFOLDR").c_str(), 0755);  // folders are not listed
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t listStatus = 99;
  std::vector<std::string> entries;
  int portions = 0;
  ASSERT_TRUE(c.FolderList(8, "C:\\DCIM\\100ABCDE", &listStatus, &entries, &portions));
  EXPECT_EQ(listStatus, 0u);
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(portions, n / 2048 + 1);
  ExpectInStep(c);
}

INSTANTIATE_TEST_SUITE_P(Counts, FolderListTest, ::testing::Values(0, 1, 2047, 2048, 2049, 5000),
                         [](const auto& info) { return std::to_string(info.param) + "Entries"; });

TEST_F(EmulatorTest, ListOfAMissingFolderFailsWithStatus2) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t listStatus = 0;
  std::vector<std::string> entries;
  ASSERT_TRUE(c.FolderList(8, "C:\\DCIM\\999NONE_", &listStatus, &entries));
  EXPECT_EQ(listStatus, 2u);
  ExpectInStep(c);
}

TEST_F(EmulatorTest, FoldersAreCreatedAndDeleted) {
  WriteText(card_ + "/DCIM/100ABCDE/IMAG0001.JPG", "x");
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  struct Step {
    uint16_t cmd;
    const char* path;
    uint32_t status;
  };
  const Step steps[] = {{0x106, "C:\\DCIM\\101NEWFO", 0}, {0x106, "C:\\DCIM\\101newfo", 3},
                        {0x106, "C:\\NOFOLDER\\101NEWFO", 2}, {0x105, "C:\\DCIM\\101NEWFO", 0},
                        {0x105, "C:\\DCIM\\101NEWFO", 2},     {0x105, "C:\\DCIM\\100ABCDE", 0},
                        {0x105, "C:\\", 2}};
  uint16_t seq = 20;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.path);
    uint32_t status = 99;
    ASSERT_TRUE(c.PathCommand(s.cmd, ++seq, s.path, &status));
    EXPECT_EQ(status, s.status);
  }
  EXPECT_FALSE(Exists(card_ + "/DCIM/101NEWFO"));
  EXPECT_FALSE(Exists(card_ + "/DCIM/100ABCDE"));
  EXPECT_TRUE(Exists(card_ + "/DCIM"));
  ExpectInStep(c);
}

TEST_F(EmulatorTest, CreatedFolderIsThere) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 99;
  ASSERT_TRUE(c.PathCommand(0x106, 1, "C:\\DCIM\\102NEWFO", &status));
  EXPECT_EQ(status, 0u);
  struct stat st;
  ASSERT_EQ(stat((card_ + "/DCIM/102NEWFO").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(EmulatorTest, ProtectedPictureIsNotOverwrittenNorDeleted) {
  const std::string file = card_ + "/DCIM/100ABCDE/IMAG0001.JPG";
  WriteText(file, "original");
  chmod(file.c_str(), 0444);
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t first = 0, final = 0, status = 0;
  ASSERT_TRUE(c.WriteFile(0x104, 1, "C:\\DCIM\\100ABCDE\\IMAG0001.JPG", Pattern(50), 65536, &first, &final));
  EXPECT_EQ(first, 8u);
  ASSERT_TRUE(c.PathCommand(0x105, 2, "C:\\DCIM\\100ABCDE\\IMAG0001.JPG", &status));
  EXPECT_EQ(status, 8u);
  EXPECT_EQ(ReadText(file), "original");
  ExpectInStep(c);
}

TEST_F(EmulatorTest, PlaylistWritesAndReadsBack) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  const std::string text = "C:\\DCIM\\100ABCDE\\IMAG0001.JPG,SE3,SI1\r\nC:\\DCIM\\100ABCDE\\IMAG0002.JPG,SE20,SI0\r\n";
  uint32_t first = 99, final = 99, status = 99;
  ASSERT_TRUE(c.WriteFile(0x107, 1, "C:\\PLAYLIST.TXT", Bytes(text.begin(), text.end()), 65536, &first, &final));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(final, 0u);
  EXPECT_EQ(ReadText(card_ + "/PLAYLIST.TXT"), text);
  Bytes back;
  ASSERT_TRUE(c.ReadFile(0x8107, 2, "C:\\PLAYLIST.TXT", &status, &back));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(std::string(back.begin(), back.end()), text);

  // A camera that answers the playlist path with 32 still takes the text.
  ASSERT_TRUE(emulator_->Command("status 0x107 32"));
  ASSERT_TRUE(c.WriteFile(0x107, 3, "C:\\PLAYLIST.TXT", Bytes{'x', '\r', '\n'}, 65536, &first, &final));
  EXPECT_EQ(first, 32u);
  EXPECT_EQ(final, 0u);
  EXPECT_EQ(ReadText(card_ + "/PLAYLIST.TXT"), "x\r\n");
  ExpectInStep(c);
}

// ------------------------------------------------------ forced status words

struct StatusCase {
  const char* fault;
  uint16_t cmd;
  uint32_t first;    // response status (0x8101), list status (0x8105), first status (writes), reply (0x106)
  uint32_t final;    // writes: final status; 0xFFFFFFFF when no data is sent
  bool fileWritten;
};

class ForcedStatusTest : public EmulatorTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ForcedStatusTest, StatusReachesTheHostAndTheExchangeCompletes) {
  const StatusCase& s = GetParam();
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {s.fault}));
  uint32_t a = 99, b = 0xFFFFFFFF;
  std::vector<std::string> entries;
  switch (s.cmd) {
    case 0x8101:
      ASSERT_TRUE(c.Simple(s.cmd, 1, &a));
      break;
    case 0x8105:
      ASSERT_TRUE(c.FolderList(1, "C:\\DCIM\\100ABCDE", &a, &entries));
      break;
    case 0x106:
      ASSERT_TRUE(c.PathCommand(s.cmd, 1, "C:\\DCIM\\103FORCE", &a));
      EXPECT_FALSE(Exists(card_ + "/DCIM/103FORCE"));
      break;
    default:
      ASSERT_TRUE(c.WriteFile(s.cmd, 1, "C:\\DCIM\\100ABCDE\\IMAG0009.JPG", Pattern(5000), 65536, &a, &b));
      EXPECT_EQ(Exists(card_ + "/DCIM/100ABCDE/IMAG0009.JPG"), s.fileWritten);
      break;
  }
  EXPECT_EQ(a, s.first);
  EXPECT_EQ(b, s.final);
  ExpectInStep(c);
  // The fault was for one exchange only.
  if (s.cmd == 0x8101) {
    ASSERT_TRUE(c.Simple(s.cmd, 2, &a));
    EXPECT_EQ(a, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ForcedStatusTest,
                         ::testing::Values(StatusCase{"status 0x8101 1", 0x8101, 1, 0xFFFFFFFF, false},
                                           StatusCase{"status 0x8105 1", 0x8105, 1, 0xFFFFFFFF, false},
                                           StatusCase{"status 0x106 4", 0x106, 4, 0xFFFFFFFF, false},
                                           StatusCase{"status 0x104 5", 0x104, 5, 0xFFFFFFFF, false},
                                           StatusCase{"status 0x104 8", 0x104, 8, 0xFFFFFFFF, false},
                                           StatusCase{"status 0x104 512 final", 0x104, 0, 512, false},
                                           StatusCase{"status 0x104 0 final", 0x104, 0, 0, true}),
                         [](const auto& info) {
                           std::string n;
                           for (char c : std::string(info.param.fault))
                             n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return n;
                         });

// ----------------------------------------------------------------- no card

class NoCardTest : public EmulatorTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(NoCardTest, EveryCardCommandAnswersStatus1AndCompletes) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(false)));
  const uint16_t cmd = GetParam();
  uint32_t status = 0, final = 0;
  Bytes data = {1, 2};
  std::vector<std::string> entries = {"x"};
  switch (cmd) {
    case 0x8101:
    case 0x108:
      ASSERT_TRUE(c.Simple(cmd, 1, &status));
      break;
    case 0x8102:
      ASSERT_TRUE(c.RootList(1, &status, &entries));
      EXPECT_TRUE(entries.empty());
      break;
    case 0x8104:
    case 0x8107:
      ASSERT_TRUE(c.ReadFile(cmd, 1, "C:\\PLAYLIST.TXT", &status, &data));
      EXPECT_TRUE(data.empty());  // one file packet announcing 0 bytes
      break;
    case 0x8105:
      ASSERT_TRUE(c.FolderList(1, "C:\\DCIM\\100ABCDE", &status, &entries));
      break;
    case 0x104:
    case 0x107:
      ASSERT_TRUE(c.WriteFile(cmd, 1, "C:\\PLAYLIST.TXT", Pattern(10), 65536, &status, &final));
      EXPECT_EQ(final, 0xFFFFFFFFu);
      break;
    case 0x105:
    case 0x106:
      ASSERT_TRUE(c.PathCommand(cmd, 1, "C:\\DCIM\\100ABCDE", &status));
      break;
  }
  EXPECT_EQ(status, 1u);
  ExpectInStep(c);
}

INSTANTIATE_TEST_SUITE_P(Commands, NoCardTest,
                         ::testing::Values(0x8101, 0x8102, 0x8104, 0x8105, 0x8107, 0x104, 0x105, 0x106, 0x107, 0x108),
                         [](const auto& info) { return "Command" + std::to_string(info.param); });

TEST_F(EmulatorTest, CardCanBeTakenOutAndPutBackAtRunTime) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 99;
  ASSERT_TRUE(emulator_->Command("card off"));
  ASSERT_TRUE(c.Simple(0x8101, 1, &status));
  EXPECT_EQ(status, 1u);
  ASSERT_TRUE(emulator_->Command("card on"));
  ASSERT_TRUE(c.Simple(0x8101, 2, &status));
  EXPECT_EQ(status, 0u);
}

// ---------------------------------------------------------- remote control

class RemoteTest : public EmulatorTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(RemoteTest, AcceptedWithStatus0AndRecorded) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(false)));
  const uint32_t param = 0x10000 + GetParam();
  uint32_t status = 99;
  ASSERT_TRUE(c.Simple(GetParam(), 7, &status, param));
  EXPECT_EQ(status, 0u);
  std::string reply;
  char line[32];
  snprintf(line, sizeof line, "count 0x%X", GetParam());
  ASSERT_TRUE(emulator_->Command(line, &reply));
  EXPECT_EQ(reply, "ok 1 " + std::to_string(param));
}

INSTANTIATE_TEST_SUITE_P(Codes, RemoteTest,
                         ::testing::Values(0xE0, 0xE1, 0xE2, 0xEA, 0xFA, 0x201, 0x202, 0x203, 0x204, 0x205, 0x206,
                                           0x207, 0x208, 0x209, 0x20A, 0x20B, 0x20C, 0x20D, 0x20E),
                         [](const auto& info) { return "Code" + std::to_string(info.param); });

TEST_F(EmulatorTest, UnknownCommandGetsANonZeroStatus) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status = 0;
  ASSERT_TRUE(c.Simple(0x1234, 3, &status));
  EXPECT_EQ(status, 0xFFFFu);
  ExpectInStep(c);
}

// --------------------------------------------------------------- controls

struct DriverTextCase {
  uint32_t outLength;
  std::string expected;
};

class DriverTextTest : public EmulatorTest, public ::testing::WithParamInterface<DriverTextCase> {};

TEST_P(DriverTextTest, FitsTheOutputLength) {
  EmulatorOptions o = Options();
  o.extraArgs = {"--driver-text", "DRV 1.2"};
  ASSERT_TRUE(Launch(o));
  uint32_t ok = 0;
  Bytes data;
  ASSERT_TRUE(ControlCall(ControlPath(), 0x222004, GetParam().outLength, &ok, &data));
  EXPECT_EQ(ok, 1u);
  EXPECT_EQ(std::string(data.begin(), data.end()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, DriverTextTest,
                         ::testing::Values(DriverTextCase{4096, std::string("DRV 1.2\0", 8)},
                                           DriverTextCase{8, std::string("DRV 1.2\0", 8)}, DriverTextCase{7, "DRV 1.2"},
                                           DriverTextCase{3, "DRV"}, DriverTextCase{0, ""}),
                         [](const auto& info) { return "Out" + std::to_string(info.param.outLength) + "Bytes"; });

TEST_F(EmulatorTest, StatusResetAndUnknownControlCodes) {
  ASSERT_TRUE(Launch(Options()));
  uint32_t ok = 0;
  Bytes data;
  ASSERT_TRUE(ControlCall(ControlPath(), 0x22200C, 4, &ok, &data));
  EXPECT_EQ(ok, 1u);
  ASSERT_EQ(data.size(), 4u);
  EXPECT_NE(U32(data.data()), 0u);
  ASSERT_TRUE(ControlCall(ControlPath(), 0x222000, 0, &ok, &data));
  EXPECT_EQ(ok, 1u);
  EXPECT_TRUE(data.empty());
  ASSERT_TRUE(ControlCall(ControlPath(), 0x222008, 16, &ok, &data));
  EXPECT_EQ(ok, 0u);
  EXPECT_TRUE(data.empty());
}

TEST_F(EmulatorTest, ResetAbandonsAHalfDoneWrite) {
  EmulatorOptions o = Options();
  o.packetSize = 4096;
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, o));
  uint32_t status;
  ASSERT_TRUE(c.Simple(0x104, 5, &status));
  ASSERT_TRUE(c.SendPath(5, "C:\\DCIM\\100ABCDE\\IMAG0003.JPG"));
  Bytes r;
  ASSERT_EQ(c.Read(&r), ReadResult::Packet);
  ASSERT_EQ(U32(r.data() + 12), 0u);
  // Only the first of several data packets, then the host gives up.
  Bytes first(8 + 4088, 0);
  first[0] = 2;
  first[2] = 5;
  Put32(first, 4, 4088);
  Put32(first, 8, 0x80);
  Put32(first, 12, 20000);
  ASSERT_TRUE(c.Send(first));
  uint32_t ok = 0;
  Bytes data;
  ASSERT_TRUE(ControlCall(ControlPath(), 0x222000, 0, &ok, &data));
  EXPECT_EQ(ok, 1u);
  ExpectInStep(c, 6);
  // A late data packet of the abandoned write is ignored.
  ASSERT_TRUE(c.Send(first));
  ExpectInStep(c, 7);
  EXPECT_FALSE(Exists(card_ + "/DCIM/100ABCDE/IMAG0003.JPG"));
}

TEST_F(EmulatorTest, ControlAnswersWhileThePipeIsHeldAndOnSeveralConnections) {
  PipeClient pipe;
  ASSERT_NO_FATAL_FAILURE(Open(pipe, Options()));
  ExpectInStep(pipe, 1);
  PipeClient extra;  // an idle control connection left open
  ASSERT_TRUE(extra.Connect(ControlPath()));
  for (int i = 0; i < 3; ++i) {
    uint32_t ok = 0;
    Bytes data;
    ASSERT_TRUE(ControlCall(ControlPath(), 0x22200C, 4, &ok, &data));
    EXPECT_EQ(ok, 1u);
  }
  ExpectInStep(pipe, 2);
}

// ------------------------------------------------------- pipe connections

TEST_F(EmulatorTest, SecondPipeConnectionIsRefused) {
  ASSERT_TRUE(Launch(Options()));
  PipeClient a, b;
  ASSERT_TRUE(a.Connect(PipePath()));
  ExpectInStep(a, 1);
  if (b.Connect(PipePath())) {
    Bytes r;
    b.SendCommand(0x8101, 1);
    EXPECT_EQ(b.Read(&r, 3000), ReadResult::Closed);
  }
  ExpectInStep(a, 2);
  a.Close();
  // Once the first one has gone, the camera takes a new connection.
  PipeClient c;
  ASSERT_TRUE(WaitUntil(3000, [&] {
    if (!c.Connect(PipePath()) || !c.SendCommand(0x8101, 3)) return false;
    Bytes r;
    return c.Read(&r, 1000) == ReadResult::Packet && r.size() == 32;
  }));
}

// ------------------------------------------------------- arrival, removal

TEST_F(EmulatorTest, UnplugRemovesTheFolderAndFailsTheOpenConnection) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  ExpectInStep(c, 1);
  ASSERT_TRUE(emulator_->Unplug());
  EXPECT_FALSE(Exists(emulator_->DevicePath()));
  Bytes r;
  EXPECT_EQ(c.Read(&r, 2000), ReadResult::Closed);
  EXPECT_FALSE(c.SendCommand(0x8101, 2));
  uint32_t ok;
  Bytes data;
  EXPECT_FALSE(ControlCall(ControlPath(), 0x22200C, 4, &ok, &data));

  ASSERT_TRUE(emulator_->Replug());
  PipeClient d;
  ASSERT_TRUE(d.Connect(PipePath()));
  uint32_t status;
  Bytes frame;
  ASSERT_TRUE(d.Frame(3, &status, &frame));
  EXPECT_GT(frame.size(), 0u);
}

TEST_F(EmulatorTest, SignalsUnplugAndReplug) {
  ASSERT_TRUE(Launch(Options()));
  const std::string dev = emulator_->DevicePath();
  ASSERT_EQ(kill(emulator_->pid(), SIGUSR1), 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return !Exists(dev); }));
  ASSERT_EQ(kill(emulator_->pid(), SIGUSR2), 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return Exists(dev + "/FotaviZ5") && Exists(dev + "/control"); }));
}

TEST_F(EmulatorTest, TimedUnplugAndReplug) {
  EmulatorOptions o = Options();
  o.extraArgs = {"--unplug-after", "300", "--replug-after", "300"};
  ASSERT_TRUE(Launch(o));
  // The log tells the transitions apart however late this process looks.
  auto count = [&](const std::string& part) {
    std::vector<std::string> lines = emulator_->ExchangeLog();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(WaitUntil(5000, [&] { return count("\"event\":\"unplug\",\"why\":\"timer\"") == 1; }));
  EXPECT_TRUE(WaitUntil(5000, [&] { return count("\"event\":\"plug\"") == 2; }));
  EXPECT_TRUE(Exists(emulator_->DevicePath() + "/control"));
}

// A timed unplug that falls due in the middle of a staged removal is not
// lost: it waits until the camera is back, then removes it once more.
TEST_F(EmulatorTest, TimedUnplugDuringAStagedRemovalComesOnceTheCameraIsBack) {
  EmulatorOptions o = Options();
  o.extraArgs = {"--unplug-after", "2000", "--replug-after", "200"};
  ASSERT_TRUE(Launch(o));
  auto events = [&] {
    std::vector<std::string> out;
    for (const std::string& l : emulator_->ExchangeLog()) {
      for (const char* e : {"\"event\":\"plug\"", "\"why\":\"command\"", "\"why\":\"timer\""}) {
        if (l.find(e) != std::string::npos) out.push_back(e);
      }
    }
    return out;
  };
  auto count = [&](const char* e) {
    const std::vector<std::string> all = events();
    return std::count(all.begin(), all.end(), e);
  };
  std::string reply;
  ASSERT_TRUE(emulator_->Command("unplug folder 4000 200", &reply)) << reply;
  if (count("\"why\":\"timer\"") != 0) GTEST_SKIP() << "the timer came before the staged removal was asked for";
  EXPECT_TRUE(WaitUntil(20000, [&] { return count("\"event\":\"plug\"") == 3; }))
      << ::testing::PrintToString(events());
  const std::vector<std::string> expected = {
      "\"event\":\"plug\"",  "\"why\":\"command\"",   // the staged removal
      "\"why\":\"timer\"",                             // its time comes during it: deferred
      "\"event\":\"plug\"",  "\"why\":\"timer\"",     // back, then the timed unplug
      "\"event\":\"plug\""};
  EXPECT_EQ(events(), expected);
}

// A removal staged in either order: during the gap the camera is half gone
// (its folder without sockets that answer, or its open connections without
// a folder), then wholly gone, then back after the asked delay.
struct StagedRemoval {
  const char* name;
  const char* line;
  bool folderFirst;
};

void PrintTo(const StagedRemoval& c, std::ostream* os) { *os << c.name; }

class StagedRemovalTest : public EmulatorTest, public ::testing::WithParamInterface<StagedRemoval> {};

TEST_P(StagedRemovalTest, GoesInTheAskedOrderAndComesBack) {
  PipeClient pipe;
  ASSERT_NO_FATAL_FAILURE(Open(pipe, Options()));
  ExpectInStep(pipe, 1);
  PipeClient control;  // a control connection made before the removal
  ASSERT_TRUE(control.Connect(ControlPath()));
  const std::string dev = emulator_->DevicePath();
  ASSERT_TRUE(emulator_->Command(GetParam().line));
  std::string reply;
  EXPECT_FALSE(emulator_->Command("replug", &reply));
  EXPECT_EQ(reply, "error the camera is being removed");
  EXPECT_FALSE(emulator_->Command("unplug", &reply));
  Bytes query(8);
  Put32(query, 0, 0x22200C);
  Put32(query, 4, 4);
  Bytes r;
  if (GetParam().folderFirst) {
    EXPECT_FALSE(Exists(dev));
    ASSERT_TRUE(control.Send(query));
    ASSERT_EQ(control.Read(&r, 3000), ReadResult::Packet) << "the open control connection still answers";
    EXPECT_EQ(U32(r.data()), 1u);
    ExpectInStep(pipe, 2);
    EXPECT_EQ(pipe.Read(&r, 10000), ReadResult::Closed) << "then the sockets close";
  } else {
    EXPECT_EQ(pipe.Read(&r, 3000), ReadResult::Closed);
    EXPECT_EQ(control.Read(&r, 3000), ReadResult::Closed);
    EXPECT_TRUE(Exists(dev + "/control")) << "the folder stays with sockets nobody answers";
    uint32_t ok = 0;
    Bytes data;
    EXPECT_FALSE(ControlCall(ControlPath(), 0x22200C, 4, &ok, &data));
    EXPECT_TRUE(WaitUntil(10000, [&] { return !Exists(dev); })) << "then the folder goes";
  }
  EXPECT_TRUE(WaitUntil(10000, [&] { return Exists(dev + "/control"); })) << "the camera comes back";
  PipeClient again;
  ASSERT_TRUE(again.Connect(PipePath()));
  ExpectInStep(again, 3);
  std::vector<std::string> events;
  for (const std::string& line : emulator_->ExchangeLog()) {
    for (const char* e : {"folder-removed", "sockets-closed", "unplugged", "plug\""}) {
      if (line.find(std::string("\"event\":\"") + e) != std::string::npos) events.push_back(e);
    }
  }
  const std::vector<std::string> expected =
      GetParam().folderFirst
          ? std::vector<std::string>{"plug\"", "folder-removed", "sockets-closed", "unplugged", "plug\""}
          : std::vector<std::string>{"plug\"", "sockets-closed", "folder-removed", "unplugged", "plug\""};
  EXPECT_EQ(events, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, StagedRemovalTest,
    ::testing::Values(StagedRemoval{"FolderThenSockets", "unplug folder 1500 200", true},
                      StagedRemoval{"SocketsThenFolder", "unplug sockets 1500 200", false}),
    [](const ::testing::TestParamInfo<StagedRemoval>& info) { return std::string(info.param.name); });

// While the first camera's sockets are closed and its folder still waits to
// go, a second camera may clean that folder up and arrive under the same
// name. The first one's delayed step must leave the second one's folder be.
TEST_F(EmulatorTest, DelayedFolderStepLeavesANewCameraOfTheSameNameAlone) {
  ASSERT_TRUE(Launch(Options()));
  const std::string dev = emulator_->DevicePath();
  ASSERT_TRUE(emulator_->Command("unplug sockets 1500"));
  EmulatorOptions o = Options();
  o.exchangeLog.clear();
  EmulatorProcess second(o);
  ASSERT_TRUE(second.Start());
  EXPECT_TRUE(WaitUntil(10000, [&] {
    std::vector<std::string> lines = emulator_->ExchangeLog();
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& l) { return l.find("\"event\":\"unplugged\"") != std::string::npos; });
  }));
  uint32_t ok = 0;
  Bytes data;
  EXPECT_TRUE(ControlCall(dev + "/control", 0x22200C, 4, &ok, &data)) << "the second camera's folder was removed";
}

// Quitting in the middle of a staged removal finishes it: nothing stays.
TEST_F(EmulatorTest, QuitDuringAStagedRemovalFinishesIt) {
  ASSERT_TRUE(Launch(Options()));
  const std::string dev = emulator_->DevicePath();
  ASSERT_TRUE(emulator_->Command("unplug sockets 60000"));
  EXPECT_TRUE(Exists(dev));
  emulator_->Stop();
  EXPECT_FALSE(Exists(dev));
}

TEST_F(EmulatorTest, StartsUnpluggedAndArrivesOnReplug) {
  EmulatorOptions o = Options();
  o.startUnplugged = true;
  ASSERT_TRUE(Launch(o));
  EXPECT_FALSE(Exists(emulator_->DevicePath()));
  ASSERT_TRUE(emulator_->Replug());
  // Arrival leaves nothing else in the class folder (the temporary name is gone).
  std::string classDir = emulator_->DevicePath().substr(0, emulator_->DevicePath().rfind('/'));
  std::string out;
  Shell("ls -A '" + classDir + "'", &out);
  EXPECT_EQ(out, "cam0\n");
}

TEST_F(EmulatorTest, QuitAndTerminationRemoveTheFolder) {
  ASSERT_TRUE(Launch(Options()));
  const std::string dev = emulator_->DevicePath();
  emulator_->Stop();
  EXPECT_FALSE(Exists(dev));
  ASSERT_TRUE(Launch(Options()));
  ASSERT_EQ(kill(emulator_->pid(), SIGTERM), 0);
  EXPECT_TRUE(WaitUntil(5000, [&] { return !Exists(dev); }));
}

TEST_F(EmulatorTest, SecondCameraWithTheSameInstanceDoesNotStart) {
  ASSERT_TRUE(Launch(Options()));
  EmulatorProcess second(Options());
  EXPECT_FALSE(second.Start(3000));
  EXPECT_TRUE(Exists(emulator_->DevicePath() + "/FotaviZ5"));
}

// ---------------------------------------------------------------- faults

TEST_F(EmulatorTest, DroppedReplyNeverComesAndTheNextRequestIsServed) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {"drop 0x808E 1"}));
  Bytes r;
  ASSERT_TRUE(c.SendCommand(0x808E, 1));
  EXPECT_EQ(c.Read(&r, 500), ReadResult::Timeout);
  uint32_t status;
  Bytes frame;
  ASSERT_TRUE(c.Frame(2, &status, &frame));
  EXPECT_GT(frame.size(), 0u);
}

TEST_F(EmulatorTest, DroppedReplyFromTheCommandLine) {
  EmulatorOptions o = Options();
  o.extraArgs = {"--drop", "0x8101:1"};
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, o));
  Bytes r;
  ASSERT_TRUE(c.SendCommand(0x8101, 1));
  EXPECT_EQ(c.Read(&r, 500), ReadResult::Timeout);
  ExpectInStep(c, 2);
}

TEST_F(EmulatorTest, DelayedReplyComesLate) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {"delay 0x8101 400"}));
  auto start = Clock::now();
  uint32_t status;
  ASSERT_TRUE(c.Simple(0x8101, 1, &status));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 400);
}

// A late answer still goes out after a reset and after the host's next
// command (ahead of that command's reply); a closed pipe connection drops it.
TEST_F(EmulatorTest, LateReplyOutlivesResetAndNextCommandButNotAClosedPipe) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {"late 0x8101 400"}));
  ASSERT_TRUE(c.SendCommand(0x8101, 1));
  Bytes r;
  EXPECT_EQ(c.Read(&r, 100), ReadResult::Timeout);
  uint32_t ok = 0;
  Bytes data;
  ASSERT_TRUE(ControlCall(ControlPath(), 0x222000, 0, &ok, &data));
  ASSERT_TRUE(c.SendCommand(0x8101, 2));
  ASSERT_EQ(c.Read(&r, 3000), ReadResult::Packet);
  EXPECT_EQ(U16(r.data() + 2), 1) << "the late answer comes first";
  ASSERT_EQ(c.Read(&r, 3000), ReadResult::Packet);
  EXPECT_EQ(U16(r.data() + 2), 2);

  ASSERT_TRUE(emulator_->Command("late 0x8101 400"));
  ASSERT_TRUE(c.SendCommand(0x8101, 3));
  c.Close();
  PipeClient d;
  ASSERT_TRUE(d.Connect(PipePath()));
  ASSERT_TRUE(d.SendCommand(0x8101, 4));
  ASSERT_EQ(d.Read(&r, 3000), ReadResult::Packet);
  EXPECT_EQ(U16(r.data() + 2), 4) << "nothing of the closed connection's exchange arrives";
  EXPECT_EQ(d.Read(&r, 700), ReadResult::Timeout);
}

struct ZeroCase {
  uint32_t index;       // camera packet of the exchange that is empty
  size_t fullPackets;   // packets that arrive whole before it
};

class ZeroPacketTest : public EmulatorTest, public ::testing::WithParamInterface<ZeroCase> {};

TEST_P(ZeroPacketTest, EmptyPacketArrivesWhereAsked) {
  const std::string fault = "zero-packet 0x808E " + std::to_string(GetParam().index);
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {fault.c_str()}));
  ASSERT_TRUE(c.SendCommand(0x808E, 1));
  Bytes r;
  for (size_t i = 0; i < GetParam().fullPackets; ++i) {
    ASSERT_EQ(c.Read(&r), ReadResult::Packet);
    EXPECT_GE(r.size(), 32u);
  }
  ASSERT_EQ(c.Read(&r), ReadResult::Packet);
  EXPECT_EQ(r.size(), 0u);
  EXPECT_EQ(c.Read(&r, 300), ReadResult::Timeout);  // nothing of that exchange follows
  ExpectInStep(c, 2);
}

INSTANTIATE_TEST_SUITE_P(Positions, ZeroPacketTest, ::testing::Values(ZeroCase{0, 0}, ZeroCase{1, 1}, ZeroCase{2, 2}),
                         [](const auto& info) { return "Packet" + std::to_string(info.param.index); });

TEST_F(EmulatorTest, BadFrameDoesNotDecode) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {"bad-frame 1"}));
  uint32_t status, announced;
  Bytes frame;
  ASSERT_TRUE(c.Frame(1, &status, &frame, &announced));
  EXPECT_EQ(frame.size(), announced);
  Bytes jpeg = BuildJpegHeader();
  jpeg.insert(jpeg.end(), frame.begin(), frame.end());
  int w, h;
  Bytes bgr;
  std::string error;
  EXPECT_FALSE(DecodeJpeg(jpeg, &w, &h, &bgr, &error));
  ASSERT_TRUE(c.Frame(2, &status, &frame));
  jpeg.resize(575);
  jpeg.insert(jpeg.end(), frame.begin(), frame.end());
  EXPECT_TRUE(DecodeJpeg(jpeg, &w, &h, &bgr, &error)) << error;
}

TEST_F(EmulatorTest, FrameOfLengthZeroHasNoDataPackets) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {"frame-length-zero"}));
  uint32_t status, announced = 1;
  Bytes frame;
  ASSERT_TRUE(c.Frame(1, &status, &frame, &announced));
  EXPECT_EQ(announced, 0u);
  Bytes r;
  EXPECT_EQ(c.Read(&r, 300), ReadResult::Timeout);
}

TEST_F(EmulatorTest, ShortFrameSendsLessThanItAnnounces) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options(), {"short-frame"}));
  Bytes r;
  ASSERT_TRUE(c.SendCommand(0x808E, 1));
  ASSERT_EQ(c.Read(&r), ReadResult::Packet);
  uint32_t announced = U32(r.data() + 12);
  size_t got = 0;
  while (c.Read(&r, 300) == ReadResult::Packet) got += r.size() - 8;
  EXPECT_GT(got, 0u);
  EXPECT_LT(got, announced);
}

class MalformedCommandTest : public EmulatorTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MalformedCommandTest, IsAnsweredWithAnError) {
  ASSERT_TRUE(Launch(Options(false)));
  std::string reply;
  EXPECT_FALSE(emulator_->Command(GetParam(), &reply));
  EXPECT_EQ(reply.rfind("error", 0), 0u) << reply;
}

INSTANTIATE_TEST_SUITE_P(Lines, MalformedCommandTest,
                         ::testing::Values("", "bogus", "delay", "delay 0x808E", "delay 0x1FFFF 10", "drop x",
                                           "zero-packet 0x808E", "status 0x808E", "status 0x808E 1 first",
                                           "status 0x8101 1 list", "status 0x104 1 sometimes", "bad-frame -1",
                                           "card on", "card sideways", "count"),
                         [](const auto& info) {
                           std::string n;
                           for (char c : std::string(info.param)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return "Line" + n + "_" + std::to_string(info.index);
                         });

// ----------------------------------------------------------- exchange log

TEST_F(EmulatorTest, ExchangeLogHasALinePerPacketAndControlCode) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  uint32_t status;
  Bytes frame;
  ASSERT_TRUE(c.Frame(5, &status, &frame));
  uint32_t ok;
  Bytes data;
  ASSERT_TRUE(ControlCall(ControlPath(), 0x22200C, 4, &ok, &data));
  ExpectInStep(c, 6);
  std::vector<std::string> lines = emulator_->ExchangeLog();
  auto count = [&](const std::string& part) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  };
  EXPECT_EQ(count("\"dir\":\"in\",\"type\":0,\"seq\":5,\"len\":24,\"cmd\":\"0x808E\",\"param\":0}"), 1);
  EXPECT_EQ(count("\"dir\":\"out\",\"type\":0,\"seq\":5,\"len\":24,\"cmd\":\"0x808E\",\"status\":0,\"length\":" +
                  std::to_string(frame.size()) + "}"),
            1);
  EXPECT_EQ(count("\"dir\":\"out\",\"type\":2,\"seq\":5,"), static_cast<long>((frame.size() + 65527) / 65528));
  EXPECT_EQ(count("\"dir\":\"control\",\"code\":\"0x22200C\",\"outlen\":4,\"ok\":1,\"bytes\":4"), 1);
  EXPECT_EQ(count("\"cmd\":\"0x8101\""), 2);  // request and response
  for (const auto& l : lines) {
    EXPECT_EQ(l.rfind("{\"t\":", 0), 0u) << l;
    EXPECT_EQ(l.back(), '}') << l;
  }
}

}  // namespace
}  // namespace fotavi::test

namespace fotavi::test {
namespace {

TEST_F(EmulatorTest, PathOfExactly32BytesIsUsedWhole) {
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, Options()));
  const std::string path = "C:\\DCIM\\100ABCDE\\LONGNAM0001.JPG";  // 32 bytes: no terminator in the packet
  ASSERT_EQ(path.size(), 32u);
  uint32_t first = 99, final = 99, status = 99;
  ASSERT_TRUE(c.WriteFile(0x104, 1, path, Pattern(64), 65536, &first, &final));
  EXPECT_EQ(final, 0u);
  EXPECT_TRUE(Exists(card_ + "/DCIM/100ABCDE/LONGNAM0001.JPG"));
  Bytes back;
  ASSERT_TRUE(c.ReadFile(0x8104, 2, path, &status, &back));
  EXPECT_EQ(back, Pattern(64));
}

// A test's pipe connection that a later emulator inherited would stay open
// after the test closes it, and the first camera would refuse the next one.
TEST_F(EmulatorTest, AnotherEmulatorDoesNotInheritTheTestsConnections) {
  ASSERT_TRUE(Launch(Options()));
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);  // deliberately without close-on-exec
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", PipePath().c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EmulatorOptions other = Options(false);
  other.instance = "cam1";
  other.exchangeLog.clear();
  EmulatorProcess second(other);
  ASSERT_TRUE(second.Start());
  close(fd);
  PipeClient c;
  EXPECT_TRUE(WaitUntil(3000, [&] {
    Bytes r;
    return c.Connect(PipePath()) && c.SendCommand(0x8101, 1) && c.Read(&r, 500) == ReadResult::Packet;
  }));
}

struct FlagCase {
  std::vector<std::string> args;
  uint32_t status;  // of the first card-status request
};

class FaultFlagTest : public EmulatorTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(FaultFlagTest, StartUpFaultsAct) {
  EmulatorOptions o = Options();
  o.extraArgs = GetParam().args;
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, o));
  uint32_t status = 99;
  ASSERT_TRUE(c.Simple(0x8101, 1, &status));
  EXPECT_EQ(status, GetParam().status);
  ASSERT_TRUE(c.Simple(0x8101, 2, &status));
  EXPECT_EQ(status, 0u);
}

INSTANTIATE_TEST_SUITE_P(Flags, FaultFlagTest,
                         ::testing::Values(FlagCase{{"--status", "0x8101:1"}, 1},
                                           FlagCase{{"--status", "0x8101:6:response"}, 6},
                                           FlagCase{{"--fault", "status 0x8101 7"}, 7}),
                         [](const auto& info) {
                           return "Status" + std::to_string(info.param.status) + "_" + std::to_string(info.index);
                         });

TEST_F(EmulatorTest, BadStartUpFaultStopsTheStart) {
  EmulatorOptions o = Options();
  o.extraArgs = {"--status", "0x8101:1:list"};
  EXPECT_FALSE(Launch(o));
}

TEST_F(EmulatorTest, PicturesFolderIsStreamedInNameOrder) {
  const std::string pictures = base_ + "/pictures";
  mkdir(pictures.c_str(), 0755);
  struct Picture {
    const char* name;
    int w, h;
    const char* rgb;
  };
  for (Picture p : {Picture{"b.jpg", 64, 48, "\x10\xD0\x10"}, Picture{"a.JPG", 2000, 1500, "\xD0\x10\x10"}}) {
    std::string ppm = pictures + "/" + p.name + ".ppm";
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << p.w << " " << p.h << "\n255\n";
    for (int i = 0; i < p.w * p.h; ++i) out.write(p.rgb, 3);
    out.close();
    std::string ignored;
    if (Shell("cjpeg -outfile '" + pictures + "/" + p.name + "' '" + ppm + "' 2>&1", &ignored) != 0)
      GTEST_SKIP() << "cjpeg is not installed";
    remove(ppm.c_str());
  }
  WriteText(pictures + "/notes.txt", "not a picture");
  EmulatorOptions o = Options();
  o.pictureDir = pictures;
  PipeClient c;
  ASSERT_NO_FATAL_FAILURE(Open(c, o));
  const int expectedRed[] = {0xD0, 0x10, 0xD0};  // a.JPG, b.jpg, then a.JPG again
  for (int i = 0; i < 3; ++i) {
    uint32_t status;
    Bytes frame;
    ASSERT_TRUE(c.Frame(static_cast<uint16_t>(i + 1), &status, &frame));
    Bytes jpeg = BuildJpegHeader();
    jpeg.insert(jpeg.end(), frame.begin(), frame.end());
    int w, h;
    Bytes bgr;
    std::string error;
    ASSERT_TRUE(DecodeJpeg(jpeg, &w, &h, &bgr, &error)) << error;
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    EXPECT_NEAR(bgr[(384 * 1024 + 512) * 3 + 2], expectedRed[i], 10) << i;
  }
}

TEST_F(EmulatorTest, StartWithoutADeviceRootIsRefused) {
  EmulatorOptions o = Options();
  o.deviceRoot.clear();
  EmulatorProcess p(o);
  EXPECT_FALSE(p.Start(2000));
}

// A device root that another user made, or that others can write to, is not
// where the camera puts its sockets: the start fails and says why.
TEST_F(EmulatorTest, DeviceRootOthersControlIsRefused) {
  struct Case {
    const char* what;
    uid_t owner;
    mode_t mode;
  };
  const bool root = geteuid() == 0;
  for (const Case& c : {Case{"another user's", 65534, 0755}, Case{"writable by all", geteuid(), 0777}}) {
    if (c.owner != geteuid() && !root) continue;  // only root can hand a folder to someone else
    EmulatorOptions o = Options();
    o.deviceRoot = base_ + "/shared-" + std::to_string(c.mode);
    ASSERT_EQ(mkdir(o.deviceRoot.c_str(), 0700), 0);
    ASSERT_EQ(chmod(o.deviceRoot.c_str(), c.mode), 0);
    ASSERT_EQ(chown(o.deviceRoot.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    EmulatorProcess p(o);
    EXPECT_FALSE(p.Start(2000)) << c.what;
    EXPECT_FALSE(Exists(o.deviceRoot + "/{30091DC9-1A0E-41F1-BC70-C7C3A9142BC6}")) << c.what;
    std::string out;
    Shell("'" + EmulatorProcess::BinaryPath() + "' --root '" + o.deviceRoot + "' --stdin-commands </dev/null 2>&1",
          &out);
    EXPECT_NE(out.find("refused"), std::string::npos) << c.what << ": " << out;
  }
}

// Command lines on standard input, answers on standard output; the end of
// the input ends the emulator, which removes its folder.
TEST_F(EmulatorTest, CommandsOnStandardInput) {
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  const std::string root = base_ + "/root";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(in[1]);
    close(out[0]);
    std::string bin = EmulatorProcess::BinaryPath();
    execl(bin.c_str(), bin.c_str(), "--root", root.c_str(), "--stdin-commands", "--no-card", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  FILE* replies = fdopen(out[0], "r");
  auto ask = [&](const std::string& line) {
    std::string l = line + "\n";
    EXPECT_EQ(write(in[1], l.data(), l.size()), static_cast<ssize_t>(l.size()));
    char buf[256] = {};
    if (!fgets(buf, sizeof buf, replies)) return std::string("<none>");
    return std::string(buf);
  };
  const std::string dev = root + "/{30091DC9-1A0E-41F1-BC70-C7C3A9142BC6}/cam0";
  EXPECT_EQ(ask("ping"), "ok\n");
  EXPECT_TRUE(Exists(dev + "/FotaviZ5"));
  EXPECT_EQ(ask("unplug"), "ok\n");
  EXPECT_FALSE(Exists(dev));
  EXPECT_EQ(ask("replug"), "ok\n");
  EXPECT_TRUE(Exists(dev + "/control"));
  EXPECT_EQ(ask("nonsense").rfind("error", 0), 0u);
  close(in[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(Exists(dev));
  fclose(replies);
}

}  // namespace
}  // namespace fotavi::test
