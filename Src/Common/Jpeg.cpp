#include "Jpeg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// jpeglib.h needs size_t and FILE declared first.
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include <QImageReader>

#include "Platform/GlobalMemory.h"
#include "JpegFile.h"

namespace {

// ------------------------------------------------------------ picture reuse

// Each decoding thread keeps the picture that its last successful decode
// replaced in the caller's variable. When nobody else shares it and it has
// the size asked for, the next decode writes into it instead of allocating
// (and faulting in) a new picture: live frames of one size cost no
// allocation after the first two.
thread_local CBitmap24 t_spare;

CBitmap24 TakeSpareBitmap(int width, int height) {
  CBitmap24 image;
  if (t_spare.width() == width && t_spare.height() == height && t_spare.format() == BITMAP24_FORMAT &&
      t_spare.isDetached()) {
    image.swap(t_spare);
    return image;
  }
  t_spare = CBitmap24();
  return CBitmap24(width, height, BITMAP24_FORMAT);
}

// Hands the new picture to the caller and keeps the caller's previous one
// as the next spare.
void DeliverBitmap(CBitmap24* out, CBitmap24* image) {
  out->swap(*image);
  t_spare.swap(*image);
  *image = CBitmap24();
}

// ------------------------------------------------------------ error manager

// libjpeg's error exit jumps back to the decode or encode call; no C++
// exception ever crosses libjpeg's C frames.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void JpegOutputMessage(j_common_ptr) {
  // libjpeg's warnings and messages are never shown.
}

// A file that ends before the picture does fails, as data that ends early
// in memory does, instead of decoding into the grey rows libjpeg's file
// source makes up after its warning. Other warnings are only counted.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) JpegErrorExit(cinfo);
  ++cinfo->err->num_warnings;
}

void InitErrorManager(JpegErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = JpegErrorExit;
  err->pub.emit_message = JpegEmitMessage;
  err->pub.output_message = JpegOutputMessage;
}

// ------------------------------------------------------------ memory source

