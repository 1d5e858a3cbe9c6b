#include "ExifHdrAdd.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "Common/CommonFunc.h"
#include "Common/TraceLog.h"
#include "Text/FotaviStrings.h"
#include "Platform/UiService.h"

namespace {

constexpr WORD TIFF_ASCII = 2;
constexpr WORD TIFF_SHORT = 3;
constexpr WORD TIFF_LONG = 4;
constexpr WORD TIFF_RATIONAL = 5;
constexpr WORD TIFF_UNDEFINED = 7;

// Bytes per value of the TIFF 6.0 field types 1 to 12; 0 outside them.
size_t TypeSize(WORD type) {
  static constexpr size_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < 13 ? kSizes[type] : 0;
}

void PutWord(std::vector<BYTE>* out, WORD v) {
  out->push_back(static_cast<BYTE>(v & 0xFF));
  out->push_back(static_cast<BYTE>(v >> 8));
}

void PutLong(std::vector<BYTE>* out, DWORD v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>((v >> (8 * i)) & 0xFF));
}

std::vector<BYTE> WordValue(WORD v) {
  std::vector<BYTE> out;
  PutWord(&out, v);
  return out;
}

std::vector<BYTE> LongValue(DWORD v) {
  std::vector<BYTE> out;
  PutLong(&out, v);
  return out;
}

std::vector<BYTE> RationalValue(DWORD numerator, DWORD denominator) {
  std::vector<BYTE> out;
  PutLong(&out, numerator);
  PutLong(&out, denominator);
  return out;
}

std::vector<BYTE> BytesValue(const char* text, size_t size) {
  return std::vector<BYTE>(reinterpret_cast<const BYTE*>(text), reinterpret_cast<const BYTE*>(text) + size);
}

// One IFD as it is assembled: its entries, the values that do not fit into
// an entry (in entry order, no padding), and nested data that follows them
// (a sub-IFD, or the thumbnail). Entries marked as pointers get the offset
// of the nested data, known only once every value has been placed.
class CIfdBuilder {
 public:
  CIfdBuilder(DWORD start, size_t entryCount) : m_dwStart(start), m_nCount(entryCount) {}

  void Add(WORD tag, WORD type, DWORD count, std::vector<BYTE> value) {
    m_Entries.push_back({tag, type, count, std::move(value), false});
  }
  // A LONG entry whose value is the offset of the nested data.
  void AddNestedPointer(WORD tag) { m_Entries.push_back({tag, TIFF_LONG, 1, {}, true}); }

  // Offset of the nested data: after the entries, the next-IFD offset and
  // the values that do not fit.
  DWORD NestedOffset() const {
    DWORD offset = m_dwStart + 2 + 12 * static_cast<DWORD>(m_nCount) + 4;
    for (const Entry& e : m_Entries) {
      const size_t size = e.nested ? 4 : e.count * TypeSize(e.type);
      if (size > 4) offset += static_cast<DWORD>(e.value.size());
    }
    return offset;
  }

  // Count, entries, next-IFD offset, values, nested data, appended to `out`.
  // Returns the first free offset after them.
  DWORD Write(std::vector<BYTE>* out, const std::vector<BYTE>& nested, DWORD nextIfd) const {
    const DWORD nestedOffset = NestedOffset();
    std::vector<BYTE> entries;
    std::vector<BYTE> values;
    entries.reserve(2 + 12 * m_nCount + 4);
    PutWord(&entries, static_cast<WORD>(m_Entries.size()));
    DWORD valueOffset = m_dwStart + 2 + 12 * static_cast<DWORD>(m_nCount) + 4;
    for (const Entry& e : m_Entries) {
      PutWord(&entries, e.tag);
      PutWord(&entries, e.type);
      PutLong(&entries, e.count);
      if (e.nested) {
        PutLong(&entries, nestedOffset);
        continue;
      }
      const size_t size = e.count * TypeSize(e.type);
      if (size <= 4) {
        // The value itself, left-aligned and padded with zero bytes.
        BYTE inline4[4] = {0, 0, 0, 0};
        for (size_t i = 0; i < e.value.size() && i < 4; ++i) inline4[i] = e.value[i];
        entries.insert(entries.end(), inline4, inline4 + 4);
      } else {
        PutLong(&entries, valueOffset);
        values.insert(values.end(), e.value.begin(), e.value.end());
        valueOffset += static_cast<DWORD>(e.value.size());
      }
    }
    PutLong(&entries, nextIfd);
    out->insert(out->end(), entries.begin(), entries.end());
    out->insert(out->end(), values.begin(), values.end());
    out->insert(out->end(), nested.begin(), nested.end());
    return m_dwStart + static_cast<DWORD>(entries.size() + values.size() + nested.size());
  }

