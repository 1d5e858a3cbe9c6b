// The SD card of the camera, played by a host folder. Card paths look like
// "C:\DCIM\100ABCDE\IMAG0001.JPG": "C:" is the folder itself, components are
// separated by backslashes and matched without regard to letter case (as on
// the card's file system). Paths that could leave the folder ("..", ".",
// empty components, "/", symbolic links) are refused. Card text is in the
// camera's code page, Windows-1252; host names are UTF-8, and a host name
// the code page cannot carry is left out of listings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fotavi::emu {

class CardFolder {
 public:
  explicit CardFolder(std::string hostRoot);  // an existing folder

  struct Resolved {
    bool valid = false;     // the path is well formed and stays inside the card
    bool exists = false;    // the last component is there
    bool isFolder = false;
    std::string hostPath;   // path in the host folder
    std::string cardPath;   // "C:\DCIM\100ABCDE", the card's own letter case where the item exists
  };
  // `cardText` as the host sends it (Windows-1252). A missing last component is fine (valid,
  // !exists); a missing folder on the way is not valid.
  Resolved Resolve(const std::string& cardText) const;

  // Listings give card text (Windows-1252).
  // Root list: the DCIM folder ("C:\DCIM") followed by each folder inside it
  // ("C:\DCIM\100ABCDE"), in name order. Empty when the card has no DCIM folder.
  std::vector<std::string> RootList() const;
  // Files (not folders) of a folder as full card paths, in name order.
  // kStatusNotFound when the path is not a folder.
  uint32_t FolderList(const std::string& path, std::vector<std::string>* entries) const;
  // The file's bytes; kStatusNotFound when it is not a file.
  uint32_t ReadFile(const std::string& path, std::vector<uint8_t>* data) const;
  // Whether a file can be written at `path` (first answer to a write).
  uint32_t CheckWrite(const std::string& path) const;
  uint32_t WriteFile(const std::string& path, const std::vector<uint8_t>& data) const;
  uint32_t MakeFolder(const std::string& path) const;
  // Deletes a file or a folder with everything in it. A write-protected
  // file (no write permission) anywhere inside answers kStatusLocked and
  // nothing is deleted.
  uint32_t Delete(const std::string& path) const;

  const std::string& hostRoot() const { return root_; }

 private:
  std::string root_;
};

// Entries longer than this do not fit a 36-byte zero-terminated entry and
// are left out of listings.
constexpr size_t kMaxEntryChars = 35;

}  // namespace fotavi::emu
