#include "WmvProfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <QXmlStreamReader>
#include <cerrno>
#include <cstring>
#include <new>

#include "Common/RegularFile.h"

namespace {
// Major type of video streams: "vids" as a media-type GUID.
constexpr const char* kVideoMajorType = "{73646976-0000-0010-8000-00AA00389B71}";

// The profile text ends at its first zero character, as a wide string
// does: files saved with their terminating zero read like those without.
QString UpToZero(QString text) {
  const qsizetype zero = text.indexOf(QChar(u'\0'));
  if (zero >= 0) text.truncate(zero);
  return text;
}

QString DecodeProfileText(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    return UpToZero(
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2), static_cast<qsizetype>((n - 2) / 2)));
  }
  // UTF-16LE without a mark: the first character is ASCII ('<' or a blank),
  // so its second byte is zero.
  if (n >= 2 && p[0] != 0 && p[1] == 0) {
    return UpToZero(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data()), static_cast<qsizetype>(n / 2)));
  }
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    return UpToZero(QString::fromUtf8(bytes.data() + 3, static_cast<qsizetype>(n - 3)));
  }
  return UpToZero(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(n)));
}

// Attribute by name without regard to case (profiles are written in lower
// case, but other tools write mixed case).
QString Attribute(const QXmlStreamAttributes& attrs, const char* name) {
  for (const auto& a : attrs) {
    if (a.name().compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return a.value().toString();
  }
  return {};
}

int64_t Number(const QXmlStreamAttributes& attrs, const char* name) {
  bool ok = false;
  const int64_t v = Attribute(attrs, name).trimmed().toLongLong(&ok);
  return ok ? v : 0;
}

bool Is(const QXmlStreamReader& xml, const char* name) {
  return xml.name().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}
}  // namespace

ProfileResult ParseWmvProfile(const std::string& bytes, CWmvProfile* profile, std::string* detail) {
  try {
    *profile = CWmvProfile{};
    QXmlStreamReader xml(DecodeProfileText(bytes));
    bool seenRoot = false;
    bool inVideo = false;
    CWmvVideoStream current;
    int depth = 0;
    while (!xml.atEnd()) {
      const auto token = xml.readNext();
      if (token == QXmlStreamReader::StartElement) {
        ++depth;
        const auto attrs = xml.attributes();
        if (depth == 1) {
          if (!Is(xml, "profile")) {
            if (detail) *detail = "The root element is not a profile.";
            return ProfileResult::Malformed;
          }
          seenRoot = true;
          profile->name = Attribute(attrs, "name").toStdString();
        } else if (Is(xml, "streamconfig")) {
          inVideo = Attribute(attrs, "majortype").compare(QLatin1String(kVideoMajorType), Qt::CaseInsensitive) == 0;
          if (inVideo) {
            current = CWmvVideoStream{};
            current.streamNumber = static_cast<int>(Number(attrs, "streamnumber"));
            current.bitrate = Number(attrs, "bitrate");
            current.bufferWindowMs = Number(attrs, "bufferwindow");
          } else {
            ++profile->otherStreams;
          }
        } else if (inVideo && Is(xml, "videomediaprops")) {
          current.maxKeyFrameSpacing = Number(attrs, "maxkeyframespacing");
        } else if (inVideo && Is(xml, "videoinfoheader")) {
          if (current.bitrate == 0) current.bitrate = Number(attrs, "dwbitrate");
        } else if (inVideo && Is(xml, "bitmapinfoheader")) {
          current.width = static_cast<int>(Number(attrs, "biwidth"));
          current.height = static_cast<int>(Number(attrs, "biheight"));
          current.compression = Attribute(attrs, "bicompression").toStdString();
        }
      } else if (token == QXmlStreamReader::EndElement) {
        if (Is(xml, "streamconfig") && inVideo) {
          profile->video.push_back(current);
          inVideo = false;
        }
        --depth;
      }
    }
    if (xml.hasError() || !seenRoot) {
      if (detail) *detail = seenRoot ? xml.errorString().toStdString() : "No profile element.";
      return ProfileResult::Malformed;
    }
    if (profile->video.empty()) return ProfileResult::NoVideo;
    return ProfileResult::Ok;
  } catch (const std::bad_alloc&) {
    return ProfileResult::NoMemory;
  }
}

ProfileResult LoadWmvProfile(const std::string& path, CWmvProfile* profile, std::string* detail) {
  // Only a regular file is read, and the opening never blocks: a FIFO named
  // like a profile would otherwise hold open() until a writer comes.
  long long size = 0;
  const int fd = OpenRegularFile(path, &size);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if (detail) {
      *detail = stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? "The specified profile file is not a disk file."
                                                                      : strerror(error);
    }
    return ProfileResult::Unreadable;
  }
  // Profiles are a few kilobytes; anything huge is not one.
  constexpr long long kMaxProfile = 16 * 1024 * 1024;
  if (size > kMaxProfile) {
    if (detail) *detail = "The profile file is too large.";
    close(fd);
    return ProfileResult::Malformed;
  }
  std::string bytes;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    close(fd);
    return ProfileResult::NoMemory;
  }
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (detail) *detail = n < 0 ? strerror(errno) : "The profile file ended early.";
      close(fd);
      return ProfileResult::Unreadable;
    }
    got += static_cast<size_t>(n);
  }
  close(fd);
  return ParseWmvProfile(bytes, profile, detail);
}
