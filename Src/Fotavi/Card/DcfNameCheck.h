// The DCF rules for the card's folder and file names: folders "100ABCDE"
// (three digits 100-999 and five letters, digits or "_"), files
// "ABCD0001.JPG" (four letters, digits or "_", four digits 0001-9999, ".JPG"
// in any case). Only ASCII counts: characters outside it fail every check.
#pragma once

#include <string>

#include "Platform/Types.h"

class CDcfNameCheck {
 public:
  CDcfNameCheck() = default;

  // Every character an ASCII decimal digit; the empty text passes.
  BOOL IsDigits(const std::string& text) const;
  // Every character an ASCII letter, digit or "_"; the empty text passes.
  BOOL IsAlnumOrUnderscore(const std::string& text) const;
  BOOL IsFolderName(const char* name) const;
  BOOL IsFolderName(const std::string& name) const { return IsFolderName(name.c_str()); }
  BOOL IsFileName(const char* name) const;
  BOOL IsFileName(const std::string& name) const { return IsFileName(name.c_str()); }
};
