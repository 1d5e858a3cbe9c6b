#include "JpegFrames.h"

#include <dirent.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include <jpeglib.h>

namespace fotavi::emu {

const uint8_t kLumaQuantZigzag[64] = {
    2, 2, 2,  2, 2, 2, 2,  2,  2,  2,  2,  2,  2,  2,  3,  5,  3,  3,  3,  3,  3,  6,
    4, 4, 3,  5, 7, 6, 7,  7,  7,  6,  7,  6,  8,  8,  11, 9,  8,  8,  10, 8,  6,  7,
    9, 13, 9, 10, 11, 11, 12, 12, 12, 7, 9, 13, 14, 13, 12, 14, 11, 12, 12, 12};

const uint8_t kChromaQuantZigzag[64] = {2,  2,  2,  3,  2,  3,  6,  3,  3,  6,  12, 8,  7,  8,  12, 12,
                                        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
                                        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
                                        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12};

const uint8_t kZigzagToNatural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                      12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                      35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                      58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* mgr = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, mgr->message);
  longjmp(mgr->jump, 1);
}

void SilentMessage(j_common_ptr, int) {}

// Offset of the SOS marker in a complete JPEG stream, walking the segments.
size_t FindScanStart(const uint8_t* data, size_t size) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  size_t pos = 2;
  while (pos + 4 <= size) {
    if (data[pos] != 0xFF) return 0;
    uint8_t marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xDA) return pos;
    size_t len = (static_cast<size_t>(data[pos + 2]) << 8) | data[pos + 3];
    pos += 2 + len;
  }
  return 0;
}

void NaturalTable(const uint8_t* zigzag, unsigned int* natural) {
  for (int i = 0; i < 64; ++i) natural[kZigzagToNatural[i]] = zigzag[i];
}

}  // namespace

Bytes EncodeFrameData(const uint8_t* bgr, std::string* errorArg) {
  std::string* volatile error = errorArg;  // survives the error handler's longjmp
  jpeg_compress_struct cinfo;
  ErrorManager err;
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = SilentMessage;
  if (setjmp(err.jump)) {
    if (error) *error = err.message;
    jpeg_destroy_compress(&cinfo);
    free(out);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = kFrameWidth;
  cinfo.image_height = kFrameHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);  // YCbCr, the standard Huffman tables of Annex K
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 1;
  cinfo.comp_info[0].quant_tbl_no = 0;
  for (int c = 1; c < 3; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
    cinfo.comp_info[c].quant_tbl_no = 1;
  }
  unsigned int luma[64], chroma[64];
  NaturalTable(kLumaQuantZigzag, luma);
  NaturalTable(kChromaQuantZigzag, chroma);
  jpeg_add_quant_table(&cinfo, 0, luma, 100, TRUE);
  jpeg_add_quant_table(&cinfo, 1, chroma, 100, TRUE);
  cinfo.optimize_coding = FALSE;
  cinfo.restart_interval = 0;
  cinfo.restart_in_rows = 0;
  cinfo.write_JFIF_header = FALSE;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(bgr + static_cast<size_t>(cinfo.next_scanline) * kFrameWidth * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);

  Bytes result;
  size_t sos = FindScanStart(out, outSize);
  if (sos == 0 || outSize < sos + 2 || out[outSize - 2] != 0xFF || out[outSize - 1] != 0xD9) {
    if (error) *error = "encoder output has no scan";
  } else {
    result.assign(out + sos, out + outSize);
  }
  free(out);
  return result;
}

