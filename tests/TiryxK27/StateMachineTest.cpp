// The triplet table of the data source in every state, and the behaviour
// around it, on the real device library and the camera emulator.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "PackedField.h"
#include "CommonFunc.h"
#include "DsFixture.h"
#include "DsStrings.h"

using namespace twain_test;

namespace {

constexpr int kNoChange = 0;

struct Row {
  int state;
  TW_UINT32 dg;
  TW_UINT16 dat;
  TW_UINT16 msg;
  TW_UINT16 rc;
  TW_UINT16 cc;
  bool box;
  int after;  // the state afterwards (kNoChange: as before)
};

std::string Name(const Row& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "S%d_DG%u_DAT%04X_MSG%04X", r.state, r.dg, r.dat, r.msg);
  return buf;
}
// Printed as the case is named.
void PrintTo(const Row& r, std::ostream* os) { *os << Name(r); }

class Triplets : public DsFixture, public ::testing::WithParamInterface<Row> {};

}  // namespace

TEST_P(Triplets, AnswerAsTheTableSays) {
  const Row& row = GetParam();
  Reach(row.state);
  // A block large enough for any record of the table, zeroed.
  alignas(8) BYTE data[512];
  std::memset(data, 0, sizeof data);
  TW_UINT16 rc = Call(row.dg, row.dat, row.msg, data);
  if (row.dat == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE) {
    TW_HANDLE h;
    std::memcpy(&h, data, sizeof h);
    std::free(h);
  }
  EXPECT_EQ(rc, row.rc);
  EXPECT_EQ(ds->GetState(), row.after == kNoChange ? row.state : row.after);
  EXPECT_EQ(ui->Texts().size(), row.box ? 1u : 0u);
  if (row.box) {
    EXPECT_EQ(ui->Texts().front(), "An internal error had occurred.");
    EXPECT_EQ(ui->Captions().front(), "Tiryx TWAIN DS (K27)");
  }
  EXPECT_EQ(Status(), row.cc);
  EXPECT_EQ(Status(), TWCC_SUCCESS) << "reading the code clears it";
}

constexpr TW_UINT32 C = DG_CONTROL;
constexpr TW_UINT32 I = DG_IMAGE;
constexpr TW_UINT16 OK = TWRC_SUCCESS;
constexpr TW_UINT16 NO = TWRC_FAILURE;

