// Pieces shared by the still-image tests: a user-interface service that
// answers message boxes and file choosers from a script and records them, a
// host that records the live-monitor calls, and small pictures.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QPointer>

class QMdiArea;

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Common/Bitmap.h"
#include "Image/ImageFrame.h"
#include "Image/ImageHost.h"
#include "Image/ImageView.h"
#include "Platform/UiService.h"

namespace fotavi::image_test {

class ScriptedUi : public IUserInterfaceService {
 public:
  struct Box {
    std::string text;
    UINT type;
  };
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override;
  FileChooserResult ChooseFile(HWND, const FileChooserRequest& request) override;
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }

  std::deque<int> boxAnswers;          // next answers; IDOK when empty
  std::deque<std::string> chooserAnswers;  // next chosen paths; "" cancels
  std::vector<Box> boxes;
  std::vector<FileChooserRequest> choosers;
};

// Installs a ScriptedUi for the test's life.
class UiScope {
 public:
  UiScope();
  ~UiScope();
  ScriptedUi ui;
};

class RecordingHost : public CImageHost {
 public:
  bool SuspendLive() override {
    ++suspends;
    return liveRunning;
  }
  void ResumeLive() override { ++resumes; }
  void UncheckPalette() override { ++unchecks; }
  void EraseArea() override { ++eraseAreas; }
  void EraseAll() override { ++eraseAlls; }
  HWND GetMainWnd() const override { return mainWnd; }

  bool liveRunning = false;
  int suspends = 0, resumes = 0, unchecks = 0, eraseAreas = 0, eraseAlls = 0;
  HWND mainWnd = nullptr;
};

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// A picture whose every pixel differs from its neighbours (for turns).
CBitmap24 PatternPicture(int width, int height);
CBitmap24 PlainPicture(int width, int height, QColor color);

// A still-image window without a main frame, on `host`, showing `picture`
// at `zoom` with a client area of `client`.
struct ImageWindow {
  ImageWindow(CImageHost* host, const CBitmap24& picture, double zoom = 1.0, QSize client = QSize(200, 160));
  ~ImageWindow();
  QMdiArea* area = nullptr;  // the window area the frame lives in
  CImageFrame* frame = nullptr;
  CImageView* view = nullptr;
  CImageDoc* doc = nullptr;
  QPointer<CImageFrame> alive;  // null once the frame has closed itself
};

// True where the drawing layer holds a stroke.
bool Drawn(const CImageView* view, int x, int y);
int CountDrawn(const CImageView* view);

std::string ReadFileBytes(const std::string& path);
void PumpEvents(int ms = 5);

}  // namespace fotavi::image_test