bool DecodeJpegFile(const std::string& path, Bytes* bgr, int* width, int* height, std::string* errorArg) {
  std::string* volatile error = errorArg;  // survives the error handler's longjmp
  FILE* volatile f = fopen(path.c_str(), "rb");
  if (!f) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = SilentMessage;
  if (setjmp(err.jump)) {
    if (error) *error = path + ": " + err.message;
    jpeg_destroy_decompress(&cinfo);
    fclose(f);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  // Let the decoder shrink big pictures as long as they stay at least frame size.
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1;
  for (unsigned d = 8; d > 1; d /= 2) {
    if (cinfo.image_width / d >= static_cast<unsigned>(kFrameWidth) &&
        cinfo.image_height / d >= static_cast<unsigned>(kFrameHeight)) {
      cinfo.scale_denom = d;
      break;
    }
  }
  jpeg_start_decompress(&cinfo);
  *width = static_cast<int>(cinfo.output_width);
  *height = static_cast<int>(cinfo.output_height);
  bgr->assign(static_cast<size_t>(*width) * *height * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = bgr->data() + static_cast<size_t>(cinfo.output_scanline) * *width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  fclose(f);
  return true;
}

Bytes ScaleToFrame(const Bytes& src, int width, int height) {
  Bytes dst(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
  for (int y = 0; y < kFrameHeight; ++y) {
    double fy = (y + 0.5) * height / kFrameHeight - 0.5;
    int y0 = std::clamp(static_cast<int>(fy), 0, height - 1);
    int y1 = std::min(y0 + 1, height - 1);
    double wy = std::clamp(fy - y0, 0.0, 1.0);
    for (int x = 0; x < kFrameWidth; ++x) {
      double fx = (x + 0.5) * width / kFrameWidth - 0.5;
      int x0 = std::clamp(static_cast<int>(fx), 0, width - 1);
      int x1 = std::min(x0 + 1, width - 1);
      double wx = std::clamp(fx - x0, 0.0, 1.0);
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int xx, int yy) { return src[(static_cast<size_t>(yy) * width + xx) * 3 + c]; };
        double v = (at(x0, y0) * (1 - wx) + at(x1, y0) * wx) * (1 - wy) + (at(x0, y1) * (1 - wx) + at(x1, y1) * wx) * wy;
        dst[(static_cast<size_t>(y) * kFrameWidth + x) * 3 + c] = static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
      }
    }
  }
  return dst;
}

namespace {

// 5x7 digit glyphs, one byte per row, bit 4 = leftmost column.
const uint8_t kDigitFont[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};

void FillRect(Bytes& img, int x0, int y0, int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  for (int y = std::max(0, y0); y < std::min(kFrameHeight, y0 + h); ++y)
    for (int x = std::max(0, x0); x < std::min(kFrameWidth, x0 + w); ++x) {
      uint8_t* p = &img[(static_cast<size_t>(y) * kFrameWidth + x) * 3];
      p[0] = b;
      p[1] = g;
      p[2] = r;
    }
}

}  // namespace

Bytes DrawPatternFrame(int index) {
  Bytes img(static_cast<size_t>(kFrameWidth) * kFrameHeight * 3);
  // Colour bars (75%): white, yellow, cyan, green, magenta, red, blue, black;
  // they scroll to the left by 16 pixels per frame.
  static const uint8_t bars[8][3] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                                     {191, 0, 191},   {0, 0, 191},   {191, 0, 0},   {0, 0, 0}};
  const int barWidth = kFrameWidth / 8;
  const int shift = (index * 16) % kFrameWidth;
  for (int y = 0; y < kFrameHeight * 2 / 3; ++y)
    for (int x = 0; x < kFrameWidth; ++x) {
      const uint8_t* c = bars[((x + shift) % kFrameWidth) / barWidth];
      uint8_t* p = &img[(static_cast<size_t>(y) * kFrameWidth + x) * 3];
      p[0] = c[0];
      p[1] = c[1];
      p[2] = c[2];
    }
  // Grey ramp below the bars.
  for (int y = kFrameHeight * 2 / 3; y < kFrameHeight; ++y)
    for (int x = 0; x < kFrameWidth; ++x) {
      uint8_t v = static_cast<uint8_t>(x * 255 / (kFrameWidth - 1));
      uint8_t* p = &img[(static_cast<size_t>(y) * kFrameWidth + x) * 3];
      p[0] = p[1] = p[2] = v;
    }
  // A box that travels along the ramp.
  const int boxX = (index * 24) % (kFrameWidth - 96);
  FillRect(img, boxX, kFrameHeight * 2 / 3 + 40, 96, 96, 32, 200, 255);
  // Frame number: 4 digits of 5x7 cells, 12 pixels per cell, white on black.
  const int cell = 12;
  const int digits = 4;
  const int textW = digits * 6 * cell + cell;
  FillRect(img, 24, 24, textW, 9 * cell, 0, 0, 0);
  int number = index % 10000;
  for (int d = 0; d < digits; ++d) {
    int digit = (number / (d == 0 ? 1000 : d == 1 ? 100 : d == 2 ? 10 : 1)) % 10;
    int ox = 24 + cell + d * 6 * cell;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (kDigitFont[digit][row] & (0x10 >> col)) FillRect(img, ox + col * cell, 24 + cell + row * cell, cell, cell, 255, 255, 255);
  }
  // Fine noise, so that frames have the size of a real camera picture.
  uint32_t state = 0x9E3779B9u ^ static_cast<uint32_t>(index * 2654435761u);
  for (size_t i = 0; i < img.size(); ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    int v = img[i] + static_cast<int>(state % 11) - 5;
    img[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
  return img;
}

FrameSource::FrameSource(std::string pictureDir, int ringSize)
    : pictureDir_(std::move(pictureDir)), ringSize_(std::max(1, ringSize)) {}

FrameSource::~FrameSource() {
  stop_ = true;  // the worker finishes the frame in hand
  if (worker_.joinable()) worker_.join();
}

static bool HasJpegExtension(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  return strcasecmp(ext.c_str(), "jpg") == 0 || strcasecmp(ext.c_str(), "jpeg") == 0;
}

bool FrameSource::Start(std::string* error) {
  if (!pictureDir_.empty()) {
    DIR* dir = opendir(pictureDir_.c_str());
    if (!dir) {
      if (error) *error = "cannot read picture folder " + pictureDir_;
      return false;
    }
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name[0] != '.' && HasJpegExtension(name)) pictures_.push_back(pictureDir_ + "/" + name);
    }
    closedir(dir);
    std::sort(pictures_.begin(), pictures_.end());
    if (pictures_.size() > static_cast<size_t>(ringSize_)) pictures_.resize(ringSize_);
    if (pictures_.empty()) {
      if (error) *error = "no JPEG pictures in " + pictureDir_;
      return false;
    }
    total_ = pictures_.size();
  } else {
    total_ = static_cast<size_t>(ringSize_);
  }
  // The first usable frame is made now, so that a request never finds the ring empty.
  std::string why;
  size_t first = 0;
  FramePtr frame;
  for (; first < total_ && !frame; ++first) frame = MakeFrame(first, &why);
  if (!frame) {
    if (error) *error = why;
    return false;
  }
  frames_.push_back(frame);
  worker_ = std::thread([this, first] {
    for (size_t i = first; i < total_ && !stop_; ++i) {
      std::string ignored;
      FramePtr f = MakeFrame(i, &ignored);
      if (!f) {
        fprintf(stderr, "camera-emulator: %s (picture skipped)\n", ignored.c_str());
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      frames_.push_back(std::move(f));
      added_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    complete_ = true;
    added_.notify_all();
  });
  return true;
}

FramePtr FrameSource::MakeFrame(size_t i, std::string* error) {
  Bytes picture;
  if (pictures_.empty()) {
    picture = DrawPatternFrame(static_cast<int>(i));
  } else {
    Bytes decoded;
    int w = 0, h = 0;
    if (!DecodeJpegFile(pictures_[i], &decoded, &w, &h, error)) return nullptr;
    picture = (w == kFrameWidth && h == kFrameHeight) ? std::move(decoded) : ScaleToFrame(decoded, w, h);
  }
  Bytes data = EncodeFrameData(picture.data(), error);
  if (data.empty()) return nullptr;
  return std::make_shared<const Bytes>(std::move(data));
}

FramePtr FrameSource::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  added_.wait(lock, [this] { return complete_ || next_ < frames_.size(); });
  if (next_ >= frames_.size()) next_ = 0;
  return frames_[next_++];
}

size_t FrameSource::ReadyCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

}  // namespace fotavi::emu
