#include "MovTestSupport.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <system_error>

#include <gtest/gtest.h>

#include "TestEnv.h"
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace movtest {

CBitmap24 MakeFrame(LONG width, LONG height, int index) {
  CBitmap24 dib = CreateBitmap24(width, height);
  for (LONG y = 0; y < height; ++y) {
    BYTE* row = dib.scanLine(y);
    for (LONG x = 0; x < width; ++x) {
      BYTE* p = row + x * 3;
      if (x < 8 && y < 8) {
        p[0] = static_cast<BYTE>(index);
        p[1] = static_cast<BYTE>(255 - index);
        p[2] = 0x80;
      } else {
        p[0] = static_cast<BYTE>(x + index);
        p[1] = static_cast<BYTE>(y);
        p[2] = static_cast<BYTE>((x + y) / 2);
      }
    }
  }
  return dib;
}

namespace {
// Folders made by this test program, removed when it ends.
struct FolderList {
  std::vector<std::string> folders;
  ~FolderList() {
    if (getenv("FOTAVIMOV_KEEP_FILES")) return;  // for looking at them by hand
    std::error_code ec;
    for (const auto& f : folders) std::filesystem::remove_all(f, ec);
  }
};
FolderList& Folders() {
  static FolderList list;
  return list;
}
}  // namespace

CBitmap24 MakeNoiseFrame(LONG width, LONG height, unsigned seed) {
  CBitmap24 dib = CreateBitmap24(width, height);
  uint32_t x = seed * 2654435761u + 1;
  BYTE* bits = dib.bits();
  for (qsizetype i = 0; i < dib.sizeInBytes(); ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bits[i] = static_cast<BYTE>(x);
  }
  return dib;
}

std::string BottomUpRows(const CBitmap24& picture) {
  std::string rows;
  for (int y = picture.height() - 1; y >= 0; --y)
    rows.append(reinterpret_cast<const char*>(picture.constScanLine(y)), picture.bytesPerLine());
  return rows;
}

namespace {
// Settings, trace logs and work folders of the tests stay in a folder of
// their own, never the user's or the build's.
struct Isolation {
  Isolation() { Folders().folders.push_back(fotavi_test::IsolateEnvironment("mov")); }
} g_Isolation;
}  // namespace

std::string MakeFolder(const char* tag) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string("fotavimov-") + tag + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) return {};
  Folders().folders.push_back(pattern);
  return pattern + "/";
}

SmallDisk::SmallDisk(const char* size) : dir_(MakeFolder("tmpfs")) {
  const std::string options = std::string("size=") + size + ",mode=0700";
  mounted_ = geteuid() == 0 && mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
}