 private:
  struct Entry {
    WORD tag;
    WORD type;
    DWORD count;
    std::vector<BYTE> value;
    bool nested;
  };
  DWORD m_dwStart;
  size_t m_nCount;
  std::vector<Entry> m_Entries;
};

// The frame size from the start-of-frame segment, walking the marker
// segments from the start of the file; false when the walk finds no frame
// header or the data is not well formed.
bool ReadFrameSize(const std::vector<BYTE>& data, LONG* width, LONG* height) {
  if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  size_t pos = 2;
  while (pos + 4 <= data.size()) {
    if (data[pos] != 0xFF) return false;
    const BYTE marker = data[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;  // end of image or scan before any frame
    const size_t length = static_cast<size_t>(data[pos + 2]) << 8 | data[pos + 3];
    if (length < 2 || pos + 2 + length > data.size()) return false;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 8) return false;
      *height = static_cast<LONG>(data[pos + 5]) << 8 | data[pos + 6];
      *width = static_cast<LONG>(data[pos + 7]) << 8 | data[pos + 8];
      return *width > 0 && *height > 0;
    }
    pos += 2 + length;
  }
  return false;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

CExifHdrAdd::CExifHdrAdd(const std::string& workFolder, const CJpeg& jpeg, MessageSink sink)
    : m_strWorkFolder(workFolder), m_Jpeg(jpeg), m_Sink(std::move(sink)) {
  if (!m_strWorkFolder.empty()) m_strThumbFile = AddBackslash(m_strWorkFolder) + THUMB_FILE_NAME;
}

CExifHdrAdd::~CExifHdrAdd() {
  if (m_bFolderCreated) DeleteFolder(m_strWorkFolder);
}

void CExifHdrAdd::ShowMessage(UINT stringId, UINT type) {
  if (m_Sink) m_Sink(stringId, type);
}

std::string CExifHdrAdd::CurrentDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local) != 19) return "0000:00:00 00:00:00";
  return text;
}

void CExifHdrAdd::SetPicture(std::vector<BYTE> source, LONG width, LONG height, std::vector<BYTE> thumbnail,
                             std::string dateTime) {
  m_Source = std::move(source);
  m_nWidth = width;
  m_nHeight = height;
  m_Thumbnail = std::move(thumbnail);
  m_strDateTime = std::move(dateTime);
}

int CExifHdrAdd::AddExifHeader(const std::string& source, const std::string& destination) {
  static const char* kFunc = "CExifHdrAdd::AddExifHeader";
  m_strDateTime = CurrentDateTime();
  if (!ReadJpegData(source)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [ReadJpegData()] function.");
    return 0;
  }
  if (!WriteExifData(destination)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [WriteExifData()] function.");
    return 0;
  }
  return 1;
}

BOOL CExifHdrAdd::GetJpegData(const std::string& path, std::vector<BYTE>* buffer) {
  if (!buffer || path.empty()) return FALSE;
  std::ifstream in(path, std::ios::binary);
  if (!in) return FALSE;
  buffer->clear();
  try {
    std::vector<BYTE> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || data.empty()) return FALSE;
    buffer->swap(data);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CExifHdrAdd::GetJpegData", "new");
    ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
    return FALSE;
  }
  return TRUE;
}

