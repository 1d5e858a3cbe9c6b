// Thumbnail loading against the camera emulator: reads, the cache, cancel,
// read errors, and every reply block back to the library.
#include <dirent.h>

#include <fstream>
#include <sstream>

#include "CardFixture.h"
#include "CardFolders.h"
#include "Jpeg.h"
#include "ThumbnailLoader.h"

namespace fotavi::test {
namespace {

// The list widget's side, recorded.
class RecordingView : public IThumbnailView {
 public:
  void ThumbBegin(int count) override { events.push_back("begin " + std::to_string(count)); }
  void ThumbProgress(int count, int done) override {
    events.push_back("progress " + std::to_string(done) + "/" + std::to_string(count));
  }
  void ThumbEnd() override { events.push_back("end"); }
  void DeleteAllItems() override { items.clear(); }
  AddResult AddThumbnail(const std::string& name, const CBitmap24& thumbnail, const std::string& sdFile,
                         const std::string& cacheFile) override {
    items.push_back(name);
    sizes.push_back(thumbnail.size());
    pictures.push_back(thumbnail);
    cacheFiles.push_back(cacheFile);
    sdFiles.push_back(sdFile);
    if (onAdd) onAdd(items.size());
    return ADD_OK;
  }
  void ShowMessage(UINT stringId, UINT) override { messages.push_back(stringId); }
  void ShowErrors(const CErrorList& errors) override {
    std::vector<std::string> shown;
    for (HGLOBAL e : errors) shown.push_back(TransErrFileName(e) + ": " + TransErrMessage(e));
    errorDialogs.push_back(shown);
  }
  std::vector<std::string> events, items, sdFiles, cacheFiles;
  std::vector<QSize> sizes;
  std::vector<CBitmap24> pictures;
  std::vector<UINT> messages;
  std::vector<std::vector<std::string>> errorDialogs;
  std::function<void(size_t)> onAdd;
};

class ThumbnailTest : public CardFixture {
 protected:
  void SetUp() override {
    CardFixture::SetUp();
    MakeCardFolder("DCIM/100ABCDE");
    for (int i = 1; i <= 3; ++i) PutCardFile("DCIM/100ABCDE/ABCD000" + std::to_string(i) + ".JPG", MakeJpeg(640, 480, i));
  }
  void TearDown() override {
    loader_.reset();
    CardFixture::TearDown();
  }
  void MakeLoader() {
    loader_ = std::make_unique<CThumbnailLoader>(device_, &view_);
    loader_->Init();
    loader_->SetFolderSource([this] { return folder_; });
  }
  // Loads the folder and waits for the end of the loading.
  void Load(bool fresh = false) {
    loader_->OnLoadThumbnails(fresh);
    ASSERT_TRUE(PumpUntil([&] { return !loader_->IsLoading(); }));
  }
  std::vector<std::string> CacheFiles() const {
    std::vector<std::string> out;
    DIR* dir = opendir((loader_->GetCacheRoot() + "/CDCIM100ABCDE").c_str());
    if (!dir) return out;
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
  }
  RecordingView view_;
  std::unique_ptr<CThumbnailLoader> loader_;
  std::string folder_ = "C:\\DCIM\\100ABCDE";
};

TEST_F(ThumbnailTest, LoadsEachPictureOnceAndCachesA100x75Jpeg) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Load();
  EXPECT_EQ(view_.items, (std::vector<std::string>{"ABCD0001.JPG", "ABCD0002.JPG", "ABCD0003.JPG"}));
  EXPECT_EQ(view_.events, (std::vector<std::string>{"begin 3", "progress 1/3", "progress 2/3", "progress 3/3", "end"}));
  EXPECT_EQ(view_.sdFiles[0], "C:\\DCIM\\100ABCDE\\ABCD0001.JPG");
  for (const QSize& s : view_.sizes) EXPECT_EQ(s, QSize(100, 75));
  ASSERT_EQ(CacheFiles(), (std::vector<std::string>{"ABCD0001.JPG", "ABCD0002.JPG", "ABCD0003.JPG"}));
  // The cache holds real JPEG files of the thumbnail size (read by libjpeg itself).
  std::ifstream in(loader_->GetCacheRoot() + "/CDCIM100ABCDE/ABCD0002.JPG", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  int w = 0, h = 0;
  ASSERT_TRUE(JpegSize(bytes.str(), &w, &h));
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 75);
  EXPECT_EQ(CommandsIn("0x8104"), 3u);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_TRUE(view_.errorDialogs.empty());
}

// A fresh thumbnail shows the picture its cache file holds, the one a later
// load from the cache shows.
TEST_F(ThumbnailTest, AFreshThumbnailIsThePictureOfItsCacheFile) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Load();
  ASSERT_EQ(view_.pictures.size(), 3u);
  const std::vector<CBitmap24> fresh = view_.pictures;
  const std::vector<std::string> files = view_.cacheFiles;
  for (size_t i = 0; i < files.size(); ++i) {
    CBitmap24 fromFile;
    ASSERT_TRUE(CJpeg().Load(&fromFile, files[i], true, 100, 75)) << files[i];
    EXPECT_EQ(fresh[i], fromFile) << files[i];
  }
  view_.pictures.clear();
  Load();
  EXPECT_EQ(CommandsIn("0x8104"), 3u);  // the second load came from the cache
  EXPECT_EQ(view_.pictures, fresh);
}

