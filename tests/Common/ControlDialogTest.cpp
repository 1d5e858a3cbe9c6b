// The modal-box counter: counting, the end notice posted once when the
// outermost box closes, message boxes through the user-interface service.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ControlDialog.h"
#include "Platform/Messages.h"
#include "StringTable.h"

namespace {

// Records the message boxes it is asked to show and answers with a fixed button.
class RecordingService : public IUserInterfaceService {
 public:
  struct Box {
    HWND owner;
    std::string text, caption;
    UINT type;
  };
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override {
    boxes.push_back({owner, text, caption, type});
    if (onBox) onBox();
    return answer;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  std::vector<Box> boxes;
  int answer = IDOK;
  std::function<void()> onBox;
};

// A window target on the test thread that counts WM_CONTROLDIALOG_END.
class ControlDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
          if (msg == WM_CONTROLDIALOG_END) {
            ++ends_;
            EXPECT_EQ(0u, wParam);
            EXPECT_EQ(0, lParam);
          }
          return 0;
        },
        "main");
    ASSERT_NE(nullptr, window_);
    old_ = SetUserInterfaceService(&service_);
  }
  void TearDown() override {
    SetUserInterfaceService(old_);
    DestroyWindow(window_);
    DrainMessages();
  }
  int Ends() {
    DrainMessages();
    return ends_;
  }

  HWND window_ = nullptr;
  int ends_ = 0;
  RecordingService service_;
  IUserInterfaceService* old_ = nullptr;
};

TEST_F(ControlDialogTest, NestedBoxesPostTheEndOnceWhenTheOuterCloses) {
  CControlDialog counter;
  EXPECT_TRUE(counter.SetNotifyWnd(window_));
  EXPECT_EQ(1, counter.BeginModal());
  EXPECT_EQ(2, counter.BeginModal());
  EXPECT_EQ(1, counter.EndModal());
  EXPECT_EQ(0, Ends());
  EXPECT_EQ(0, counter.EndModal());
  EXPECT_EQ(1, Ends());
  EXPECT_EQ(0, counter.GetModalCount());
}

TEST_F(ControlDialogTest, BeginWithoutEndKeepsTheCountUp) {
  CControlDialog counter;
  counter.SetNotifyWnd(window_);
  counter.BeginModal();
  EXPECT_EQ(1, counter.GetModalCount());
  EXPECT_EQ(0, Ends());
}

TEST_F(ControlDialogTest, WithoutNotifyWindowTheCountStillWorks) {
  CControlDialog counter;
  EXPECT_EQ(1, counter.BeginModal());
  EXPECT_EQ(0, counter.EndModal());
  EXPECT_EQ(0, Ends());
}

TEST_F(ControlDialogTest, SetNotifyWndStoresWindowsOrNullOnly) {
  CControlDialog counter;
  EXPECT_TRUE(counter.SetNotifyWnd(window_));
  EXPECT_EQ(window_, counter.GetNotifyWnd());
  HWND gone = CreateWindowTarget([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "gone");
  DestroyWindow(gone);
  EXPECT_FALSE(counter.SetNotifyWnd(gone));
  EXPECT_EQ(window_, counter.GetNotifyWnd());
  EXPECT_FALSE(counter.SetNotifyWnd(nullptr));
  EXPECT_EQ(nullptr, counter.GetNotifyWnd());
}

TEST_F(ControlDialogTest, MessageBoxIsCountedWhileShownAndPostsTheEnd) {
  CControlDialog counter;
  counter.SetNotifyWnd(window_);
  SetApplicationTitle("Fotavi");
  LONG countDuringBox = -1;
  service_.onBox = [&] { countDuringBox = counter.GetModalCount(); };
  service_.answer = IDNO;
  EXPECT_EQ(IDNO, counter.AfxMessageBox("Save changes?", MB_YESNOCANCEL | MB_ICONEXCLAMATION));
  EXPECT_EQ(1, countDuringBox);
  ASSERT_EQ(1u, service_.boxes.size());
  EXPECT_EQ("Save changes?", service_.boxes[0].text);
  EXPECT_EQ("Fotavi", service_.boxes[0].caption);
  EXPECT_EQ(MB_YESNOCANCEL | MB_ICONEXCLAMATION, service_.boxes[0].type);
  EXPECT_EQ(1, Ends());
}

TEST_F(ControlDialogTest, MessageBoxByStringIdUsesTheProgramsTable) {
  CControlDialog counter;
  SetStringTableEntry(160, "The specified file is not available.");
  counter.AfxMessageBox(160, MB_ICONEXCLAMATION);
  counter.MessageBox(nullptr, "plain", "Caption", MB_OK | MB_ICONSTOP);
  ASSERT_EQ(2u, service_.boxes.size());
  EXPECT_EQ("The specified file is not available.", service_.boxes[0].text);
  EXPECT_EQ("Caption", service_.boxes[1].caption);
  EXPECT_EQ(MB_OK | MB_ICONSTOP, service_.boxes[1].type);
  ClearStringTable();
}

TEST_F(ControlDialogTest, BoxesFromManyThreadsEndWithOneNotice) {
  CControlDialog counter;
  counter.SetNotifyWnd(window_);
  counter.BeginModal();  // an outer box on the main thread
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&counter] {
      for (int i = 0; i < 1000; ++i) {
        counter.BeginModal();
        counter.EndModal();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(1, counter.GetModalCount());
  EXPECT_EQ(0, Ends());
  counter.EndModal();
  EXPECT_EQ(1, Ends());
}

}  // namespace
