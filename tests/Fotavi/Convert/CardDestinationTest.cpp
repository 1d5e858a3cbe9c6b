// The card as a destination, over a scripted card service: numbering from
// the listing, the transfer's size and name limits, the status mapping, and
// whole runs that stage, send and clean up.
#include <filesystem>

#include <gtest/gtest.h>

#include "Card/CardLimits.h"
#include "CardDestination.h"
#include "Text/FotaviStrings.h"
#include "ConvertTestSupport.h"
#include "ConvertWorker.h"
#include "TransErrEntry.h"
#include "Platform/GlobalMemory.h"

using namespace convert_test;

namespace {

class FakeCard : public ICardFileService {
 public:
  DWORD ListFiles(const std::string& folder, std::vector<std::string>* entries) override {
    listedFolders.push_back(folder);
    *entries = listing;
    return listStatus;
  }
  DWORD WriteFile(const std::string& cardPath, const BYTE* data, DWORD length) override {
    written.emplace_back(cardPath, std::string(reinterpret_cast<const char*>(data), length));
    if (writeStatuses.empty()) return 0;
    const DWORD status = writeStatuses.front();
    writeStatuses.erase(writeStatuses.begin());
    return status;
  }
  void EndTransfer() override { ++endTransfers; }

  std::vector<std::string> listing;
  DWORD listStatus = 0;
  std::vector<DWORD> writeStatuses;
  std::vector<std::string> listedFolders;
  std::vector<std::pair<std::string, std::string>> written;
  int endTransfers = 0;
};

class CardDestinationTest : public ConvertFixture {
 protected:
  FakeCard m_Card;
  NullHost m_Host;
};

struct ListingCase {
  std::vector<std::string> entries;
  int expected;
};

class CardListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(CardListingTest, HighestNumber) {
  EXPECT_EQ(GetParam().expected, CCardDestination::GetMaxSDNumber(GetParam().entries));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CardListingTest,
    ::testing::Values(ListingCase{{}, 0},
                      ListingCase{{"C:\\DCIM\\100ABCDE\\IMAG0007.JPG", "C:\\DCIM\\100ABCDE\\IMAGABCD.JPG"}, 7},
                      ListingCase{{"C:\\DCIM\\100ABCDE\\imag0031.jpg", "C:\\DCIM\\100ABCDE\\IMAG0030.JPG"}, 31},
                      // Any 12-character IMAG name takes its number, whatever follows.
                      ListingCase{{"C:\\DCIM\\100ABCDE\\IMAG0044.TXT"}, 44},
                      ListingCase{{"C:\\DCIM\\100ABCDE\\IMAG00100.JPG", "C:\\DCIM\\100ABCDE\\IMAG0000.JPG",
                                   "C:\\DCIM\\100ABCDE\\XMAG0009.JPG"},
                                  0},
                      ListingCase{{"IMAG9999.JPG"}, 9999}),
    [](const auto& info) {
      return std::to_string(info.param.entries.size()) + "Entries_" + std::to_string(info.index);
    });

TEST_F(CardDestinationTest, AFailedListingGivesNoNumberAndAnEmptyOneStartsAtOne) {
  CCardDestination dest(&m_Card, "C:\\DCIM\\100ABCDE\\", m_Work);
  int number = -1;
  UINT message = 0;
  for (DWORD status : {1u, 0x80000000u, 77u}) {
    m_Card.listStatus = status;
    m_Card.listing = {"C:\\DCIM\\100ABCDE\\IMAG0001.JPG"};
    EXPECT_FALSE(dest.GetMaxNumber(&number, &message)) << status;
    EXPECT_EQ(IDS_SD_TRANSFER_FAILED, message);
  }
  m_Card.listStatus = 0;
  m_Card.listing.clear();
  ASSERT_TRUE(dest.GetMaxNumber(&number, &message));
  EXPECT_EQ(0, number);
  EXPECT_EQ("C:\\DCIM\\100ABCDE", m_Card.listedFolders.back());
}

TEST_F(CardDestinationTest, FilesFrom2MiBOnAreNotSentAndOneByteLessIs) {
  CCardDestination dest(&m_Card, "C:\\DCIM\\100ABCDE", m_Work);
  const std::string staging = dest.GetStagingFolder();
  std::filesystem::create_directories(staging);
  const size_t before = GlobalBlockCount();
  WriteFile(staging + "/IMAG0001.jpg", std::string(CARD_FILE_SIZE_LIMIT, 'a'));
  EXPECT_EQ(TRANSFER_TOO_LARGE, dest.Deliver(staging + "/IMAG0001.jpg"));
  EXPECT_TRUE(m_Card.written.empty());
  const std::string data(CARD_FILE_SIZE_LIMIT - 1, 'b');
  WriteFile(staging + "/IMAG0002.jpg", data);
  EXPECT_EQ(TRANSFER_OK, dest.Deliver(staging + "/IMAG0002.jpg"));
  ASSERT_EQ(1u, m_Card.written.size());
  EXPECT_EQ("C:\\DCIM\\100ABCDE\\IMAG0002.jpg", m_Card.written[0].first);
  EXPECT_TRUE(m_Card.written[0].second == data);
  EXPECT_EQ(before, GlobalBlockCount());  // the transfer block goes back
}

TEST_F(CardDestinationTest, CardPathsOver32CharactersAndUnreadableFilesAreRefused) {
  CCardDestination longName(&m_Card, "C:\\DCIM\\100ABCDE\\XYZ", m_Work);  // 33 with the name
  const std::string staging = longName.GetStagingFolder();
  std::filesystem::create_directories(staging);
  WriteFile(staging + "/IMAG0001.jpg", "x");
  EXPECT_EQ(TRANSFER_NAME_TOO_LONG, longName.Deliver(staging + "/IMAG0001.jpg"));
  CCardDestination fits(&m_Card, "C:\\DCIM\\100ABCDE\\XY", m_Work);  // exactly 32
  EXPECT_EQ(TRANSFER_OK, fits.Deliver(staging + "/IMAG0001.jpg"));
  EXPECT_EQ(TRANSFER_UNREADABLE, fits.Deliver(staging + "/missing.jpg"));
  EXPECT_EQ(TRANSFER_UNREADABLE, fits.Deliver(staging));  // a folder
  ASSERT_EQ(1u, m_Card.written.size());
  EXPECT_EQ(32u, m_Card.written[0].first.size());
}

struct StatusCase {
  DWORD status;
  int code;
};

class CardStatusTest : public CardDestinationTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CardStatusTest, WriteStatusMapsToItsCode) {
  CCardDestination dest(&m_Card, "C:\\DCIM\\100ABCDE", m_Work);
  std::filesystem::create_directories(dest.GetStagingFolder());
  WriteFile(dest.GetStagingFolder() + "/IMAG0001.jpg", "x");
  m_Card.writeStatuses = {GetParam().status};
  EXPECT_EQ(GetParam().code, dest.Deliver(dest.GetStagingFolder() + "/IMAG0001.jpg"));
}