TEST_F(ThumbnailTest, ASecondLoadComesFromTheCacheAndAFreshStartReadsTheCardAgain) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Load();
  const size_t reads = CommandsIn("0x8104"), lists = CommandsIn("0x8105");
  view_.events.clear();
  Load();
  EXPECT_TRUE(loader_->IsFromCache());
  EXPECT_EQ(view_.items.size(), 3u);
  EXPECT_EQ(view_.events.front(), "begin 3");
  EXPECT_EQ(CommandsIn("0x8104"), reads);
  EXPECT_EQ(CommandsIn("0x8105"), lists);
  Load(true);
  EXPECT_FALSE(loader_->IsFromCache());
  EXPECT_EQ(CommandsIn("0x8104"), reads + 3);
}

TEST_F(ThumbnailTest, CancelKeepsTheItemsReadSoFarAndDropsTheFolderCache) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  view_.onAdd = [&](size_t n) {
    if (n == 1) loader_->SetCancel();  // Escape while the first reply is handled
  };
  Load();
  EXPECT_EQ(view_.items, std::vector<std::string>{"ABCD0001.JPG"});
  EXPECT_EQ(view_.events.back(), "end");
  EXPECT_TRUE(CacheFiles().empty());
  EXPECT_TRUE(view_.errorDialogs.empty());
  EXPECT_FALSE(loader_->IsCancel());
  // Not cached: the next load reads the card.
  view_.onAdd = nullptr;
  Load();
  EXPECT_FALSE(loader_->IsFromCache());
  EXPECT_EQ(view_.items.size(), 3u);
}

struct ReadErrorCase {
  const char* what;
  std::function<void(ThumbnailTest*)> arrange;
  const char* entry;
};

TEST_F(ThumbnailTest, OneReadErrorGivesOneEntryAndLoadingGoesOn) {
  PutCardFile("DCIM/100ABCDE/ABCD0002.JPG", "this is not a JPEG");
  PutCardFile("DCIM/100ABCDE/Img-0005.JPG", "bad name");
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Load();
  EXPECT_EQ(view_.items, (std::vector<std::string>{"ABCD0001.JPG", "ABCD0003.JPG"}));
  ASSERT_EQ(view_.errorDialogs.size(), 1u);
  EXPECT_EQ(view_.errorDialogs[0], (std::vector<std::string>{"Img-0005.JPG: Invalid file name in SD memory.",
                                                             "ABCD0002.JPG: An internal error had occurred."}));
}

