// Decode and save figures of CJpeg beside bare libjpeg-turbo loops on the
// same data, in the same run.
//
// Frames: 1024x768, the device library's 575-byte header (SOI, DQT with the
// camera's two tables, DHT with the four standard tables, SOF0 with
// component 1 sampled 2x1) followed by scan data encoded with those tables
// at 4:2:2, about 150 KB and 450 KB.
//
// Paths: CJpeg over libjpeg, bare libjpeg (same settings, reused buffer),
// CJpeg over the stand-in outside codec module, bare TurboJPEG (reused
// buffer). Save: CJpeg::Save at quality 75 (file) and a bare libjpeg
// encode to memory. Files: CJpeg's decode of a file (libjpeg's stdio
// source) beside the file read whole and decoded from memory.
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "Jpeg.h"
#include "OutsideCodec.h"
#include "Platform/Library.h"

namespace {

// ------------------------------------------------------------ the frame header

const unsigned char kQuant0[64] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 5, 3, 3, 3, 3, 3, 6,
                                   4, 4, 3, 5, 7, 6, 7, 7, 7, 6, 7, 6, 8, 8, 11, 9, 8, 8, 10, 8, 6, 7,
                                   9, 13, 9, 10, 11, 11, 12, 12, 12, 7, 9, 13, 14, 13, 12, 14, 11, 12, 12, 12};
unsigned char kQuant1[64];  // 2 2 2 3 2 3 6 3, 3 6 12 8 7 8 12 12, then 12

