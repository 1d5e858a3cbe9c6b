#include "CardFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

#include "Protocol.h"

namespace fotavi::emu {

namespace {

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

bool NameOrder(const std::string& a, const std::string& b) {
  int c = strcasecmp(a.c_str(), b.c_str());
  return c != 0 ? c < 0 : a < b;
}

// Names of a folder (without "." and ".."), in name order.
std::vector<std::string> ReadNames(const std::string& dirPath) {
  std::vector<std::string> names;
  DIR* dir = opendir(dirPath.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), NameOrder);
  return names;
}

bool IsLegalComponent(const std::string& c) {
  if (c.empty() || c == "." || c == "..") return false;
  for (unsigned char ch : c) {
    if (ch < 0x20 || ch == 0x7F || strchr("/:*?\"<>|", ch)) return false;
  }
  return true;
}

enum class Kind { Missing, File, Folder, Other };

Kind KindOf(const std::string& hostPath) {
  struct stat st;
  if (lstat(hostPath.c_str(), &st) != 0) return Kind::Missing;
  if (S_ISDIR(st.st_mode)) return Kind::Folder;
  if (S_ISREG(st.st_mode)) return Kind::File;
  return Kind::Other;  // links, sockets, devices: not part of the card
}

uint32_t StatusFromErrno(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kStatusFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return kStatusLocked;
    case ENOENT:
    case ENOTDIR:
      return kStatusNotFound;
    case EEXIST:
      return kStatusExists;
    default:
      return kStatusCardError;
  }
}

bool IsWriteProtected(const std::string& hostPath) {
  struct stat st;
  return lstat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

// True when any file in the tree is write-protected.
bool TreeHasProtected(const std::string& hostPath) {
  Kind k = KindOf(hostPath);
  if (k == Kind::File) return IsWriteProtected(hostPath);
  if (k != Kind::Folder) return false;
  for (const auto& n : ReadNames(hostPath))
    if (TreeHasProtected(hostPath + "/" + n)) return true;
  return false;
}

int RemoveTree(const std::string& hostPath) {
  if (KindOf(hostPath) == Kind::Folder) {
    for (const auto& n : ReadNames(hostPath)) {
      int e = RemoveTree(hostPath + "/" + n);
      if (e != 0) return e;
    }
    return rmdir(hostPath.c_str()) == 0 ? 0 : errno;
  }
  return unlink(hostPath.c_str()) == 0 ? 0 : errno;
}

// The card speaks the camera's ANSI code page, Windows-1252; the host folder
// holds UTF-8 names. Card text is turned into host text on the way in; a
// host name the code page cannot carry is not part of the card.
const char32_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string CardToHost(const std::string& card) {
  std::string out;
  for (unsigned char b : card) {
    char32_t cp = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool HostToCard(const std::string& host, std::string* card) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(host.data());
  for (size_t i = 0; i < host.size();) {
    const unsigned char b = p[i];
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > host.size()) return false;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    i += len;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    int found = -1;
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] == cp) found = k;
    if (found < 0) return false;
    out += static_cast<char>(0x80 + found);
  }
  *card = std::move(out);
  return true;
}

// A listing entry in the card's code page; false when it cannot be one.
bool CardEntry(const std::string& hostText, std::string* entry) {
  return HostToCard(hostText, entry) && entry->size() <= kMaxEntryChars;
}

}  // namespace

CardFolder::CardFolder(std::string hostRoot) : root_(std::move(hostRoot)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

CardFolder::Resolved CardFolder::Resolve(const std::string& cardText) const {
  Resolved r;
  const std::string text = CardToHost(cardText);
  if (text.size() < 2 || (text[0] != 'C' && text[0] != 'c') || text[1] != ':') return r;
  std::vector<std::string> parts;
  std::string rest = text.substr(2);
  if (!rest.empty()) {
    if (rest[0] != '\\') return r;
    rest.erase(0, 1);
    if (!rest.empty() && rest.back() == '\\') rest.pop_back();  // "C:\DCIM\" is "C:\DCIM"
    size_t start = 0;
    while (!rest.empty()) {
      size_t bs = rest.find('\\', start);
      std::string part = rest.substr(start, bs == std::string::npos ? std::string::npos : bs - start);
      if (!IsLegalComponent(part)) return r;
      parts.push_back(part);
      if (bs == std::string::npos) break;
      start = bs + 1;
    }
  }
  std::string host = root_;
  std::string card = "C:";
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string found;
    for (const auto& n : ReadNames(host)) {
      if (n == parts[i]) {
        found = n;
        break;
      }
      if (found.empty() && SameName(n, parts[i])) found = n;
    }
    bool last = i + 1 == parts.size();
    if (found.empty()) {
      if (!last) return r;  // a folder on the way is missing
      r.valid = true;
      r.hostPath = host + "/" + parts[i];
      r.cardPath = card + "\\" + parts[i];
      return r;
    }
    Kind k = KindOf(host + "/" + found);
    if (k == Kind::Other) return r;  // never follow links out of the card
    if (!last && k != Kind::Folder) return r;
    host += "/" + found;
    card += "\\" + found;
  }
  r.valid = true;
  r.exists = true;
  r.isFolder = KindOf(host) == Kind::Folder;
  r.hostPath = host;
  r.cardPath = card;
  return r;
}

