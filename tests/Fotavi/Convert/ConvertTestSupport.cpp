#include "ConvertTestSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Common/Bmp.h"
#include "Common/Jpeg.h"
#include "TransErrEntry.h"

namespace fs = std::filesystem;

namespace convert_test {

std::string MakeTempFolder(const char* tag) {
  std::string pattern = (fs::temp_directory_path() / (std::string("fotavi-convert-") + tag + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void IsolateEnvironment(const std::string& root) {
  ::setenv("FOTAVI_MACHINE_SETTINGS", (root + "/machine.conf").c_str(), 1);
  ::setenv("FOTAVI_USER_SETTINGS", (root + "/user.conf").c_str(), 1);
  fs::create_directories(root + "/work");
  ::setenv("FOTAVI_WORK_DIR", (root + "/work").c_str(), 1);
  ::setenv("FOTAVI_CACHE_DIR", (root + "/cache").c_str(), 1);
  fs::create_directories(root + "/fallback");
  ::setenv("FOTAVI_FALLBACK_ROOT", (root + "/fallback/").c_str(), 1);
  // Inside the fallback root, so the folder listings of the tests stay as they are.
  ::setenv("XDG_STATE_HOME", (root + "/fallback/state").c_str(), 1);
}

std::string PathOfLength(const std::string& base, size_t units, const std::string& ch, size_t chUnits,
                         const std::string& tail) {
  std::string path = base + "/";
  size_t have = base.size() + 1 + tail.size();  // ASCII: one unit per byte
  size_t run = 0;
  while (have < units) {
    const size_t left = units - have;
    if (run == 60 && left > 1) {
      path += "/";
      ++have;
      run = 0;
      continue;
    }
    if (chUnits <= left) {
      path += ch;
      have += chUnits;
    } else {
      path += "x";
      ++have;
    }
    ++run;
  }
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {
QImage Solid(int width, int height, QColor colour, QColor corner) {
  QImage image(width, height, QImage::Format_BGR888);
  image.fill(colour);
  if (corner.isValid()) {
    for (int y = 0; y < height / 2; ++y)
      for (int x = 0; x < width / 2; ++x) image.setPixelColor(x, y, corner);
  }
  return image;
}
}  // namespace

void WriteJpeg(const std::string& path, int width, int height, QColor colour, QColor corner) {
  CJpeg jpeg;
  if (!jpeg.Save(path, Solid(width, height, colour, corner), 90)) std::abort();
}

void WriteBmp(const std::string& path, int width, int height, QColor colour) {
  CBmp bmp;
  if (!bmp.Save(path, Solid(width, height, colour, QColor()))) std::abort();
}

void WriteBmp8(const std::string& path, int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_Indexed8);
  image.setColorTable({colour.rgb()});
  image.fill(0);
  if (!image.save(QString::fromStdString(path), "BMP")) std::abort();
}

QImage ReadImage(const std::string& path) {
  QImage image;
  image.load(QString::fromStdString(path), "JPEG");
  return image;
}

bool Near(QRgb actual, QColor expected, int tolerance) {
  return std::abs(qRed(actual) - expected.red()) <= tolerance &&
         std::abs(qGreen(actual) - expected.green()) <= tolerance &&
         std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status) *status = rc;
  return output;
}

bool HaveProgram(const char* name) {
  int status = 0;
  RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

uint32_t Le32(const std::string& d, size_t p) {
  if (p + 4 > d.size()) return 0;
  return static_cast<uint8_t>(d[p]) | static_cast<uint8_t>(d[p + 1]) << 8 | static_cast<uint8_t>(d[p + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d[p + 3])) << 24;
}

uint16_t Le16(const std::string& d, size_t p) {
  if (p + 2 > d.size()) return 0;
  return static_cast<uint16_t>(static_cast<uint8_t>(d[p]) | static_cast<uint8_t>(d[p + 1]) << 8);
}

ExifSegment FindExifSegment(const std::string& file) {
  ExifSegment s;
  if (file.size() < 12 || static_cast<uint8_t>(file[0]) != 0xFF || static_cast<uint8_t>(file[1]) != 0xD8) return s;
  if (static_cast<uint8_t>(file[2]) != 0xFF || static_cast<uint8_t>(file[3]) != 0xE1) return s;
  s.length = static_cast<uint16_t>(static_cast<uint8_t>(file[4]) << 8 | static_cast<uint8_t>(file[5]));
  if (file.compare(6, 6, std::string("Exif\0\0", 6)) != 0) return s;
  s.segmentEnd = 4 + static_cast<size_t>(s.length);
  if (s.segmentEnd > file.size()) return s;
  s.tiff = file.substr(12, s.segmentEnd - 12);
  s.found = true;
  return s;
}

bool ReadIfd(const std::string& tiff, uint32_t offset, TiffIfd* ifd) {
  if (offset + 2 > tiff.size()) return false;
  ifd->offset = offset;
  const uint16_t count = Le16(tiff, offset);
  if (offset + 2 + 12u * count + 4 > tiff.size()) return false;
  ifd->entries.clear();
  for (uint16_t i = 0; i < count; ++i) {
    const uint32_t at = offset + 2 + 12u * i;
    TiffEntry e;
    e.tag = Le16(tiff, at);
    e.type = Le16(tiff, at + 2);
    e.count = Le32(tiff, at + 4);
    e.valueOrOffset = Le32(tiff, at + 8);
    e.entryOffset = at;
    ifd->entries.push_back(e);
  }
  ifd->next = Le32(tiff, offset + 2 + 12u * count);
  return true;
}

std::vector<std::pair<std::string, std::string>> Entries(const CConvertWorker& worker) {
  std::vector<std::pair<std::string, std::string>> out;
  for (HGLOBAL e : worker.GetErrorList()) out.emplace_back(TransErrFileName(e), TransErrMessage(e));
  return out;
}

void ConvertFixture::SetUp() {
  m_Root = MakeTempFolder("test");
  IsolateEnvironment(m_Root);
  m_Work = m_Root + "/work/FotaviK27_Cache";
  m_Office = m_Root + "/cache/FotaviK27_Office";
  m_In = m_Root + "/in";
  m_Out = m_Root + "/out";
  fs::create_directories(m_In);
  fs::create_directories(m_Out);
}

void ConvertFixture::TearDown() { RemoveTree(m_Root); }

int ConvertFixture::RunFile(CConvertWorker* worker, const std::string& file, IConvertDestination* dest) {
  worker->SetFileMode(true);
  worker->SetSourceFile(file);
  worker->SetDestination(dest);
  worker->PrepareRun();
  return worker->ConvertThread();
}

int ConvertFixture::RunFolder(CConvertWorker* worker, IConvertDestination* dest) const {
  worker->SetFileMode(false);
  worker->SetSourceFolder(m_In);
  worker->SetDestination(dest);
  worker->PrepareRun();
  return worker->ConvertThread();
}

}  // namespace convert_test
