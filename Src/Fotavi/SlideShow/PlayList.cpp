#include "PlayList.h"

#include <climits>

#include "AnsiText.h"
#include "CardFolders.h"
#include "DcfNameCheck.h"
#include "Platform/GlobalMemory.h"
#include "SDAccess.h"

namespace {

const char* const kEffectNames[PLAYLIST_EFFECT_COUNT] = {
    "ALL",     "Random",       "Top down",    "Left to right", "Bottom up",  "Right to left", "LT to RB",
    "RT to LB", "RB to LT",    "LB to RT",    "Random block",  "Fade in/out", "Overlap",      "Shutter",
    "Door",    "Stripe",       "BW to color", "Color to sepia", "Joint V",   "Joint H",       "None"};
const char* const kIntervalTexts[PLAYLIST_INTERVAL_COUNT] = {"3", "5", "10", "15", "30"};

const char kDcimMark[] = "\\DCIM\\";

}  // namespace

const char* PlayListEffectName(int index) {
  return index >= 0 && index < PLAYLIST_EFFECT_COUNT ? kEffectNames[index] : "";
}

const char* PlayListIntervalText(int index) {
  return index >= 0 && index < PLAYLIST_INTERVAL_COUNT ? kIntervalTexts[index] : "";
}

int PlayListTokenValue(const std::string* token, const char* prefix, int minimum, int maximum, int fallback) {
  if (!token || !prefix) return fallback;
  const std::string head(prefix);
  if (token->compare(0, head.size(), head) != 0 || token->size() < head.size()) return fallback;
  long long value = 0;
  for (size_t i = head.size(); i < token->size(); ++i) {
    const char c = (*token)[i];
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    // A value this large is out of every range: stop before it overflows.
    if (value > INT_MAX) return fallback;
  }
  return value >= minimum && value <= maximum ? static_cast<int>(value) : fallback;
}

bool CheckPlayListEntry(const std::string* path, const std::string* effect, const std::string* interval,
                        PlayListEntry* out) {
  if (!path || !effect || !interval || path->empty()) return false;
  if (!FitsCardPath(*path)) return false;
  const size_t mark = path->find(kDcimMark);
  if (mark == std::string::npos) return false;
  const std::string display = path->substr(mark + sizeof(kDcimMark) - 1);
  const size_t first = display.find('\\');
  if (first == std::string::npos) return false;
  const CDcfNameCheck check;
  if (!check.IsFolderName(display.substr(0, first)) || !check.IsFileName(display.substr(display.rfind('\\') + 1)))
    return false;
  if (out) {
    out->path = *path;
    out->displayName = display;
    out->effect = PlayListTokenValue(effect, "SE", 0, PLAYLIST_EFFECT_COUNT - 1, PLAYLIST_DEFAULT_EFFECT);
    out->interval = PlayListTokenValue(interval, "SI", 0, PLAYLIST_INTERVAL_COUNT - 1, PLAYLIST_DEFAULT_INTERVAL);
  }
  return true;
}

bool ParsePlayListLine(const std::string& line, PlayListEntry* out) {
  std::string fields[3];
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    if (start > line.size()) break;
    const size_t comma = line.find(',', start);
    fields[i] = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? line.size() + 1 : comma + 1;
  }
  return CheckPlayListEntry(&fields[0], &fields[1], &fields[2], out);
}

PlayListParse ParsePlayListBytes(const char* data, size_t length) {
  PlayListParse result;
  if (!data || length == 0) return result;
  auto parse = [&](size_t begin, size_t end, bool terminated) {
    PlayListEntry entry;
    if (ParsePlayListLine(AnsiToUtf8(data + begin, end - begin), &entry))
      result.entries.push_back(std::move(entry));
    else if (terminated)
      result.rejectedLine = true;
  };
  size_t begin = 0;
  for (size_t i = 0; i + 1 < length; ++i) {
    if (data[i] == '\r' && data[i + 1] == '\n') {
      parse(begin, i, true);
      begin = i + 2;
      ++i;
    }
  }
  if (begin < length) parse(begin, length, false);
  return result;
}

std::string BuildPlayListText(const std::vector<PlayListEntry>& entries) {
  std::string text;
  for (const PlayListEntry& entry : entries)
    text += entry.path + ",SE" + std::to_string(entry.effect) + ",SI" + std::to_string(entry.interval) + "\r\n";
  return text;
}

bool EncodePlayList(const std::vector<PlayListEntry>& entries, std::string* ansi) {
  return ansi && Utf8ToAnsi(BuildPlayListText(entries), ansi);
}

bool LoadPlayList(CSDAccess* access, PlayListParse* out) {
  if (!access || !out) return false;
  const SD_DATA* data = access->SD_GetPlayList();
  if (!data) {
    access->FreeAll();
    return false;
  }
  const char* bytes = data->hData ? static_cast<const char*>(GlobalLock(data->hData)) : nullptr;
  *out = ParsePlayListBytes(bytes, bytes ? data->dwLength : 0);
  if (bytes) GlobalUnlock(data->hData);
  access->FreeAll();
  return true;
}

PlayListSave SavePlayList(CSDAccess* access, const std::vector<PlayListEntry>& entries) {
  if (entries.empty()) return PlayListSave::NothingToWrite;
  std::string ansi;
  if (!access || !EncodePlayList(entries, &ansi)) return PlayListSave::Failed;
  return access->SD_SetPlayList(ansi.data(), static_cast<DWORD>(ansi.size())) ? PlayListSave::Written
                                                                                 : PlayListSave::Failed;
}

std::string PlayListCacheFile(const std::string& workFolder, const std::string& cardPath) {
  const size_t slash = cardPath.rfind('\\');
  if (workFolder.empty() || slash == std::string::npos) return {};
  const std::string cacheName = CacheNameOf(cardPath.substr(0, slash));
  if (cacheName.empty()) return {};
  return workFolder + "/" + cacheName + "/" + cardPath.substr(slash + 1);
}

PreviewSize PreviewSizeFourByThree(int width, int height) {
  if (width * 3 == height * 4) return {width, height};
  int h = (height / 3) * 3;
  if (h == 0) h = 3;
  return {h * 4 / 3, h};
}
