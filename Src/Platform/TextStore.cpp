#include "TextStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Paths.h"

namespace fotavi::platform {

bool TextStore::EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string TextStore::Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool TextStore::Load(const std::string& path) {
  lines_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno == ENOENT || access(path.c_str(), F_OK) != 0;
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TextLine tl;
    tl.text = line;
    std::string t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      auto close = t.find(']');
      section = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      tl.section = section;
    } else {
      tl.section = section;
      if (!t.empty() && t.front() != ';' && t.front() != '#') {
        auto eq = line.find('=');
        if (eq != std::string::npos) {
          tl.key = Trim(line.substr(0, eq));
          tl.value = line.substr(eq + 1);
        }
      }
    }
    lines_.push_back(std::move(tl));
  }
  return !in.bad();
}

bool TextStore::Save(const std::string& path) const {
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeFolders(path.substr(0, slash), 0755);
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = true;
  for (const auto& l : lines_) {
    if (std::fputs(l.text.c_str(), f) < 0 || std::fputc('\n', f) == EOF) ok = false;
  }
  if (std::fflush(f) != 0 || fsync(fileno(f)) != 0) ok = false;
  if (std::fclose(f) != 0) ok = false;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool TextStore::HasSection(const std::string& section) const {
  for (const auto& l : lines_) {
    if (EqualNoCase(l.section, section)) return true;
  }
  return false;
}

bool TextStore::Get(const std::string& section, const std::string& key, std::string* value) const {
  for (const auto& l : lines_) {
    if (!l.key.empty() && EqualNoCase(l.section, section) && EqualNoCase(l.key, key)) {
      *value = l.value;
      return true;
    }
  }
  return false;
}

void TextStore::Set(const std::string& section, const std::string& key, const std::string& value) {
  size_t lastOfSection = std::string::npos;
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto& l = lines_[i];
    if (!EqualNoCase(l.section, section)) continue;
    if (!(l.section.empty() && !section.empty())) lastOfSection = i;
    if (!l.key.empty() && EqualNoCase(l.key, key)) {
      l.value = value;
      l.text = l.key + "=" + value;
      return;
    }
  }
  TextLine tl;
  tl.section = section;
  tl.key = key;
  tl.value = value;
  tl.text = key + "=" + value;
  if (lastOfSection == std::string::npos) {
    TextLine header;
    header.section = section;
    header.text = "[" + section + "]";
    lines_.push_back(header);
    lines_.push_back(tl);
  } else {
    lines_.insert(lines_.begin() + static_cast<long>(lastOfSection) + 1, tl);
  }
}

bool TextStore::Remove(const std::string& section, const std::string& key) {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto& l = lines_[i];
    if (!l.key.empty() && EqualNoCase(l.section, section) && EqualNoCase(l.key, key)) {
      lines_.erase(lines_.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool WithFileLock(const std::string& path, const std::function<bool()>& fn) {
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeFolders(path.substr(0, slash), 0755);
  int fd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  bool ok = fn();
  flock(fd, LOCK_UN);
  close(fd);
  return ok;
}

}  // namespace fotavi::platform