// A suspending memory source: running out of data makes libjpeg return
// "suspended" instead of inventing an end marker, so a frame that ends early
// fails rather than decoding into a partial picture.
void JpegInitSource(j_decompress_ptr) {}
boolean JpegFillInputBuffer(j_decompress_ptr) { return FALSE; }
void JpegSkipInputData(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* src = cinfo->src;
  if (count <= 0) return;
  if (static_cast<size_t>(count) > src->bytes_in_buffer) {
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;
    return;
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}
void JpegTermSource(j_decompress_ptr) {}

void InstallMemorySource(j_decompress_ptr cinfo, jpeg_source_mgr* src, const BYTE* buffer, size_t size) {
  src->init_source = JpegInitSource;
  src->fill_input_buffer = JpegFillInputBuffer;
  src->skip_input_data = JpegSkipInputData;
  src->resync_to_restart = jpeg_resync_to_restart;
  src->term_source = JpegTermSource;
  src->next_input_byte = buffer;
  src->bytes_in_buffer = size;
  cinfo->src = src;
}

// Where a decode reads from: always memory. A file is read first, by the
// one rule for JPEG files (JpegFile.h), into `fileBytes`; `running`, when
// set, is the caller's running flag: a decode stops once it is cleared.
struct DecodeInput {
  const BYTE* buffer = nullptr;
  size_t size = 0;
  const std::atomic<LONG>* running = nullptr;
};

// Stops the decode from libjpeg's progress calls (made for every few rows
// and every scan) once the caller's running flag is cleared.
struct CancelProgress {
  jpeg_progress_mgr pub;
  const std::atomic<LONG>* running = nullptr;
};

void JpegProgress(j_common_ptr cinfo) {
  auto* progress = reinterpret_cast<CancelProgress*>(cinfo->progress);
  if (progress->running && progress->running->load() == 0) JpegErrorExit(cinfo);
}

// The decode proper. Everything that must survive a longjmp lives in the
// caller's frame; nothing here is touched after the jump.
struct DecodeState {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  jpeg_source_mgr src;
  CancelProgress progress;
  std::vector<BYTE> greyRow;
  CBitmap24 image;
};

void InstallSource(DecodeState* s, const DecodeInput& in) {
  InstallMemorySource(&s->cinfo, &s->src, in.buffer, in.size);
  if (in.running) {
    s->progress.pub.progress_monitor = JpegProgress;
    s->progress.running = in.running;
    s->cinfo.progress = &s->progress.pub;
  }
}

// The bound on a decoded picture: Qt's image allocation limit, so that a JPEG
// is refused where Qt would refuse a BMP of the same size.
uint64_t DecodedBytesLimit() {
  const int mb = QImageReader::allocationLimit();
  return mb > 0 ? static_cast<uint64_t>(mb) * 1024 * 1024 : JPEG_MAX_DECODED_BYTES;
}

// True when the picture the header announces, reduced as asked, may be
// decoded. A picture of several scans (progressive, or one scan per
// component) is decoded through the coefficients of the whole picture, 128
// bytes for each 8 x 8 block of each component, whatever the reduction: they
// are held to the same bound.
bool HeaderSizeAllowed(jpeg_decompress_struct& cinfo, int width, int scale) {
  const uint64_t limit = DecodedBytesLimit();
  const int denom = CJpeg::ReductionFor(static_cast<int>(cinfo.image_width), width, scale);
  if (!JpegDecodedSizeAllowed(JpegReducedSide(cinfo.image_width, denom), JpegReducedSide(cinfo.image_height, denom),
                              limit)) {
    return false;
  }
  if (!jpeg_has_multiple_scans(&cinfo)) return true;
  uint64_t coefficients = 0;
  for (int c = 0; c < cinfo.num_components; ++c) {
    const jpeg_component_info& comp = cinfo.comp_info[c];
    coefficients += static_cast<uint64_t>(comp.width_in_blocks) * comp.height_in_blocks * sizeof(JBLOCK);
  }
  return coefficients <= limit;
}

bool RunDecode(DecodeState* s, const DecodeInput& in, int width, int scale) {
  j_decompress_ptr cinfo = &s->cinfo;
  InstallSource(s, in);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  // Refused from the header, before libjpeg or the picture allocates anything.
  if (!HeaderSizeAllowed(*cinfo, width, scale)) return false;

  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned>(CJpeg::ReductionFor(static_cast<int>(cinfo->image_width), width, scale));
  cinfo->dct_method = JDCT_IFAST;
  cinfo->do_fancy_upsampling = FALSE;
  cinfo->two_pass_quantize = FALSE;
  cinfo->dither_mode = JDITHER_ORDERED;
  if (!cinfo->quantize_colors) cinfo->desired_number_of_colors = 216;
  if (cinfo->out_color_space == JCS_RGB) cinfo->out_color_space = JCS_EXT_BGR;

  if (!jpeg_start_decompress(cinfo)) return false;
  const int components = cinfo->output_components;
  if (components != 1 && components != 3) return false;

  // Every row is written below, so the picture is not cleared first.
  s->image = TakeSpareBitmap(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height));
  if (s->image.isNull()) return false;
  const int outWidth = static_cast<int>(cinfo->output_width);
  if (components == 1) s->greyRow.resize(cinfo->output_width);

  constexpr int kBatch = 16;
  JSAMPROW rows[kBatch];
  // The rows through one pointer: scanLine() would look at the picture's
  // sharing again for every row.
  BYTE* const pixels = s->image.bits();
  const qsizetype stride = s->image.bytesPerLine();
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION first = cinfo->output_scanline;
    JDIMENSION got = 0;
    if (components == 3) {
      const int want = std::min<int>(kBatch, static_cast<int>(cinfo->output_height - first));
      for (int i = 0; i < want; ++i) rows[i] = pixels + (static_cast<qsizetype>(first) + i) * stride;
      got = jpeg_read_scanlines(cinfo, rows, static_cast<JDIMENSION>(want));
    } else {
      rows[0] = s->greyRow.data();
      got = jpeg_read_scanlines(cinfo, rows, 1);
      if (got == 1) {
        BYTE* out = pixels + static_cast<qsizetype>(first) * stride;
        for (int x = 0; x < outWidth; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = s->greyRow[x];
      }
    }
    if (got == 0) return false;  // data ended (suspended) before the last row
  }
  return jpeg_finish_decompress(cinfo) != FALSE;
}