int CExifHdrAdd::ReadJpegData(const std::string& source) {
  static const char* kFunc = "CExifHdrAdd::ReadJpegData";
  if (m_strWorkFolder.empty()) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateDirectory] function. GetLastError=[0x%08X]",
             static_cast<unsigned>(ENOENT));
    ShowMessage(IDS_INTERNAL_ERROR, MB_ICONERROR);
    return 0;
  }
  if (!IsFolder(m_strWorkFolder)) {
    if (::mkdir(m_strWorkFolder.c_str(), 0700) != 0 && errno != EEXIST) {
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateDirectory] function. GetLastError=[0x%08X]",
               static_cast<unsigned>(errno));
      ShowMessage(IDS_INTERNAL_ERROR, MB_ICONERROR);
      return 0;
    }
    m_bFolderCreated = true;
  }
  if (!GetJpegData(source, &m_Source)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [GetJpegData()[1]] function.");
    return 0;
  }
  // The size a full decode gives is the frame header's; reading it there
  // spares decoding the whole picture once more. The full decode remains
  // for a header this walk cannot read.
  if (!ReadFrameSize(m_Source, &m_nWidth, &m_nHeight)) {
    CBitmap24 picture;
    if (!m_Jpeg.Load(&picture, m_Source.data(), static_cast<DWORD>(m_Source.size()), false, 0, 0, 0)) {
      TraceLog(TRC_PRE, kFunc, "The error occurred with the [Load()[1]] function.");
      return 0;
    }
    m_nWidth = picture.width();
    m_nHeight = picture.height();
  }

  CBitmap24 thumb;
  if (!m_Jpeg.Load(&thumb, m_Source.data(), static_cast<DWORD>(m_Source.size()), true, THUMB_WIDTH, THUMB_HEIGHT,
                   0)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Load()[2]] function.");
    return 0;
  }
  if (!m_Jpeg.Save(m_strThumbFile, thumb, THUMB_QUALITY)) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [Save()] function.");
    return 0;
  }
  const BOOL read = GetJpegData(m_strThumbFile, &m_Thumbnail);
  std::remove(m_strThumbFile.c_str());
  if (!read) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [GetJpegData()[2]] function.");
    return 0;
  }
  return 1;
}

DWORD CExifHdrAdd::CreateIFD0(std::vector<BYTE>* block, DWORD offset) {
  if (!block) return 0;
  try {
    CIfdBuilder ifd(offset, 7);
    ifd.Add(0x010F, TIFF_ASCII, 1, BytesValue("", 1));          // Make
    ifd.Add(0x0110, TIFF_ASCII, 1, BytesValue("", 1));          // Model
    ifd.Add(0x011A, TIFF_RATIONAL, 1, RationalValue(72, 1));    // XResolution
    ifd.Add(0x011B, TIFF_RATIONAL, 1, RationalValue(72, 1));    // YResolution
    ifd.Add(0x0128, TIFF_SHORT, 1, WordValue(2));               // ResolutionUnit: inch
    ifd.Add(0x0213, TIFF_SHORT, 1, WordValue(2));               // YCbCrPositioning: co-sited
    ifd.AddNestedPointer(0x8769);                               // ExifIFDPointer
    std::vector<BYTE> nested;
    const DWORD end = CreateSubIFD(&nested, ifd.NestedOffset());
    if (end == 0) return 0;
    // IFD1 follows everything this block holds.
    return ifd.Write(block, nested, end);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CExifHdrAdd::CreateIFD0", "new");
    ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
    return 0;
  }
}

DWORD CExifHdrAdd::CreateSubIFD(std::vector<BYTE>* block, DWORD offset) {
  if (!block) return 0;
  try {
    std::string dateTime = m_strDateTime;
    dateTime.resize(19, ' ');
    CIfdBuilder ifd(offset, 9);
    ifd.Add(0x9000, TIFF_UNDEFINED, 4, BytesValue("0210", 4));                    // ExifVersion
    ifd.Add(0x9003, TIFF_ASCII, 20, BytesValue(dateTime.c_str(), 20));           // DateTimeOriginal
    ifd.Add(0x9004, TIFF_ASCII, 20, BytesValue(dateTime.c_str(), 20));           // DateTimeDigitized
    ifd.Add(0x9101, TIFF_UNDEFINED, 4, BytesValue("\x01\x02\x03\x00", 4));        // ComponentsConfiguration
    ifd.Add(0xA000, TIFF_UNDEFINED, 4, BytesValue("0100", 4));                    // FlashpixVersion
    ifd.Add(0xA001, TIFF_SHORT, 1, WordValue(1));                                 // ColorSpace: sRGB
    ifd.Add(0xA002, TIFF_LONG, 1, LongValue(static_cast<DWORD>(m_nWidth)));       // PixelXDimension
    ifd.Add(0xA003, TIFF_LONG, 1, LongValue(static_cast<DWORD>(m_nHeight)));      // PixelYDimension
    ifd.AddNestedPointer(0xA005);                                                 // InteroperabilityIFDPointer
    std::vector<BYTE> nested;
    if (CreateInteroperabilityIFD(&nested, ifd.NestedOffset()) == 0) return 0;
    return ifd.Write(block, nested, 0);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CExifHdrAdd::CreateSubIFD", "new");
    ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
    return 0;
  }
}