TEST_F(ThumbnailTest, ARefusedReadIsAnEntryAndAnEmptyFileShowsNothing) {
  PutCardFile("DCIM/100ABCDE/ABCD0004.JPG", "");
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Command("status 0x8104 4 response 1");
  Load();
  EXPECT_EQ(view_.items, (std::vector<std::string>{"ABCD0002.JPG", "ABCD0003.JPG"}));
  ASSERT_EQ(view_.errorDialogs.size(), 1u);
  EXPECT_EQ(view_.errorDialogs[0], std::vector<std::string>{"ABCD0001.JPG: Unable to access to SD memory."});
  EXPECT_EQ(view_.events.size(), 6u);  // begin, 4 x progress, end
}

TEST_F(ThumbnailTest, NoCardDuringLoadingStopsWithItsMessage) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  view_.onAdd = [&](size_t n) {
    if (n == 1) Command("card off");
  };
  Load();
  EXPECT_EQ(view_.items.size(), 1u);
  EXPECT_EQ(view_.messages, std::vector<UINT>{167});
  EXPECT_TRUE(CacheFiles().empty());
}

TEST_F(ThumbnailTest, OnlyBadNamesShowTheErrorListWithoutLoading) {
  CardFixture::MakeCardFolder("DCIM/101BADNM");
  PutCardFile("DCIM/101BADNM/picture.jpg", "x");
  folder_ = "C:\\DCIM\\101BADNM";
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  loader_->OnLoadThumbnails(false);
  EXPECT_FALSE(loader_->IsLoading());
  EXPECT_TRUE(view_.events.empty());
  ASSERT_EQ(view_.errorDialogs.size(), 1u);
  EXPECT_EQ(CommandsIn("0x8104"), 0u);
  // A folder without pictures and without errors: nothing at all.
  CardFixture::MakeCardFolder("DCIM/102EMPTY");
  folder_ = "C:\\DCIM\\102EMPTY";
  loader_->OnLoadThumbnails(false);
  EXPECT_TRUE(view_.events.empty());
  EXPECT_EQ(view_.errorDialogs.size(), 1u);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(ThumbnailTest, ANullReplyEndsTheReadAndTheLateRealReplyGoesBack) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Command("delay 0x8104 400");
  loader_->OnLoadThumbnails(false);
  ASSERT_TRUE(loader_->IsLoading());
  // A completion without record (the library could not make one).
  PostMessage(loader_->GetSafeHwnd(), WM_FOTAVI_REQUEST, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !loader_->IsLoading(); }));
  EXPECT_EQ(view_.messages, std::vector<UINT>{174});
  EXPECT_TRUE(view_.items.empty());
  // The real reply still arrives; it is handed back with its block.
  MSG msg;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 2000)
    if (GetMessageTimeout(&msg, 20) == WAIT_OBJECT_0) DispatchMessage(&msg);
  loader_.reset();
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(ThumbnailTest, ANewFolderWithoutWaitingEndsTheOldLoadingAndDropsItsLateReply) {
  CardFixture::MakeCardFolder("DCIM/101OTHER");
  PutCardFile("DCIM/101OTHER/ABCD0009.JPG", MakeJpeg(320, 240, 9));
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Command("delay 0x8104 300");
  loader_->OnLoadThumbnails(false);
  ASSERT_TRUE(loader_->IsLoading());
  loader_->LoadFolder("C:\\DCIM\\101OTHER");  // the first read is still in flight
  ASSERT_TRUE(PumpUntil([&] { return !loader_->IsLoading(); }));
  EXPECT_EQ(view_.items, std::vector<std::string>{"ABCD0009.JPG"});
  EXPECT_EQ(std::count(view_.events.begin(), view_.events.end(), "end"), 2);
  // The old folder's cache was not left half made.
  EXPECT_TRUE(CacheFiles().empty());
  loader_.reset();
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

TEST_F(ThumbnailTest, EveryReplyBlockGoesBackAndTheCacheRootIsEmptiedOnDestroy) {
  ASSERT_TRUE(StartCamera());
  MakeLoader();
  Load();
  Load(true);
  const std::string root = loader_->GetCacheRoot();
  EXPECT_TRUE(IsLocalFolder(root));
  loader_->OnDestroy();
  EXPECT_FALSE(IsLocalFolder(root));
  loader_.reset();
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

}  // namespace
}  // namespace fotavi::test