std::vector<std::string> CardFolder::RootList() const {
  std::vector<std::string> entries;
  Resolved dcim = Resolve("C:\\DCIM");
  if (!dcim.exists || !dcim.isFolder) return entries;
  std::string entry;
  if (!CardEntry(dcim.cardPath, &entry)) return entries;
  entries.push_back(entry);
  for (const auto& n : ReadNames(dcim.hostPath)) {
    if (KindOf(dcim.hostPath + "/" + n) == Kind::Folder && CardEntry(dcim.cardPath + "\\" + n, &entry))
      entries.push_back(entry);
  }
  return entries;
}

uint32_t CardFolder::FolderList(const std::string& path, std::vector<std::string>* entries) const {
  entries->clear();
  Resolved r = Resolve(path);
  if (!r.exists || !r.isFolder) return kStatusNotFound;
  std::string entry;
  for (const auto& n : ReadNames(r.hostPath)) {
    if (KindOf(r.hostPath + "/" + n) == Kind::File && CardEntry(r.cardPath + "\\" + n, &entry))
      entries->push_back(entry);
  }
  return kStatusDone;
}

uint32_t CardFolder::ReadFile(const std::string& path, std::vector<uint8_t>* data) const {
  data->clear();
  Resolved r = Resolve(path);
  if (!r.exists || r.isFolder) return kStatusNotFound;
  int fd = open(r.hostPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return StatusFromErrno(errno);
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      data->clear();
      return kStatusCardError;
    }
    if (n == 0) break;
    data->insert(data->end(), buf, buf + n);
  }
  close(fd);
  return kStatusDone;
}

uint32_t CardFolder::CheckWrite(const std::string& path) const {
  Resolved r = Resolve(path);
  if (!r.valid || r.cardPath == "C:") return kStatusNotFound;
  if (r.exists && r.isFolder) return kStatusNotFound;
  if (r.exists && IsWriteProtected(r.hostPath)) return kStatusLocked;
  return kStatusDone;
}

uint32_t CardFolder::WriteFile(const std::string& path, const std::vector<uint8_t>& data) const {
  uint32_t check = CheckWrite(path);
  if (check != kStatusDone) return check;
  Resolved r = Resolve(path);
  std::string dir = r.hostPath.substr(0, r.hostPath.rfind('/'));
  std::string temp = dir + "/.camera-write-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return StatusFromErrno(errno);
  size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0 && err == 0) err = errno;
  fchmodat(AT_FDCWD, name.data(), 0644, 0);
  if (err == 0 && rename(name.data(), r.hostPath.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(name.data());
    return StatusFromErrno(err);
  }
  return kStatusDone;
}

uint32_t CardFolder::MakeFolder(const std::string& path) const {
  Resolved r = Resolve(path);
  if (!r.valid || r.cardPath == "C:") return kStatusNotFound;
  if (r.exists) return kStatusExists;
  if (mkdir(r.hostPath.c_str(), 0755) != 0) return StatusFromErrno(errno);
  return kStatusDone;
}

uint32_t CardFolder::Delete(const std::string& path) const {
  Resolved r = Resolve(path);
  if (!r.exists || r.cardPath == "C:") return kStatusNotFound;
  if (TreeHasProtected(r.hostPath)) return kStatusLocked;
  int e = RemoveTree(r.hostPath);
  return e == 0 ? kStatusDone : StatusFromErrno(e);
}

}  // namespace fotavi::emu