struct EncodeState {
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
};

bool RunEncode(EncodeState* s, const CBitmap24& image, int quality) {
  j_compress_ptr cinfo = &s->cinfo;
  jpeg_mem_dest(cinfo, &s->out, &s->outSize);
  cinfo->image_width = static_cast<JDIMENSION>(image.width());
  cinfo->image_height = static_cast<JDIMENSION>(image.height());
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  cinfo->comp_info[0].h_samp_factor = 2;
  cinfo->comp_info[0].v_samp_factor = 1;
  cinfo->comp_info[1].h_samp_factor = 1;
  cinfo->comp_info[1].v_samp_factor = 1;
  cinfo->comp_info[2].h_samp_factor = 1;
  cinfo->comp_info[2].v_samp_factor = 1;
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo->next_scanline)));
    if (jpeg_write_scanlines(cinfo, &row, 1) != 1) return false;
  }
  jpeg_finish_compress(cinfo);
  return true;
}

// The only frames between setjmp and the jump: nothing in them changes after
// setjmp, so nothing is lost when libjpeg's error exit jumps back here.
// The decompressor is created inside the guard: libjpeg reports a failed
// allocation while it is being created through the same error exit.
bool GuardedDecode(DecodeState* s, const DecodeInput& in, int width, int scale) {
  if (setjmp(s->err.jump) != 0) return false;
  jpeg_create_decompress(&s->cinfo);
  return RunDecode(s, in, width, scale);
}

bool GuardedHeaderCheck(DecodeState* s, const DecodeInput& in, int width, int scale) {
  if (setjmp(s->err.jump) != 0) return false;
  jpeg_create_decompress(&s->cinfo);
  InstallSource(s, in);
  if (jpeg_read_header(&s->cinfo, TRUE) != JPEG_HEADER_OK) return false;
  return HeaderSizeAllowed(s->cinfo, width, scale);
}

using GuardedStep = bool (*)(DecodeState*, const DecodeInput&, int, int);

// One guarded step on a fresh decompressor (*state made here); afterwards
// the decompressor is destroyed, on every way out.
// False when the step fails, memory running out included.
bool WithDecompressor(std::unique_ptr<DecodeState>* state, const DecodeInput& in, int width, int scale,
                      GuardedStep step) {
  try {
    *state = std::make_unique<DecodeState>();  // zeroed: destroying a decompressor never made is safe
  } catch (const std::bad_alloc&) {
    return false;
  }
  DecodeState* s = state->get();
  InitErrorManager(&s->err);
  s->cinfo.err = &s->err.pub;
  bool ok = false;
  try {
    ok = step(s, in, width, scale);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  jpeg_destroy_decompress(&s->cinfo);
  return ok;
}

bool GuardedEncode(EncodeState* s, const CBitmap24* image, int quality) {
  if (setjmp(s->err.jump) != 0) return false;
  jpeg_create_compress(&s->cinfo);
  return RunEncode(s, *image, quality);
}

}  // namespace

// ------------------------------------------------------------ CJpeg

CJpeg::CJpeg(PFN_FNCLOADJPEGW load, PFN_FNCSAVEJPEGW save, PFN_FNCGETJPEGINFOW info)
    : m_pLoad(load), m_pSave(save), m_pInfo(info) {}

int CJpeg::ReductionFor(int imageWidth, int width, int scale) { return JpegReductionFor(imageWidth, width, scale); }

