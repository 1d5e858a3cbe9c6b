// The camera's slide-show playlist: one line per slide, in play order,
// "path,SEn,SIm" ended by CR LF, in the camera's ANSI code page. This is the
// parse and the build of that text and its exchange with the card, without
// any window: the list and the dialog sit on top of it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Platform/Types.h"

class CSDAccess;

constexpr int PLAYLIST_EFFECT_COUNT = 21;
constexpr int PLAYLIST_INTERVAL_COUNT = 5;
constexpr int PLAYLIST_DEFAULT_EFFECT = 20;   // "None"
constexpr int PLAYLIST_DEFAULT_INTERVAL = 0;  // "3"

constexpr UINT WM_PLAYLIST_LOAD = 0x440;

// Names shown for the effects (index 0-20) and the intervals (index 0-4).
const char* PlayListEffectName(int index);
const char* PlayListIntervalText(int index);

// One row of the play order.
struct PlayListEntry {
  std::string path;         // full card path, UTF-8
  int effect = PLAYLIST_DEFAULT_EFFECT;
  int interval = PLAYLIST_DEFAULT_INTERVAL;
  std::string displayName;  // the text after "\DCIM\"
  bool operator==(const PlayListEntry& other) const {
    return path == other.path && effect == other.effect && interval == other.interval;
  }
};

// The value of a token "<prefix><digits>": the digits' value when it lies in
// minimum..maximum, 0 for the prefix alone, the default in every other case
// (no token, another prefix, any other character, a value too large to hold).
int PlayListTokenValue(const std::string* token, const char* prefix, int minimum, int maximum, int fallback);

// Accepts one entry: all three present, the path non-empty, at most 32
// characters of the card's code page, holding "\DCIM\" (that case) followed
// by a DCF folder, a backslash and (after the last backslash) a DCF file
// name. *out gets the entry when it is accepted.
bool CheckPlayListEntry(const std::string* path, const std::string* effect, const std::string* interval,
                        PlayListEntry* out);
// Splits a line at its commas into three fields (a missing one is empty,
// text after a third comma ignored) and checks them.
bool ParsePlayListLine(const std::string& line, PlayListEntry* out);

struct PlayListParse {
  std::vector<PlayListEntry> entries;  // accepted lines, in file order
  // A line ended by CR LF was rejected (the unterminated last line never
  // counts).
  bool rejectedLine = false;
};
// Parses the card's bytes: each CR LF ends a line; the bytes after the last
// CR LF (or the whole block without one) form a last line.
PlayListParse ParsePlayListBytes(const char* data, size_t length);

// The text written for the entries, UTF-8: "%s,%s,%s\r\n" per entry.
std::string BuildPlayListText(const std::vector<PlayListEntry>& entries);
// The same in the card's code page; false when a path cannot be encoded.
bool EncodePlayList(const std::vector<PlayListEntry>& entries, std::string* ansi);

// Reads the card's playlist; false when the card gave nothing (no playlist,
// no card, no reply). The reply goes back to the service in every case.
bool LoadPlayList(CSDAccess* access, PlayListParse* out);

enum class PlayListSave { Written, NothingToWrite, Failed };
// Writes the entries to the card. An empty list writes nothing: the card's
// playlist stays as it was.
PlayListSave SavePlayList(CSDAccess* access, const std::vector<PlayListEntry>& entries);

// The cache file that may hold a copy of the card picture: the work folder,
// the card folder without ':' and '\', the file name. Empty without a work
// folder or without a backslash in the path.
std::string PlayListCacheFile(const std::string& workFolder, const std::string& cardPath);

struct PreviewSize {
  int width;
  int height;
};
// The preview's size in 4:3: unchanged when already 4:3; else the height
// rounded down to a multiple of 3 (3 at least) and the width 4/3 of it.
PreviewSize PreviewSizeFourByThree(int width, int height);
