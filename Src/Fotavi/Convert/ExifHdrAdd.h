// Turns a plain JPEG file into one with an Exif application segment, so that
// the camera lists and shows it from its SD card: the source's start-of-image
// marker, an APP1 segment built here (TIFF header, IFD0, Exif IFD,
// Interoperability IFD, IFD1 with a 160 x 120 thumbnail and one fill byte),
// then the rest of the source unchanged.
//
// Layout inside the TIFF data (little-endian, offsets from the TIFF header):
//   0 header, 8 IFD0 (7 entries), 98 its values, 114 Exif IFD (9 entries),
//   228 its values, 268 Interoperability IFD (2), 298 IFD1 (6), 376 its
//   values, 392 the thumbnail, then 0xFF. Segment length 401 + thumbnail.
// IFD1 lists JPEGInterchangeFormatLength before JPEGInterchangeFormat: the
// camera's own files do, and readers accept it with a warning.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Common/Jpeg.h"
#include "Platform/Types.h"

class CExifHdrAdd {
 public:
  // Shows a message box for a string number with the given icon flags; the
  // conversion passes its host's, a test a recorder. May be empty.
  using MessageSink = std::function<void(UINT stringId, UINT type)>;

  static constexpr int THUMB_WIDTH = 160;
  static constexpr int THUMB_HEIGHT = 120;
  static constexpr int THUMB_QUALITY = 75;
  static constexpr DWORD SEGMENT_FIXED_LENGTH = 401;  // length field without the thumbnail
  static constexpr DWORD THUMBNAIL_OFFSET = 392;       // TIFF offset of the thumbnail
  static constexpr size_t MAX_THUMBNAIL_LENGTH = 0xFFFF - SEGMENT_FIXED_LENGTH;  // 65,134
  static constexpr const char* THUMB_FILE_NAME = "EHA_THUMB.tmp";

  // `workFolder` is the program's work folder ("FotaviK27_Cache"), where the
  // thumbnail file is made; `jpeg` the program's codec wrapper.
  explicit CExifHdrAdd(const std::string& workFolder, const CJpeg& jpeg = CJpeg(), MessageSink sink = {});
  // Removes the work folder with its contents when this object created it.
  ~CExifHdrAdd();
  CExifHdrAdd(const CExifHdrAdd&) = delete;
  CExifHdrAdd& operator=(const CExifHdrAdd&) = delete;

  // 1 when `destination` holds the Exif version of `source`, 0 otherwise.
  // Source and destination may be one file: the source is wholly in memory
  // before the destination is written, and the destination is replaced only
  // by a completely written file, so a failure leaves it as it was.
  int AddExifHeader(const std::string& source, const std::string& destination);

  // Reads the whole file; a missing or empty file fails.
  BOOL GetJpegData(const std::string& path, std::vector<BYTE>* buffer);
  // Reads the source, measures it and makes the thumbnail. 1 or 0.
  int ReadJpegData(const std::string& source);
  // Writes the destination from what ReadJpegData gathered. 1 or 0.
  int WriteExifData(const std::string& destination);

  // Each writes its IFD at `offset` into `block` (appending) and returns the
  // first free offset after everything it wrote, 0 on failure. IFD0 holds
  // the Exif IFD, which holds the Interoperability IFD.
  DWORD CreateIFD0(std::vector<BYTE>* block, DWORD offset);
  DWORD CreateSubIFD(std::vector<BYTE>* block, DWORD offset);
  DWORD CreateInteroperabilityIFD(std::vector<BYTE>* block, DWORD offset);
  DWORD CreateIFD1(std::vector<BYTE>* block, DWORD offset);

  // The whole destination file for the gathered data, or false (nothing
  // made) when the thumbnail does not fit into the segment.
  bool BuildExifFile(std::string* file);

  // What ReadJpegData gathered (tests and the writer).
  void SetPicture(std::vector<BYTE> source, LONG width, LONG height, std::vector<BYTE> thumbnail,
                  std::string dateTime);
  LONG GetWidth() const { return m_nWidth; }
  LONG GetHeight() const { return m_nHeight; }
  const std::vector<BYTE>& GetThumbnail() const { return m_Thumbnail; }
  const std::string& GetDateTime() const { return m_strDateTime; }
  const std::string& GetThumbnailFile() const { return m_strThumbFile; }

  // The current local time as "YYYY:MM:DD hh:mm:ss".
  static std::string CurrentDateTime();

 private:
  void ShowMessage(UINT stringId, UINT type);

  std::string m_strWorkFolder;
  std::string m_strThumbFile;
  CJpeg m_Jpeg;
  MessageSink m_Sink;
  std::vector<BYTE> m_Source;
  std::vector<BYTE> m_Thumbnail;
  LONG m_nWidth = 0;
  LONG m_nHeight = 0;
  std::string m_strDateTime;
  bool m_bFolderCreated = false;
};
