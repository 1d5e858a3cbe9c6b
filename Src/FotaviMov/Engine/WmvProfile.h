// Windows Media profile files (".prx"): XML in UTF-16LE (with or without a
// byte-order mark) or UTF-8. Only what the WMV writer uses is read: the
// video streams' bit rate, buffer window, key-frame spacing and picture size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CWmvVideoStream {
  int streamNumber = 0;
  int64_t bitrate = 0;             // bits per second
  int64_t bufferWindowMs = 0;
  int64_t maxKeyFrameSpacing = 0;  // 100-ns units, 0 when not given
  int width = 0;                   // picture size; 0 when not given
  int height = 0;
  std::string compression;         // the four-character code of the profile, e.g. "WMV2"
};

struct CWmvProfile {
  std::string name;
  std::vector<CWmvVideoStream> video;
  int otherStreams = 0;            // audio and others, kept out of the file
};

enum class ProfileResult {
  Ok,
  Unreadable,  // missing, not a regular file, or a read error
  NoMemory,
  Malformed,   // not a profile document
  NoVideo,     // a profile without a video stream
};

// Reads and parses a profile file.
ProfileResult LoadWmvProfile(const std::string& path, CWmvProfile* profile, std::string* detail);
// Parses profile text as read from a file (any of the three encodings).
ProfileResult ParseWmvProfile(const std::string& bytes, CWmvProfile* profile, std::string* detail);