namespace {

// The bytes a decode works on: the caller's buffer, or the file at `path`
// read by the one rule for JPEG files, its length held to the decoded-size
// bound (a picture's coded bytes beyond the bytes of the largest picture it
// may decode to are refused unread). False when there is nothing to decode
// or the read was refused or cancelled.
bool TakeInput(const char* path, const BYTE* buffer, DWORD size, const std::atomic<LONG>* running,
               std::vector<BYTE>* fileBytes, DecodeInput* in) {
  in->running = running;
  if (!path) {
    in->buffer = buffer;
    in->size = size;
    return buffer != nullptr && size != 0;
  }
  if (!*path) return false;
  std::function<bool()> keepGoing;
  if (running) keepGoing = [running] { return running->load() != 0; };
  if (ReadJpegFile(path, DecodedBytesLimit(), keepGoing, fileBytes) != JpegFileRead::Ok) return false;
  if (fileBytes->empty() || fileBytes->size() > 0xFFFFFFFFu) return false;
  in->buffer = fileBytes->data();
  in->size = fileBytes->size();
  return true;
}

BOOL DecodeMemory(const DecodeInput& in, CBitmap24* out, int width, int scale) {
  std::unique_ptr<DecodeState> state;
  if (!WithDecompressor(&state, in, width, scale, GuardedDecode)) {
    // The picture is not shared with anyone: keep it for the next decode.
    if (state && !state->image.isNull()) t_spare.swap(state->image);
    return FALSE;
  }
  DeliverBitmap(out, &state->image);
  return TRUE;
}

bool HeaderWithin(const DecodeInput& in, int width, int scale) {
  std::unique_ptr<DecodeState> state;
  return WithDecompressor(&state, in, width, scale, GuardedHeaderCheck);
}

}  // namespace

BOOL CJpeg::DecodeBuiltIn(const char* path, const BYTE* buffer, DWORD size, CBitmap24* out, int width, int scale) {
  if (!out) return FALSE;
  std::vector<BYTE> fileBytes;
  DecodeInput in;
  if (!TakeInput(path, buffer, size, nullptr, &fileBytes, &in)) return FALSE;
  return DecodeMemory(in, out, width, scale);
}

bool CJpeg::HeaderWithinLimit(const char* path, const BYTE* buffer, DWORD size, int width, int scale) {
  std::vector<BYTE> fileBytes;
  DecodeInput in;
  if (!TakeInput(path, buffer, size, nullptr, &fileBytes, &in)) return false;
  return HeaderWithin(in, width, scale);
}

BOOL CJpeg::Decode(const char* path, const BYTE* buffer, DWORD size, CBitmap24* out, int width, int scale) const {
  if (!out) return FALSE;
  // The file is opened, checked and read once, here; both paths decode
  // those bytes.
  std::vector<BYTE> fileBytes;
  DecodeInput in;
  if (!TakeInput(path, buffer, size, m_pRunning, &fileBytes, &in)) return FALSE;
  if (!m_pLoad) return DecodeMemory(in, out, width, scale);
  // Whatever the outside library does with it, a header that claims a
  // picture beyond the bound never reaches it.
  if (!HeaderWithin(in, width, scale)) return FALSE;
  if (m_pRunning && m_pRunning->load() == 0) return FALSE;
  HGLOBAL dib = nullptr;
  const BOOL result = m_pLoad(nullptr, in.buffer, static_cast<DWORD>(in.size), &dib, width, scale, 0);
  if (!result) {
    if (dib) GlobalFree(dib);
    return result;
  }
  CBitmap24 spare;
  spare.swap(t_spare);
  CBitmap24 image = PackedDibToBitmap(dib, &spare);
  if (!spare.isNull()) t_spare.swap(spare);  // not used this time
  if (dib) GlobalFree(dib);
  if (image.isNull()) return FALSE;
  DeliverBitmap(out, &image);
  return result;
}

BOOL CJpeg::StretchBitmap(const QImage& sourceAny, CBitmap24* out, int width, int height) {
  if (!out || width <= 0 || height <= 0) return FALSE;
  const CBitmap24 source = ToBitmap24(sourceAny);
  if (source.isNull()) return FALSE;
  CBitmap24 dest = CreateBitmap24(width, height);
  if (dest.isNull()) return FALSE;

  const double rx = static_cast<double>(width) / source.width();
  const double ry = static_cast<double>(height) / source.height();
  int drawnW, drawnH, x0, y0;
  if (rx > ry) {
    drawnW = static_cast<int>(source.width() * ry);
    drawnH = height;
    x0 = (width - drawnW) / 2;
    y0 = 0;
  } else {
    drawnW = width;
    drawnH = static_cast<int>(source.height() * rx);
    x0 = 0;
    y0 = (height - drawnH) / 2;
  }
  // Nearest-neighbour sampling: each target pixel takes one source pixel.
  std::vector<int> srcX(static_cast<size_t>(std::max(drawnW, 0)));
  for (int x = 0; x < drawnW; ++x) {
    srcX[x] = static_cast<int>(static_cast<int64_t>(x) * source.width() / drawnW);
  }
  for (int y = 0; y < drawnH; ++y) {
    const int sy = static_cast<int>(static_cast<int64_t>(y) * source.height() / drawnH);
    const BYTE* src = source.constScanLine(sy);
    BYTE* dst = dest.scanLine(y0 + y) + 3 * x0;
    for (int x = 0; x < drawnW; ++x) {
      const BYTE* p = src + 3 * srcX[x];
      dst[3 * x] = p[0];
      dst[3 * x + 1] = p[1];
      dst[3 * x + 2] = p[2];
    }
  }
  *out = std::move(dest);
  return TRUE;
}

