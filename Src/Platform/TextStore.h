// Internal: a small sectioned text file ("[section]" lines and "key=value"
// lines) read and rewritten in place. Used by the settings store and the INI
// reader. Section and key names compare without regard to case.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace fotavi::platform {

struct TextLine {
  std::string text;     // the line as stored (without line end)
  std::string section;  // section it belongs to ("" before the first)
  std::string key;      // key of a key=value line, "" otherwise
  std::string value;    // raw value text after '=' (untrimmed)
};

class TextStore {
 public:
  // Reads the file; a missing file gives an empty store. false on a read error.
  bool Load(const std::string& path);
  // Writes through a temporary file and rename. false when it could not be written.
  bool Save(const std::string& path) const;

  bool HasSection(const std::string& section) const;
  // Raw value of the first matching key; false when missing.
  bool Get(const std::string& section, const std::string& key, std::string* value) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  bool Remove(const std::string& section, const std::string& key);

  static bool EqualNoCase(const std::string& a, const std::string& b);
  static std::string Trim(const std::string& s);

 private:
  std::vector<TextLine> lines_;
};

// Runs `fn` while holding an exclusive lock on `path` + ".lock".
bool WithFileLock(const std::string& path, const std::function<bool()>& fn);

}  // namespace fotavi::platform