std::string Numbered(const std::string& folder, const std::string& base, int counter, const std::string& ext) {
  if (counter == 0) return folder + base + ext;
  char n[8];
  snprintf(n, sizeof(n), "%03d", counter);
  return folder + base + n + ext;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

bool HaveTool(const char* name) {
  int status = 0;
  Run(std::string("command -v ") + name, &status);
  // scripts/setup.sh installs every oracle; a missing one is a failure, not a skip.
  EXPECT_EQ(status, 0) << name << " is missing: run scripts/setup.sh";
  return status == 0;
}

std::string Quote(const std::string& path) {
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::map<std::string, std::string> MediaInfoVideo(const std::string& path, const std::vector<std::string>& fields) {
  std::string inform = "Video;";
  for (size_t i = 0; i < fields.size(); ++i) inform += (i ? "|%" : "%") + fields[i] + "%";
  std::string out = Run("mediainfo --Inform=" + Quote(inform) + " " + Quote(path));
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  std::map<std::string, std::string> result;
  size_t start = 0;
  for (const auto& f : fields) {
    const size_t bar = out.find('|', start);
    result[f] = out.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    start = bar == std::string::npos ? out.size() : bar + 1;
  }
  return result;
}

Discovered Discover(const std::string& path) {
  Discovered d;
  int status = 0;
  const std::string out = Run("gst-discoverer-1.0 -v " + Quote(path), &status);
  std::smatch m;
  if (std::regex_search(out, m, std::regex(R"(video #\d+: ([^\n]*))"))) d.caps = m[1];
  if (std::regex_search(out, m, std::regex(R"(Width: (\d+))"))) d.width = std::stoi(m[1]);
  if (std::regex_search(out, m, std::regex(R"(Height: (\d+))"))) d.height = std::stoi(m[1]);
  if (std::regex_search(out, m, std::regex(R"(Duration: (\d+):(\d+):(\d+)\.(\d{3}))"))) {
    d.durationMs = ((std::stoll(m[1]) * 60 + std::stoll(m[2])) * 60 + std::stoll(m[3])) * 1000 + std::stoll(m[4]);
  }
  d.ok = d.width > 0 && d.height > 0;
  return d;
}

AsfDemuxed GstAsfVideo(const std::string& path) {
  AsfDemuxed d;
  const std::string out =
      Run("gst-launch-1.0 -v filesrc location=" + Quote(path) + " ! asfdemux ! fakesink silent=false");
  std::smatch m;
  if (std::regex_search(out, m, std::regex(R"(fakesink0\.GstPad:sink: caps = ([^\n]*))"))) d.caps = m[1];
  if (std::regex_search(d.caps, m, std::regex(R"(width=\(int\)(\d+))"))) d.width = std::stoi(m[1]);
  if (std::regex_search(d.caps, m, std::regex(R"(height=\(int\)(\d+))"))) d.height = std::stoi(m[1]);
  const std::regex pts(R"(chain.*pts: (\d+):(\d+):(\d+)\.(\d{3}))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), pts); it != std::sregex_iterator(); ++it) {
    const auto& p = *it;
    d.ptsMs.push_back(((std::stoll(p[1]) * 60 + std::stoll(p[2])) * 60 + std::stoll(p[3])) * 1000 + std::stoll(p[4]));
  }
  return d;
}

namespace {
uint32_t U32(const std::string& s, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= s.size()) memcpy(&v, s.data() + at, 4);
  return v;
}
uint16_t U16(const std::string& s, size_t at) {
  uint16_t v = 0;
  if (at + 2 <= s.size()) memcpy(&v, s.data() + at, 2);
  return v;
}

void Walk(const std::string& f, size_t begin, size_t end, RiffAvi* avi, bool inMovi) {
  size_t at = begin;
  while (at + 8 <= end) {
    const std::string id = f.substr(at, 4);
    const uint32_t size = U32(f, at + 4);
    const size_t data = at + 8;
    if (data + size > f.size()) {
      avi->error = "chunk " + id + " runs past the end";
      return;
    }
    if (id == "LIST" || id == "RIFF") {
      const std::string kind = f.substr(data, 4);
      if (kind == "AVIX" || kind == "odml") avi->openDml = true;
      Walk(f, data + 4, data + size, avi, kind == "movi");
    } else if (id == "avih") {
      avi->microSecPerFrame = U32(f, data);
      avi->totalFrames = U32(f, data + 16);
      avi->streams = U32(f, data + 24);
      avi->width = U32(f, data + 32);
      avi->height = U32(f, data + 36);
    } else if (id == "strh") {
      avi->fccType = f.substr(data, 4);
      avi->fccHandler = f.substr(data + 4, 4);
      avi->scale = U32(f, data + 20);
      avi->rate = U32(f, data + 24);
      avi->length = U32(f, data + 32);
      avi->suggestedBufferSize = U32(f, data + 36);
    } else if (id == "strf") {
      avi->biWidth = static_cast<int32_t>(U32(f, data + 4));
      avi->biHeight = static_cast<int32_t>(U32(f, data + 8));
      avi->biBitCount = U16(f, data + 14);
      avi->biCompression = U32(f, data + 16);
      avi->biSizeImage = U32(f, data + 20);
    } else if (id == "idx1") {
      for (size_t e = data; e + 16 <= data + size; e += 16) {
        ++avi->indexEntries;
        if (U32(f, e + 4) & 0x10) ++avi->keyFrames;
      }
    } else if (inMovi && id.substr(0, 2) == "00") {
      avi->chunkIds.push_back(id);
      avi->chunkData.push_back(f.substr(data, size));
    }
    at = data + size + (size & 1);
  }
}
}  // namespace

RiffAvi ReadRiffAvi(const std::string& path) {
  RiffAvi avi;
  std::ifstream in(path, std::ios::binary);
  const std::string f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() < 12 || f.compare(0, 4, "RIFF") != 0 || f.compare(8, 4, "AVI ") != 0) {
    avi.error = "not a RIFF AVI file";
    return avi;
  }
  Walk(f, 0, f.size(), &avi, false);
  avi.ok = avi.error.empty();
  return avi;
}

::testing::AssertionResult AviHoldsFrames(const std::string& path, size_t frames) {
  const RiffAvi r = ReadRiffAvi(path);
  if (!r.ok) return ::testing::AssertionFailure() << path << " does not read as an AVI file: " << r.error;
  if (r.chunkIds.size() != frames)
    return ::testing::AssertionFailure() << path << " holds " << r.chunkIds.size() << " frames, not " << frames;
  return ::testing::AssertionSuccess();
}

}  // namespace movtest