DWORD CExifHdrAdd::CreateInteroperabilityIFD(std::vector<BYTE>* block, DWORD offset) {
  if (!block) return 0;
  try {
    CIfdBuilder ifd(offset, 2);
    ifd.Add(0x0001, TIFF_ASCII, 4, BytesValue("R98", 4));        // InteroperabilityIndex
    ifd.Add(0x0002, TIFF_UNDEFINED, 4, BytesValue("0100", 4));   // InteroperabilityVersion
    return ifd.Write(block, {}, 0);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CExifHdrAdd::CreateInteroperabilityIFD", "new");
    ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
    return 0;
  }
}

DWORD CExifHdrAdd::CreateIFD1(std::vector<BYTE>* block, DWORD offset) {
  if (!block) return 0;
  try {
    CIfdBuilder ifd(offset, 6);
    ifd.Add(0x0103, TIFF_SHORT, 1, WordValue(6));                 // Compression: JPEG
    ifd.Add(0x011A, TIFF_RATIONAL, 1, RationalValue(72, 1));      // XResolution
    ifd.Add(0x011B, TIFF_RATIONAL, 1, RationalValue(72, 1));      // YResolution
    ifd.Add(0x0128, TIFF_SHORT, 1, WordValue(2));                 // ResolutionUnit
    ifd.Add(0x0202, TIFF_LONG, 1, LongValue(static_cast<DWORD>(m_Thumbnail.size())));  // JPEGInterchangeFormatLength
    ifd.AddNestedPointer(0x0201);                                 // JPEGInterchangeFormat
    std::vector<BYTE> nested(m_Thumbnail);
    nested.push_back(0xFF);
    return ifd.Write(block, nested, 0);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CExifHdrAdd::CreateIFD1", "new");
    ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
    return 0;
  }
}

bool CExifHdrAdd::BuildExifFile(std::string* file) {
  static const char* kFunc = "CExifHdrAdd::WriteExifData";
  if (!file || m_Source.size() < 2) return false;
  if (m_Thumbnail.empty() || m_Thumbnail.size() > MAX_THUMBNAIL_LENGTH) {
    TraceLog(TRC_PRE, kFunc, "The thumbnail of %zu bytes does not fit into the Exif segment.", m_Thumbnail.size());
    return false;
  }
  std::vector<BYTE> first;
  const DWORD ifd1 = CreateIFD0(&first, 8);
  if (ifd1 == 0) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateIFD0()] function.");
    ShowMessage(IDS_INTERNAL_ERROR, MB_ICONERROR);
    return false;
  }
  std::vector<BYTE> second;
  if (CreateIFD1(&second, ifd1) == 0) {
    TraceLog(TRC_PRE, kFunc, "The error occurred with the [CreateIFD1()] function.");
    ShowMessage(IDS_INTERNAL_ERROR, MB_ICONERROR);
    return false;
  }
  const size_t length = first.size() + 8 + second.size() + 8;
  if (length > 0xFFFF) return false;
  try {
    file->clear();
    file->reserve(m_Source.size() + length + 4);
    file->append(reinterpret_cast<const char*>(m_Source.data()), 2);
    file->push_back('\xFF');
    file->push_back('\xE1');
    file->push_back(static_cast<char>((length >> 8) & 0xFF));
    file->push_back(static_cast<char>(length & 0xFF));
    file->append("Exif\0\0", 6);
    file->append("II\x2A\x00\x08\x00\x00\x00", 8);
    file->append(reinterpret_cast<const char*>(first.data()), first.size());
    file->append(reinterpret_cast<const char*>(second.data()), second.size());
    file->append(reinterpret_cast<const char*>(m_Source.data()) + 2, m_Source.size() - 2);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, kFunc, "new");
    ShowMessage(IDS_NO_RESOURCE, MB_ICONERROR);
    return false;
  }
  return true;
}

int CExifHdrAdd::WriteExifData(const std::string& destination) {
  std::string file;
  if (!BuildExifFile(&file)) return 0;
  // Written beside the destination and renamed over it: the destination is
  // often the source itself, which must survive a failed write.
  if (!WriteFileReplacing(destination, file.data(), file.size())) {
    TraceLog(TRC_PRE, "CExifHdrAdd::WriteExifData", "The error occurred with the [Open()] function.");
    ShowMessage(IDS_INTERNAL_ERROR, MB_ICONERROR);
    return 0;
  }
  return 1;
}