// Zig-zag position k -> natural (row-major) index.
const int kNaturalOrder[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                               12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                               35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                               58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU-T T.81 Annex K tables (bits, values).
const unsigned char kDcLumBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const unsigned char kDcChrBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const unsigned char kDcVals[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const unsigned char kAcLumBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const unsigned char kAcLumVals[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14,
    0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09,
    0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a,
    0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65,
    0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
    0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9,
    0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const unsigned char kAcChrBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const unsigned char kAcChrVals[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32,
    0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16,
    0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39,
    0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86,
    0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8,
    0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9,
    0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

void Put16(std::string* s, int v) {
  s->push_back(static_cast<char>((v >> 8) & 0xFF));
  s->push_back(static_cast<char>(v & 0xFF));
}

void PutHuff(std::string* s, int tableClassAndId, const unsigned char* bits, const unsigned char* vals, int count) {
  s->push_back(static_cast<char>(tableClassAndId));
  s->append(reinterpret_cast<const char*>(bits), 16);
  s->append(reinterpret_cast<const char*>(vals), static_cast<size_t>(count));
}

std::string DeviceHeader() {
  std::string h("\xFF\xD8", 2);
  h.append("\xFF\xDB", 2);
  Put16(&h, 2 + 2 * 65);
  h.push_back(0);
  h.append(reinterpret_cast<const char*>(kQuant0), 64);
  h.push_back(1);
  h.append(reinterpret_cast<const char*>(kQuant1), 64);
  h.append("\xFF\xC4", 2);
  Put16(&h, 2 + 4 * 17 + 12 + 162 + 12 + 162);
  PutHuff(&h, 0x00, kDcLumBits, kDcVals, 12);
  PutHuff(&h, 0x10, kAcLumBits, kAcLumVals, 162);
  PutHuff(&h, 0x01, kDcChrBits, kDcVals, 12);
  PutHuff(&h, 0x11, kAcChrBits, kAcChrVals, 162);
  h.append("\xFF\xC0", 2);
  Put16(&h, 17);
  h.push_back(8);
  Put16(&h, 768);
  Put16(&h, 1024);
  h.push_back(3);
  h.append("\x01\x21\x00\x02\x11\x01\x03\x11\x01", 9);
  return h;
}

// ------------------------------------------------------------ test frames

std::vector<unsigned char> Picture(int noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(-noise, noise);
  std::vector<unsigned char> bgr(1024 * 768 * 3);
  for (int y = 0; y < 768; ++y) {
    for (int x = 0; x < 1024; ++x) {
      unsigned char* p = &bgr[(static_cast<size_t>(y) * 1024 + x) * 3];
      const int base[3] = {(x / 4 + y / 8) % 256, (x * y / 512) % 256, ((x ^ y) & 0x7F) + 64};
      for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(std::clamp(base[c] + (noise ? dist(rng) : 0), 0, 255));
    }
  }
  return bgr;
}

// Encodes with the camera's tables and 4:2:2, then puts the device header in
// front of the scan (from SOS on).
std::string CameraFrame(const std::vector<unsigned char>& bgr) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = 1024;
  cinfo.image_height = 768;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  cinfo.write_JFIF_header = FALSE;
  unsigned int natural0[64], natural1[64];
  for (int k = 0; k < 64; ++k) {
    natural0[kNaturalOrder[k]] = kQuant0[k];
    natural1[kNaturalOrder[k]] = kQuant1[k];
  }
  jpeg_add_quant_table(&cinfo, 0, natural0, 100, TRUE);
  jpeg_add_quant_table(&cinfo, 1, natural1, 100, TRUE);
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 1;
  cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
  cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&bgr[static_cast<size_t>(cinfo.next_scanline) * 1024 * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  const std::string encoded(reinterpret_cast<char*>(out), size);
  std::free(out);
  const size_t sos = encoded.find("\xFF\xDA");
  return DeviceHeader() + encoded.substr(sos);
}

// The frame whose size is nearest to `target` bytes over a range of noise levels.
std::string FrameNear(size_t target) {
  std::string best;
  for (int noise = 0; noise <= 64; noise += 2) {
    std::string frame = CameraFrame(Picture(noise, 7));
    if (best.empty() || std::labs(static_cast<long>(frame.size()) - static_cast<long>(target)) <
                            std::labs(static_cast<long>(best.size()) - static_cast<long>(target))) {
      best = std::move(frame);
    }
    if (frame.size() > target * 2) break;
  }
  return best;
}

// ------------------------------------------------------------ bare loops

struct BareLibjpeg {
  std::vector<unsigned char> buffer;
  bool Decode(const std::string& data, int denom) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(denom);
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const size_t stride = (cinfo.output_width * 3 + 3) & ~3u;
    buffer.resize(stride * cinfo.output_height);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
      const int want = std::min<int>(16, static_cast<int>(cinfo.output_height - cinfo.output_scanline));
      for (int i = 0; i < want; ++i) rows[i] = &buffer[(cinfo.output_scanline + i) * stride];
      jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(want));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
  }
};

struct BareTurbo {
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> buffer;
  ~BareTurbo() { tjDestroy(tj); }
  bool Decode(const std::string& data, int denom) {
    const int w = 1024 / denom, h = 768 / denom;
    const int stride = (w * 3 + 3) & ~3;
    buffer.resize(static_cast<size_t>(stride) * h);
    return tjDecompress2(tj, reinterpret_cast<const unsigned char*>(data.data()), data.size(), buffer.data(), w,
                         stride, h, TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE) == 0;
  }
};

std::string BareEncode(const CBitmap24& image, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.width());
  cinfo.image_height = static_cast<JDIMENSION>(image.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 1;
  cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
  cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string result(reinterpret_cast<char*>(out), size);
  std::free(out);
  return result;
}

// ------------------------------------------------------------ timing

struct Stats {
  double median, p95;
};

Stats Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  const auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * (ms.size() - 1) + 0.5))]; };
  return {at(0.5), at(0.95)};
}

