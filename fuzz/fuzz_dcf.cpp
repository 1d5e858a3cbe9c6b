// The DCF folder and file name rules, on names as they come from the card's
// listings (zero-terminated, any bytes).
#include <cstddef>
#include <cstdint>
#include <string>

#include "Fotavi/Card/DcfNameCheck.h"
#include "FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  CDcfNameCheck check;
  check.IsFolderName(name.c_str());
  check.IsFileName(name.c_str());
  check.IsDigits(name);
  check.IsAlnumOrUnderscore(name);
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  return {"100ABCDE", "999_____", "099ABCDE", "ABCD0001.JPG", "AB_D9999.Jpg", "ABCD0000.JPG", "ABCD0001.JPG.JPG"};
}