INSTANTIATE_TEST_SUITE_P(Table, CardStatusTest,
                         ::testing::Values(StatusCase{0, TRANSFER_OK}, StatusCase{1, TRANSFER_NO_UNIT},
                                           StatusCase{8, TRANSFER_LOCKED}, StatusCase{512, TRANSFER_CARD_FULL},
                                           StatusCase{0x80000000u, TRANSFER_NO_REPLY},
                                           StatusCase{2, TRANSFER_UNKNOWN_STATUS}),
    [](const auto& info) { return "Status" + std::to_string(info.param.status); });

TEST_F(CardDestinationTest, ARunNumbersAfterTheCardSendsEveryPictureAndLeavesNoStagedFile) {
  WriteJpeg(m_In + "/a.jpg", 64, 48, Qt::red);
  WriteBmp(m_In + "/b.bmp", 64, 48, Qt::blue);
  m_Card.listing = {"C:\\DCIM\\100ABCDE\\IMAG0007.JPG"};
  CCardDestination dest(&m_Card, "C:\\DCIM\\100ABCDE", m_Work);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  EXPECT_EQ(1, RunFolder(&worker, &dest));
  EXPECT_TRUE(worker.GetErrorList().empty());
  ASSERT_EQ(2u, m_Card.written.size());
  EXPECT_EQ("C:\\DCIM\\100ABCDE\\IMAG0008.jpg", m_Card.written[0].first);
  EXPECT_EQ("C:\\DCIM\\100ABCDE\\IMAG0009.jpg", m_Card.written[1].first);
  for (const auto& [path, bytes] : m_Card.written) {
    EXPECT_TRUE(FindExifSegment(bytes).found) << path;
    QImage image;
    ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())));
    EXPECT_EQ(QSize(64, 48), image.size());
  }
  EXPECT_EQ(1u, m_Card.listedFolders.size());  // listed once per run
  EXPECT_EQ(1, m_Card.endTransfers);
  EXPECT_TRUE(ListFolder(dest.GetStagingFolder()).empty());
}

TEST_F(CardDestinationTest, NoMainUnitStopsTheRunAndListsEveryFileLeft) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteJpeg(m_In + "/" + name, 32, 16, Qt::red);
  m_Card.writeStatuses = {1};
  CCardDestination dest(&m_Card, "C:\\DCIM\\100ABCDE", m_Work);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  RunFolder(&worker, &dest);
  const std::string text = "Unable to use the main unit.  Please confirm the power supply or the connection.";
  const auto entries = Entries(worker);
  ASSERT_EQ(3u, entries.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m_In + "/" + std::string(1, static_cast<char>('a' + i)) + ".jpg", entries[i].first);
    EXPECT_EQ(text, entries[i].second);
  }
  EXPECT_EQ(1u, m_Card.written.size());
  EXPECT_TRUE(ListFolder(dest.GetStagingFolder()).empty());
}

TEST_F(CardDestinationTest, AStagingFolderThatCannotBeMadeIsFatalAndShownAtOnce) {
  WriteJpeg(m_In + "/a.jpg", 32, 16, Qt::red);
  WriteJpeg(m_In + "/b.jpg", 32, 16, Qt::red);
  std::filesystem::create_directories(m_Work);
  WriteFile(m_Work + "/TRANS", "a file where the folder belongs");
  CCardDestination dest(&m_Card, "C:\\DCIM\\100ABCDE", m_Work);
  CConvertWorker worker(m_Work, m_Office, &m_Host);
  EXPECT_EQ(0, RunFolder(&worker, &dest));
  EXPECT_TRUE(worker.IsFatal());
  EXPECT_EQ((std::vector<UINT>{IDS_INTERNAL_ERROR}), m_Host.messages);
  EXPECT_TRUE(m_Card.written.empty());
  EXPECT_EQ(0, m_Card.endTransfers);
}

}  // namespace
