// The one way a JPEG file the user named is read, by the built-in decoder
// and the outside codec alike: the file is opened by the regular-file rule
// (RegularFile.h: a regular file only, opened without blocking), then read
// piece by piece up to the end of its picture (the end-of-image marker),
// never beyond a bound, asking before each piece whether to go on. What
// follows the picture in the file is never read, so a picture at the head
// of a file of gigabytes costs what the picture costs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class JpegFileRead {
  Ok,          // the picture's bytes (up to its end marker, or to the file's end)
  Unreadable,  // not a regular file, cannot be read, or does not begin as a JPEG
  TooLarge,    // the picture's bytes pass the bound
  Canceled,    // `keepGoing` answered false
};

// The size of each piece read.
constexpr size_t JPEG_FILE_PIECE = 64 * 1024;

// Reads the JPEG picture at the head of the file at `path` into `*out`.
// `limitBytes`: the most bytes the picture may take. `keepGoing` (when set)
// is asked before each piece is read. `bytesRead` (when given) receives the
// bytes read from the file. A file that ends before the picture's end marker
// gives what it holds: the decoder refuses the picture that ends early.
JpegFileRead ReadJpegFile(const std::string& path, uint64_t limitBytes, const std::function<bool()>& keepGoing,
                          std::vector<unsigned char>* out, uint64_t* bytesRead = nullptr);

// The offset just past the end-of-image marker of the JPEG stream in
// data[0, size), or 0 while it is not there; `*scanned` keeps where the
// search is, so that a buffer that grows is scanned once (start with a
// fresh JpegStreamScan). A buffer that does not begin with the start-of-
// image marker sets `notJpeg`.
struct JpegStreamScan {
  size_t pos = 2;         // next byte to look at, past the start marker
  bool entropy = false;   // inside a scan's coded data
  bool notJpeg = false;
};
size_t FindJpegStreamEnd(const unsigned char* data, size_t size, JpegStreamScan* scan);