INSTANTIATE_TEST_SUITE_P(
    Table, Triplets,
    ::testing::Values(
        // 300: loaded
        Row{300, C, DAT_PENDINGXFERS, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{300, C, DAT_USERINTERFACE, MSG_ENABLEDS, NO, TWCC_SEQERROR, false, kNoChange},
        Row{300, C, DAT_EVENT, MSG_GET, NO, TWCC_BADPROTOCOL, false, kNoChange},
        Row{300, C, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT, TWCC_SUCCESS, false, kNoChange},
        Row{300, C, DAT_XFERGROUP, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{300, C, DAT_IDENTITY, MSG_GETFIRST, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{300, C, DAT_IDENTITY, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{300, C, DAT_STATUS, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{300, I, DAT_IMAGEINFO, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{300, I, DAT_IMAGENATIVEXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{300, I, DAT_IMAGEFILEXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{300, I, DAT_IMAGELAYOUT, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{300, DG_AUDIO, 0x0201, MSG_GET, NO, TWCC_SUCCESS, false, kNoChange},
        Row{300, I, 0x0199, MSG_GET, NO, TWCC_BADPROTOCOL, false, kNoChange},
        // 400: opened
        Row{400, C, DAT_PENDINGXFERS, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{400, C, DAT_PENDINGXFERS, MSG_RESET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{400, C, DAT_PENDINGXFERS, MSG_ENDXFER, NO, TWCC_SEQERROR, true, kNoChange},
        Row{400, C, DAT_PENDINGXFERS, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{400, C, DAT_SETUPMEMXFER, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{400, C, DAT_SETUPMEMXFER, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{400, C, DAT_SETUPFILEXFER, MSG_GETDEFAULT, OK, TWCC_SUCCESS, false, kNoChange},
        Row{400, C, DAT_SETUPFILEXFER, MSG_RESET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{400, C, DAT_USERINTERFACE, MSG_DISABLEDS, NO, TWCC_SEQERROR, true, kNoChange},
        Row{400, C, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{400, C, DAT_IDENTITY, MSG_OPENDS, NO, TWCC_SEQERROR, false, kNoChange},
        Row{400, I, DAT_IMAGEINFO, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{400, I, DAT_IMAGEMEMXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{400, I, DAT_IMAGEMEMXFER, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{400, C, DAT_IDENTITY, MSG_CLOSEDS, OK, TWCC_SUCCESS, false, 300},
        // 500: enabled with the dialog
        Row{500, C, DAT_USERINTERFACE, MSG_ENABLEDS, NO, TWCC_SEQERROR, false, kNoChange},
        Row{500, I, DAT_IMAGENATIVEXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{500, C, DAT_PENDINGXFERS, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{500, C, DAT_USERINTERFACE, MSG_DISABLEDS, OK, TWCC_SUCCESS, false, 400},
        Row{500, C, DAT_IDENTITY, MSG_CLOSEDS, OK, TWCC_SUCCESS, false, 300},
        // 600: a picture is announced
        Row{600, I, DAT_IMAGEINFO, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{600, I, DAT_IMAGEINFO, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{600, C, DAT_PENDINGXFERS, MSG_ENDXFER, NO, TWCC_SEQERROR, true, kNoChange},
        Row{600, C, DAT_PENDINGXFERS, MSG_RESET, OK, TWCC_SUCCESS, false, 500},
        Row{600, C, DAT_SETUPMEMXFER, MSG_GET, OK, TWCC_SUCCESS, false, kNoChange},
        Row{600, I, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_XFERDONE, TWCC_SUCCESS, false, 700},
        Row{600, I, DAT_IMAGENATIVEXFER, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{600, I, DAT_IMAGEFILEXFER, MSG_GET, TWRC_XFERDONE, TWCC_SUCCESS, false, 700},
        Row{600, I, DAT_IMAGEFILEXFER, MSG_SET, NO, TWCC_BADPROTOCOL, true, kNoChange},
        Row{600, C, DAT_USERINTERFACE, MSG_DISABLEDS, OK, TWCC_SUCCESS, false, 400},
        // 700: transferred
        Row{700, C, DAT_PENDINGXFERS, MSG_ENDXFER, OK, TWCC_SUCCESS, false, 600},
        Row{700, C, DAT_PENDINGXFERS, MSG_RESET, OK, TWCC_SUCCESS, false, 500},
        Row{700, I, DAT_IMAGEINFO, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{700, C, DAT_SETUPFILEXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{700, C, DAT_SETUPMEMXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{700, I, DAT_IMAGENATIVEXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{700, I, DAT_IMAGEFILEXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{700, I, DAT_IMAGEMEMXFER, MSG_GET, NO, TWCC_SEQERROR, true, kNoChange},
        Row{700, C, DAT_USERINTERFACE, MSG_DISABLEDS, OK, TWCC_SUCCESS, false, 400},
        Row{700, C, DAT_IDENTITY, MSG_CLOSEDS, OK, TWCC_SUCCESS, false, 300}),
    [](const auto& info) { return Name(info.param); });

using StateMachine = DsFixture;

TEST_F(StateMachine, ACallFromAnotherApplicationFailsAndChangesNothing) {
  Reach(500);
  TW_IDENTITY other = app;
  other.Id = 99;
  TW_PENDINGXFERS pending{7, {0}};
  EXPECT_EQ(ds->Entry(&other, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_FAILURE);
  EXPECT_EQ(ds->Entry(&other, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_FAILURE);
  EXPECT_EQ(pending.Count, 7);
  EXPECT_EQ(ds->GetState(), 500);
  EXPECT_TRUE(ui->Texts().empty());
  EXPECT_EQ(Status(), TWCC_SUCCESS);
}

TEST_F(StateMachine, TheConditionCodeStaysUntilStatusReadsIt) {
  Reach(400);
  EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, nullptr), TWRC_FAILURE);
  TW_PENDINGXFERS pending{};
  EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(Status(), TWCC_SUCCESS);
}

TEST_F(StateMachine, OpeningWithTheCameraUnpluggedFailsWithNoDsAndNoBox) {
  ASSERT_TRUE(emulator->Unplug());
  EXPECT_EQ(OpenDS(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_NODS);
  EXPECT_EQ(Status(), TWCC_SUCCESS);
  EXPECT_TRUE(ui->Texts().empty());
  EXPECT_EQ(ds->GetState(), 300);
  ASSERT_TRUE(emulator->Replug());
  EXPECT_EQ(OpenDS(), TWRC_SUCCESS) << "the failed open let go of the single-instance mutex";
}

TEST_F(StateMachine, OpeningWhileAProgramHoldsTheMutexShowsAlreadyLaunched) {
  std::unique_ptr<CNamedMutex> held;
  ASSERT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &held), APPMUTEX_CREATED);
  EXPECT_EQ(OpenDS(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_NODS);
  ASSERT_EQ(ui->Texts().size(), 1u);
  EXPECT_EQ(ui->Texts()[0], "Fotavi or Tiryx TWAIN DS is already launched.");
  held.reset();
  EXPECT_EQ(OpenDS(), TWRC_SUCCESS);
}

TEST_F(StateMachine, TheSourceHoldsTheMutexFromOpenToClose) {
  Reach(400);
  std::unique_ptr<CNamedMutex> probe;
  EXPECT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &probe), APPMUTEX_EXISTS);
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &probe), APPMUTEX_CREATED);
}

TEST_F(StateMachine, OpenTwiceWithoutCloseIsASequenceError) {
  Reach(400);
  EXPECT_EQ(OpenDS(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
}

TEST_F(StateMachine, OpenCopiesBothIdentities) {
  Reach(400);
  EXPECT_EQ(Copied(ds->AppIdentity().Id), 1u);
  EXPECT_STREQ(ds->AppIdentity().ProductName, "test host");
  TW_IDENTITY mine{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &mine), TWRC_SUCCESS);
  EXPECT_EQ(Copied(mine.Id), 7u);
  EXPECT_STREQ(mine.ProductName, "Tiryx TWAIN DS (K27)");
  EXPECT_EQ(mine.SupportedGroups & (DG_CONTROL | DG_IMAGE), DG_CONTROL | DG_IMAGE);
}

TEST_F(StateMachine, TenOpenAcquireCloseCyclesInOneProcess) {
  for (int cycle = 0; cycle < 10; ++cycle) {
    SCOPED_TRACE(cycle);
    ASSERT_EQ(OpenDS(), TWRC_SUCCESS);
    ASSERT_EQ(EnableDS(false), TWRC_SUCCESS);
    ASSERT_EQ(ds->GetState(), 600);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    ASSERT_NE(dib, nullptr);
    std::free(dib);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    ASSERT_EQ(ds->GetState(), 300);
  }
  EXPECT_EQ(Notices().Count(MSG_XFERREADY), 10);
  EXPECT_TRUE(ui->Texts().empty());
}

TEST_F(StateMachine, WithoutTheUserInterfaceAStillPictureIsTakenBeforeTheAnnouncement) {
  Reach(400);
  ASSERT_EQ(EnableDS(false), TWRC_SUCCESS);
  EXPECT_EQ(ds->GetState(), 600);
  EXPECT_EQ(Notices().Count(MSG_XFERREADY), 1);
  TW_IMAGEINFO info{};
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  EXPECT_EQ(Copied(info.ImageWidth), 1024);
  EXPECT_EQ(Copied(info.ImageLength), 768);
  EXPECT_EQ(info.SamplesPerPixel, 3);
  EXPECT_EQ(info.BitsPerSample[0], 8);
  EXPECT_EQ(info.BitsPerSample[2], 8);
  EXPECT_EQ(info.BitsPerSample[3], 0);
  EXPECT_EQ(info.BitsPerPixel, 24);
  EXPECT_EQ(info.PixelType, TWPT_RGB);
  EXPECT_EQ(info.XResolution.Whole, 100);
  EXPECT_EQ(info.XResolution.Frac, 0);
  EXPECT_EQ(info.Compression, TWCP_NONE);
  EXPECT_EQ(info.Planar, 0);
}

TEST_F(StateMachine, WithoutTheUserInterfaceAPictureThatCannotBeTakenFailsQuietly) {
  Reach(400);
  ASSERT_TRUE(emulator->Command("bad-frame always"));
  EXPECT_EQ(EnableDS(false), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_OPERATIONERROR);
  EXPECT_EQ(ds->GetState(), 400);
  EXPECT_EQ(Notices().Count(MSG_XFERREADY), 0);
  EXPECT_TRUE(ui->Texts().empty());
  ASSERT_TRUE(emulator->Command("clear"));
  EXPECT_EQ(EnableDS(false), TWRC_SUCCESS);
}

TEST_F(StateMachine, PendingTransfersCountTheWaitingPicture) {
  Reach(600);
  TW_PENDINGXFERS pending{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
  EXPECT_EQ(pending.Count, 1);
  TW_UINT32 group = 0;
  ASSERT_EQ(Call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group), TWRC_SUCCESS);
  EXPECT_EQ(group, DG_IMAGE);
  TW_IMAGELAYOUT layout{};
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), TWRC_SUCCESS);
  EXPECT_EQ(layout.Frame.Right.Whole, 1024);
  EXPECT_EQ(layout.Frame.Bottom.Whole, 768);
  EXPECT_EQ(Copied(layout.FrameNumber), 1u);
  TW_HANDLE dib = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
  std::free(dib);
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
  EXPECT_EQ(pending.Count, 1);
  pending.Count = 9;
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
  EXPECT_EQ(pending.Count, 0);
  EXPECT_EQ(ds->GetState(), 600);
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
  EXPECT_EQ(pending.Count, 0);
  EXPECT_TRUE(FakeDialog::current.load()->view.Enabled(IDC_TWAIN_TRANSFER)) << "TRANSFER is offered again";
}

TEST_F(StateMachine, MemoryTransferDeliversStripsUntilDone) {
  Reach(600);
  TW_SETUPMEMXFER setup{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
  EXPECT_EQ(Copied(setup.MinBufSize), 0x4000u);
  EXPECT_EQ(Copied(setup.MaxBufSize), 0xFFFFu);
  EXPECT_EQ(Copied(setup.Preferred), 0xFFFFu);
  std::vector<BYTE> buffer(setup.Preferred);
  TW_IMAGEMEMXFER xfer{};
  xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
  xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
  xfer.Memory.TheMem = nullptr;
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  xfer.Memory.TheMem = buffer.data();
  TW_UINT16 rc = TWRC_SUCCESS;
  TW_UINT32 rows = 0;
  int strips = 0;
  while (rc == TWRC_SUCCESS && strips < 100) {
    rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
    ASSERT_NE(rc, TWRC_FAILURE) << Status();
    EXPECT_EQ(Copied(xfer.YOffset), rows);
    EXPECT_EQ(Copied(xfer.BytesPerRow), 3072u);
    EXPECT_EQ(Copied(xfer.Columns), 1024u);
    EXPECT_EQ(Copied(xfer.BytesWritten), xfer.Rows * 3072u);
    rows += xfer.Rows;
    ++strips;
    EXPECT_EQ(ds->GetState(), 700);
  }
  EXPECT_EQ(rc, TWRC_XFERDONE);
  EXPECT_EQ(rows, 768u);
  EXPECT_EQ(strips, 37);  // 21 rows of 3072 bytes in 65535: 36 full strips and 12 rows
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE) << "no strip after the last";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
}

TEST_F(StateMachine, MemoryTransferWritesThroughAHandleToo) {
  Reach(600);
  void* block = std::malloc(0xFFFF);
  TW_IMAGEMEMXFER xfer{};
  xfer.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
  xfer.Memory.Length = 0xFFFF;
  xfer.Memory.TheMem = block;
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_SUCCESS);
  EXPECT_EQ(Copied(xfer.Rows), 21u);
  std::free(block);
}

TEST_F(StateMachine, FileTransferWithoutSetWritesTheDefaultFile) {
  Reach(400);
  TW_SETUPFILEXFER setup{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &setup), TWRC_SUCCESS);
  EXPECT_STREQ(setup.FileName, "c:\\twain.bmp");
  EXPECT_EQ(setup.Format, TWFF_BMP);
  std::filesystem::remove(CTwainDS::DefaultFilePath());
  ASSERT_EQ(EnableDS(false), TWRC_SUCCESS);
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
  EXPECT_EQ(std::filesystem::file_size(CTwainDS::DefaultFilePath()), 54u + 3072u * 768u);
}

TEST_F(StateMachine, FileTransferWritesTheFileSetBefore) {
  Reach(400);
  const std::string path = root + "/picture.bmp";
  TW_SETUPFILEXFER setup{};
  std::strcpy(setup.FileName, path.c_str());
  setup.Format = TWFF_BMP;
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(path)) << "the name is checked by making the file";
  TW_SETUPFILEXFER again{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETCURRENT, &again), TWRC_SUCCESS);
  EXPECT_STREQ(again.FileName, "c:\\twain.bmp");
  ASSERT_EQ(EnableDS(false), TWRC_SUCCESS);
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
  std::ifstream f(path, std::ios::binary);
  char bm[2] = {0, 0};
  f.read(bm, 2);
  EXPECT_EQ(bm[0], 'B');
  EXPECT_EQ(bm[1], 'M');
  EXPECT_EQ(std::filesystem::file_size(path), 54u + 3072u * 768u);
}

TEST_F(StateMachine, FileSetupRefusesANameThatCannotBeMade) {
  Reach(400);
  TW_SETUPFILEXFER setup{};
  std::strcpy(setup.FileName, "/nonexistent-folder/picture.bmp");
  EXPECT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(ui->Texts().size(), 1u);
}

TEST_F(StateMachine, FileSetupTakesAtMost255CharactersOfAnUnterminatedName) {
  Reach(400);
  TW_SETUPFILEXFER setup{};
  std::string name = root + "/";
  name += std::string(255 - name.size(), 'n');
  std::memset(setup.FileName, 'n', sizeof setup.FileName);  // no terminating zero at all
  std::memcpy(setup.FileName, name.data(), name.size());
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(name));
}

TEST_F(StateMachine, AFailedFileWriteIsAnOperationError) {
  Reach(400);
  const std::string dir = root + "/gone";
  std::filesystem::create_directories(dir);
  TW_SETUPFILEXFER setup{};
  std::strcpy(setup.FileName, (dir + "/x.bmp").c_str());
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
  ASSERT_EQ(EnableDS(false), TWRC_SUCCESS);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_OPERATIONERROR);
  EXPECT_EQ(ds->GetState(), 600);
}

TEST_F(StateMachine, NullRecordsAreBadValues) {
  Reach(400);
  EXPECT_EQ(ds->Entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(ds->GetState(), 400);
}

TEST_F(StateMachine, CapabilitiesOfAnOldApplicationReadBadCap) {
  app.ProtocolMajor = 1;
  app.ProtocolMinor = 5;
  Reach(400);
  TW_CAPABILITY cap{CAP_SUPPORTEDCAPS, TWON_DONTCARE16, nullptr};
  EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADCAP);
}

TEST_F(StateMachine, DisablingWhileThePreviewRunsEndsPromptly) {
  Reach(500);
  CCaptureCore* core = ds->CaptureCore();
  core->OnPlay();
  FakeDialog* dialog = FakeDialog::current.load();
  ASSERT_TRUE(WaitUntil([&] { return dialog->view.Pictures() >= 3; }));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_STOP));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(ds->GetState(), 400);
  EXPECT_EQ(ds->CaptureCore(), nullptr);
}

TEST_F(StateMachine, ClosingFromTransferReadyTearsDownAndReopens) {
  Reach(600);
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
  EXPECT_EQ(ds->GetState(), 300);
  EXPECT_EQ(Copied(ds->AppIdentity().Id), 0u);
  EXPECT_EQ(ds->CaptureCore(), nullptr);
  EXPECT_EQ(OpenDS(), TWRC_SUCCESS);
}

TEST_F(StateMachine, AMissingDeviceLibraryShowsItsNameAndFailsWithNoDs) {
  ds->Link().SetLibraryName("FotaviZ5Missing.dll");
  EXPECT_EQ(OpenDS(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_NODS);
  EXPECT_EQ(ui->Texts(), std::vector<std::string>{"Unable to load FotaviZ5Missing.dll."});
  EXPECT_EQ(ui->Captions(), std::vector<std::string>{"Tiryx TWAIN DS (K27)"});
}

TEST_F(StateMachine, ALibraryWithoutCreateInstanceFailsSilently) {
  ds->Link().SetLibraryName("FotaviSIMD_Z5.dll");
  EXPECT_EQ(OpenDS(), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_NODS);
  EXPECT_TRUE(ui->Texts().empty());
  ds->Link().SetLibraryName("FotaviZ5.dll");
  EXPECT_EQ(OpenDS(), TWRC_SUCCESS);
}

TEST_F(StateMachine, WithoutTheUserInterfaceAnUnpluggedCameraFailsAtOnce) {
  Reach(400);
  ASSERT_TRUE(emulator->Unplug());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(EnableDS(false), TWRC_FAILURE);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(Status(), TWCC_OPERATIONERROR);
  EXPECT_EQ(ds->GetState(), 400);
  EXPECT_TRUE(ui->Texts().empty());
  ASSERT_TRUE(emulator->Replug());
}

TEST_F(StateMachine, WithoutTheDialogACameraPluggedBackInIsOpenedAgainForThePicture) {
  Reach(400);
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitUntil([&] { return !ds->Link().IsConnected(); }));
  ASSERT_TRUE(emulator->Replug());
  ASSERT_TRUE(WaitUntil([&] { return ds->Link().IsConnected(); }));
  EXPECT_EQ(EnableDS(false), TWRC_SUCCESS) << Status();
  EXPECT_EQ(ds->GetState(), 600);
  TW_HANDLE dib = nullptr;
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
  std::free(dib);
}

namespace {
// A receiver of device notices that keeps the link thread busy.
struct SlowTarget : IDeviceLinkTarget {
  void OnDeviceArrived() override {}
  void OnDeviceRemoved() override {
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    left = true;
  }
  std::atomic<bool> entered{false};
  std::atomic<bool> left{false};
};
}  // namespace

TEST_F(StateMachine, UnloadingWhileTheLinkThreadIsLateLetsItsReleaseFinishSafely) {
  Reach(400);
  static SlowTarget target;  // outlives the late calls
  ds->Link().SetNotifyTarget(&target);
  CDeviceLink::SetLinkCallLimit(100);
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitUntil([&] { return target.entered.load(); }));
  ds->Link().CloseDevice();
  EXPECT_FALSE(ds->Link().Unload()) << "the release did not finish in time";
  CDeviceLink::SetLinkCallLimit(30000);
  ASSERT_TRUE(WaitUntil([&] { return target.left.load(); }));
  // The late release runs now, in a library that must still be there.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ds->Link().SetNotifyTarget(nullptr);
  ASSERT_TRUE(emulator->Replug());
  EXPECT_EQ(OpenDS(), TWRC_FAILURE) << "state 400 still";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
}
