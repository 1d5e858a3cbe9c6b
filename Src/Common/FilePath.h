// Splits a path into folder, name and extension and decides whether a file
// name can be used for a picture file. Paths use '/'; there are no drive
// letters, so the drive part is always empty.
#pragma once

#include <string>

#include "Platform/Types.h"

class CFilePath {
 public:
  CFilePath() = default;
  explicit CFilePath(const std::string& path) { SetPath(path); }

  // Splits a non-empty path; an empty one leaves the parts as they were.
  void SetPath(const std::string& path);
  const std::string& GetPath() const { return m_strPath; }

  std::string GetFolder() const { return m_strDrive + m_strDir; }            // with its trailing '/'
  std::string GetFileName() const { return m_strName + m_strExt; }           // name and extension
  std::string GetPathNoExt() const { return m_strDrive + m_strDir + m_strName; }
  std::string GetExt() const { return m_strExt; }                           // with its leading dot

  // TRUE when the name and extension of the current path make a usable file
  // name: not empty, no control or reserved character, valid UTF-8, not a
  // device name (AUX, CON, PRN, NUL, CLOCK$, COMn, LPTn, with or without an
  // extension), not "." or "..", at most 255 bytes.
  BOOL IsValidFileName();
  static BOOL IsValidName(const std::string& name);

  // Path split: folder (up to and with the last '/'), name, extension (from
  // the last '.' of the file part on).
  static void SplitPath(const std::string& path, std::string* dir, std::string* name, std::string* ext);

 private:
  std::string m_strPath;
  std::string m_strDrive;
  std::string m_strDir;
  std::string m_strName;
  std::string m_strExt;
};
