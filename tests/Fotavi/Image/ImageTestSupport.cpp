#include "ImageTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QThread>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Image/ImageDoc.h"
#include "Platform/Messages.h"

namespace fotavi::image_test {

int ScriptedUi::MessageBox(HWND, const std::string& text, const std::string&, UINT type) {
  boxes.push_back({text, type});
  if (boxAnswers.empty()) return IDOK;
  const int answer = boxAnswers.front();
  boxAnswers.pop_front();
  return answer;
}

FileChooserResult ScriptedUi::ChooseFile(HWND, const FileChooserRequest& request) {
  choosers.push_back(request);
  FileChooserResult result;
  if (!chooserAnswers.empty()) {
    const std::string path = chooserAnswers.front();
    chooserAnswers.pop_front();
    if (!path.empty()) {
      result.accepted = true;
      result.paths = {path};
    }
  }
  return result;
}

UiScope::UiScope() { SetUserInterfaceService(&ui); }
UiScope::~UiScope() { SetUserInterfaceService(nullptr); }

TempDir::TempDir() {
  char tmpl[] = "/tmp/fotavi-image-XXXXXX";
  dir_ = mkdtemp(tmpl);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

CBitmap24 PatternPicture(int width, int height) {
  CBitmap24 picture = CreateBitmap24(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) picture.setPixelColor(x, y, QColor((x * 37) % 256, (y * 53) % 256, (x + y) % 256));
  return picture;
}

CBitmap24 PlainPicture(int width, int height, QColor color) {
  CBitmap24 picture = CreateBitmap24(width, height);
  picture.fill(color);
  return picture;
}

ImageWindow::ImageWindow(CImageHost* host, const CBitmap24& picture, double zoom, QSize client) {
  area = new QMdiArea();
  area->resize(1000, 800);
  area->show();
  frame = new CImageFrame(nullptr, std::make_unique<CImageDoc>(nullptr), host);
  area->addSubWindow(frame);
  alive = frame;
  view = frame->GetImageView();
  doc = frame->GetImageDoc();
  doc->GetViewData()->SetBitmap(picture);
  view->DrawPicture();
  frame->FitToClientSize(client);
  view->SetZoom(zoom);
  doc->SetModifiedFlag(false);
  PumpEvents();
}

ImageWindow::~ImageWindow() {
  // A frame that closed itself took its document along.
  if (alive) {
    doc->SetModifiedFlag(false);
    delete alive.data();
  }
  delete area;
}

bool Drawn(const CImageView* view, int x, int y) { return qAlpha(view->GetDrawingLayer().pixel(x, y)) != 0; }

int CountDrawn(const CImageView* view) {
  const QImage& layer = view->GetDrawingLayer();
  int count = 0;
  for (int y = 0; y < layer.height(); ++y)
    for (int x = 0; x < layer.width(); ++x)
      if (qAlpha(layer.pixel(x, y)) != 0) ++count;
  return count;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PumpEvents(int ms) {
  QElapsedTimer t;
  t.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    DrainMessages();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  } while (t.elapsed() < ms);
}

}  // namespace fotavi::image_test
