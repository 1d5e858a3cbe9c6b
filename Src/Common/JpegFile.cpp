#include "JpegFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "RegularFile.h"

size_t FindJpegStreamEnd(const unsigned char* data, size_t size, JpegStreamScan* s) {
  if (size < 2) return 0;
  if (data[0] != 0xFF || data[1] != 0xD8) {
    s->notJpeg = true;
    return 0;
  }
  while (s->pos < size) {
    if (s->entropy) {
      // Coded data: a 0xFF is a stuffed byte (0x00 follows), a restart
      // marker (0xD0 to 0xD7), fill (0xFF) or the marker that ends the scan.
      const void* ff = std::memchr(data + s->pos, 0xFF, size - s->pos);
      if (!ff) {
        s->pos = size;
        return 0;
      }
      const size_t i = static_cast<size_t>(static_cast<const unsigned char*>(ff) - data);
      if (i + 1 >= size) {
        s->pos = i;
        return 0;
      }
      const unsigned char b = data[i + 1];
      if (b == 0x00 || (b >= 0xD0 && b <= 0xD7)) {
        s->pos = i + 2;
      } else if (b == 0xFF) {
        s->pos = i + 1;
      } else {
        s->entropy = false;
        s->pos = i;
      }
      continue;
    }
    // Between segments: bytes other than a marker are skipped, as the
    // decoder skips them.
    if (data[s->pos] != 0xFF) {
      ++s->pos;
      continue;
    }
    if (s->pos + 1 >= size) return 0;
    const unsigned char b = data[s->pos + 1];
    if (b == 0xFF) {
      ++s->pos;
      continue;
    }
    if (b == 0xD9) return s->pos + 2;  // end of image
    if (b == 0x01 || b == 0xD8 || (b >= 0xD0 && b <= 0xD7) || b == 0x00) {
      s->pos += 2;  // markers without a length
      continue;
    }
    if (s->pos + 3 >= size) return 0;
    const size_t length = (static_cast<size_t>(data[s->pos + 2]) << 8) | data[s->pos + 3];
    if (length < 2) {
      s->pos += 2;  // a broken length: the decoder refuses it, stop looking here
      continue;
    }
    s->pos += 2 + length;
    if (b == 0xDA) s->entropy = true;  // start of scan: coded data follows its header
  }
  return 0;
}

JpegFileRead ReadJpegFile(const std::string& path, uint64_t limitBytes, const std::function<bool()>& keepGoing,
                          std::vector<unsigned char>* out, uint64_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (!out) return JpegFileRead::Unreadable;
  out->clear();
  long long fileSize = 0;
  const int fd = OpenRegularFile(path, &fileSize);
  if (fd < 0) return JpegFileRead::Unreadable;
  JpegFileRead result = JpegFileRead::Ok;
  JpegStreamScan scan;
  try {
    for (;;) {
      if (keepGoing && !keepGoing()) {
        result = JpegFileRead::Canceled;
        break;
      }
      if (out->size() >= limitBytes) {
        result = JpegFileRead::TooLarge;
        break;
      }
      const size_t have = out->size();
      const size_t want = static_cast<size_t>(std::min<uint64_t>(JPEG_FILE_PIECE, limitBytes - have));
      out->resize(have + want);
      ssize_t n;
      do {
        n = ::read(fd, out->data() + have, want);
      } while (n < 0 && errno == EINTR);
      if (n < 0) {
        result = JpegFileRead::Unreadable;
        break;
      }
      out->resize(have + static_cast<size_t>(n));
      if (bytesRead) *bytesRead += static_cast<uint64_t>(n);
      const size_t end = FindJpegStreamEnd(out->data(), out->size(), &scan);
      if (scan.notJpeg) {
        result = JpegFileRead::Unreadable;
        break;
      }
      if (end) {
        out->resize(end);
        break;
      }
      if (n == 0) break;  // the file ends before the picture does
    }
  } catch (const std::bad_alloc&) {
    result = JpegFileRead::TooLarge;
  }
  ::close(fd);
  if (result != JpegFileRead::Ok) {
    out->clear();
    out->shrink_to_fit();
  }
  return result;
}