// Runs the functions round-robin, `iterations` times each, after a warm-up.
std::vector<Stats> Measure(const std::vector<std::function<bool()>>& fns, int iterations) {
  for (const auto& fn : fns) {
    for (int i = 0; i < 5; ++i) {
      if (!fn()) {
        std::fprintf(stderr, "a measured call failed\n");
        std::exit(1);
      }
    }
  }
  std::vector<std::vector<double>> times(fns.size());
  for (int i = 0; i < iterations; ++i) {
    for (size_t f = 0; f < fns.size(); ++f) {
      const auto start = std::chrono::steady_clock::now();
      fns[f]();
      const auto end = std::chrono::steady_clock::now();
      times[f].push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
  }
  std::vector<Stats> stats;
  for (auto& t : times) stats.push_back(Summarise(std::move(t)));
  return stats;
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
  for (int i = 0; i < 64; ++i) kQuant1[i] = 12;
  const unsigned char q1head[16] = {2, 2, 2, 3, 2, 3, 6, 3, 3, 6, 12, 8, 7, 8, 12, 12};
  std::memcpy(kQuant1, q1head, 16);

  if (DeviceHeader().size() != 575) {
    std::fprintf(stderr, "device header is %zu bytes, not 575\n", DeviceHeader().size());
    return 1;
  }

  HMODULE module = LoadLibrary(JpegCodecLibraryName(JPEGLIB_SIMD));
  if (!module) {
    std::fprintf(stderr, "outside codec not found: %s\n", GetLoadErrorText().c_str());
    return 1;
  }
  const CJpeg builtIn;
  const CJpeg outside(GetProcAddressAs<PFN_FNCLOADJPEGW>(module, FNC_LOADJPEGW),
                      GetProcAddressAs<PFN_FNCSAVEJPEGW>(module, FNC_SAVEJPEGW), nullptr);

  std::printf("JPEG decode, 1024x768 frames with the device header, %d iterations, ms per frame\n", iterations);
  std::printf("%-9s %-6s %-22s %8s %8s %10s\n", "frame", "scale", "path", "median", "p95", "vs bare");
  BareLibjpeg bareJpeg;
  BareTurbo bareTurbo;
  for (const size_t target : {size_t(150 * 1024), size_t(450 * 1024)}) {
    const std::string frame = FrameNear(target);
    const auto* bytes = reinterpret_cast<const BYTE*>(frame.data());
    const DWORD size = static_cast<DWORD>(frame.size());
    char frameName[32];
    std::snprintf(frameName, sizeof frameName, "%zuKB", frame.size() / 1024);
    for (const int denom : {1, 2, 4}) {
      CBitmap24 a, b;
      const std::vector<std::function<bool()>> fns = {
          [&] { return bareJpeg.Decode(frame, denom); },
          [&] { return builtIn.Decode(nullptr, bytes, size, &a, 0, denom) != FALSE; },
          [&] { return bareTurbo.Decode(frame, denom); },
          [&] { return outside.Decode(nullptr, bytes, size, &b, 0, denom) != FALSE; },
      };
      const auto s = Measure(fns, iterations);
      const char* names[] = {"bare libjpeg", "CJpeg (libjpeg)", "bare TurboJPEG", "CJpeg (outside codec)"};
      for (size_t i = 0; i < s.size(); ++i) {
        char versus[32] = "";
        if (i == 1 || i == 3) {
          std::snprintf(versus, sizeof versus, "%+.1f%%", 100.0 * (s[i].median / s[i - 1].median - 1.0));
        }
        std::printf("%-9s 1/%-4d %-22s %8.3f %8.3f %10s\n", frameName, denom, names[i], s[i].median, s[i].p95, versus);
      }
    }
  }

  std::printf("\nJPEG save at quality 75, 1024x768, ms per picture (median, p95, median vs bare file write)\n");
  const std::string folder = std::filesystem::temp_directory_path() / "fotavi-jpeg-bench";
  std::filesystem::create_directories(folder);
  CBitmap24 picture(1024, 768, BITMAP24_FORMAT);
  const std::vector<unsigned char> bgr = Picture(16, 3);
  for (int y = 0; y < 768; ++y) std::memcpy(picture.scanLine(y), &bgr[static_cast<size_t>(y) * 1024 * 3], 1024 * 3);
  const int saveIterations = std::max(10, iterations / 2);
  const auto s = Measure({[&] { return !BareEncode(picture, 75).empty(); },
                          [&] {
                            const std::string jpeg = BareEncode(picture, 75);
                            FILE* f = std::fopen((folder + "/bare.jpg").c_str(), "wb");
                            const bool ok = f && std::fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size();
                            if (f) std::fclose(f);
                            return ok;
                          },
                          [&] { return builtIn.Save(folder + "/builtin.jpg", picture, 75) != FALSE; },
                          [&] { return outside.Save(folder + "/outside.jpg", picture, 75) != FALSE; }},
                         saveIterations);
  const char* names[] = {"bare libjpeg (memory)", "bare libjpeg (file)", "CJpeg::Save (libjpeg)",
                         "CJpeg::Save (outside)"};
  for (size_t i = 0; i < s.size(); ++i) {
    char versus[32] = "";
    if (i >= 2) std::snprintf(versus, sizeof versus, "%+.1f%%", 100.0 * (s[i].median / s[1].median - 1.0));
    std::printf("%-32s %8.3f %8.3f %10s\n", names[i], s[i].median, s[i].p95, versus);
  }
  std::printf("(file sizes: %ju and %ju bytes)\n", static_cast<uintmax_t>(std::filesystem::file_size(folder + "/builtin.jpg")),
              static_cast<uintmax_t>(std::filesystem::file_size(folder + "/outside.jpg")));

  // Decoding a file: CJpeg reads it through libjpeg's stdio source; beside
  // it, the file read whole into memory first and decoded from there.
  std::printf("\nJPEG decode from a file, full size, ms per picture (median, p95, median vs read whole)\n");
  const std::string frameFile = folder + "/frame.jpg";
  {
    const std::string frame = FrameNear(450 * 1024);
    FILE* f = std::fopen(frameFile.c_str(), "wb");
    if (f) {
      std::fwrite(frame.data(), 1, frame.size(), f);
      std::fclose(f);
    }
  }
  const std::string largeFile = folder + "/large.jpg";
  CBitmap24 large(5184, 3888, BITMAP24_FORMAT);
  for (int y = 0; y < large.height(); ++y) std::memcpy(large.scanLine(y), &bgr[static_cast<size_t>(y % 768) * 1024 * 3], 1024 * 3);
  builtIn.Save(largeFile, large, 90);
  for (const std::string* file : {&frameFile, &largeFile}) {
    CBitmap24 out;
    const auto readWhole = [&] {
      FILE* f = std::fopen(file->c_str(), "rb");
      if (!f) return false;
      std::vector<BYTE> bytes(static_cast<size_t>(std::filesystem::file_size(*file)));
      const bool read = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
      std::fclose(f);
      return read && builtIn.Decode(nullptr, bytes.data(), static_cast<DWORD>(bytes.size()), &out, 0, 1) != FALSE;
    };
    const int n = file == &largeFile ? std::max(10, iterations / 20) : iterations;
    const auto d = Measure({readWhole, [&] { return builtIn.Decode(file->c_str(), nullptr, 0, &out, 0, 1) != FALSE; }}, n);
    const char* what = file == &largeFile ? "5184x3888" : "1024x768";
    std::printf("%-10s %-22s %8.3f %8.3f\n", what, "read whole + memory", d[0].median, d[0].p95);
    std::printf("%-10s %-22s %8.3f %8.3f %+9.1f%%\n", what, "CJpeg (stdio source)", d[1].median, d[1].p95,
                100.0 * (d[1].median / d[0].median - 1.0));
  }
  std::filesystem::remove_all(folder);
  FreeLibrary(module);
  return 0;
}