BOOL CJpeg::Load(CBitmap24* out, const std::string& path, bool fit, int width, int height) const {
  if (!out) return FALSE;
  CBitmap24 decoded;
  if (!Decode(path.c_str(), nullptr, 0, &decoded, width, 0)) return FALSE;
  if (fit && width != 0 && height != 0 && (decoded.width() != width || decoded.height() != height)) {
    return StretchBitmap(decoded, out, width, height);
  }
  *out = std::move(decoded);
  return TRUE;
}

BOOL CJpeg::Load(CBitmap24* out, const BYTE* buffer, DWORD size, bool fit, int width, int height, int scale) const {
  if (!out) return FALSE;
  CBitmap24 decoded;
  if (!Decode(nullptr, buffer, size, &decoded, width, scale)) return FALSE;
  if (fit && width != 0 && height != 0 && (decoded.width() != width || decoded.height() != height)) {
    return StretchBitmap(decoded, out, width, height);
  }
  *out = std::move(decoded);
  return TRUE;
}

BOOL CJpeg::EncodeBuiltIn(const QImage& bitmap, int quality, std::string* jpeg) {
  if (!jpeg) return FALSE;
  const CBitmap24 image = ToBitmap24(bitmap);
  if (image.isNull()) return FALSE;
  auto state = std::make_unique<EncodeState>();
  InitErrorManager(&state->err);
  state->cinfo.err = &state->err.pub;
  const bool ok = GuardedEncode(state.get(), &image, quality);
  jpeg_destroy_compress(&state->cinfo);
  if (ok && state->out && state->outSize > 0) jpeg->assign(reinterpret_cast<const char*>(state->out), state->outSize);
  std::free(state->out);
  return ok ? TRUE : FALSE;
}

BOOL CJpeg::Save(const std::string& path, const QImage& bitmap, int quality) const {
  if (path.empty() || bitmap.isNull()) return FALSE;
  if (m_pSave) {
    HGLOBAL dib = BitmapToPackedDib(bitmap);
    if (!dib) return FALSE;
    const BOOL result = m_pSave(path.c_str(), dib, quality);
    GlobalFree(dib);
    return result;
  }
  std::string jpeg;
  if (!EncodeBuiltIn(bitmap, quality, &jpeg)) return FALSE;
  return WriteFileReplacing(path, jpeg.data(), jpeg.size()) ? TRUE : FALSE;
}

BOOL CJpeg::Save(const std::string& path, const QImage& bitmap, int quality, std::string* written) const {
  if (!written) return Save(path, bitmap, quality);
  written->clear();
  if (path.empty() || bitmap.isNull()) return FALSE;
  if (m_pSave) {
    if (!Save(path, bitmap, quality)) return FALSE;
    std::vector<BYTE> bytes;
    if (ReadJpegFile(path, DecodedBytesLimit(), {}, &bytes) != JpegFileRead::Ok) return FALSE;
    written->assign(bytes.begin(), bytes.end());
    return TRUE;
  }
  if (!EncodeBuiltIn(bitmap, quality, written)) return FALSE;
  if (!WriteFileReplacing(path, written->data(), written->size())) {
    written->clear();
    return FALSE;
  }
  return TRUE;
}

// ------------------------------------------------------------ file replacement

bool WriteFileReplacing(const std::string& path, const void* data, size_t size) {
  if (path.empty()) return false;
  std::string tmp = path + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = true;
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (ok && done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  if (ok) ok = ::fchmod(fd, 0644) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}
