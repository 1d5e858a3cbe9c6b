// The card's playlist file, as the slide show reads it from the card, and
// the text written back for what was accepted.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Fotavi/SlideShow/PlayList.h"
#include "FuzzFile.h"
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PlayListParse parse = ParsePlayListBytes(reinterpret_cast<const char*>(data), size);
  std::string ansi;
  EncodePlayList(parse.entries, &ansi);
  // What is written back reads as the same entries.
  PlayListParse again = ParsePlayListBytes(ansi.data(), ansi.size());
  if (!ansi.empty() && again.entries.size() != parse.entries.size()) __builtin_trap();
  BuildPlayListText(parse.entries);
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  std::vector<PlayListEntry> entries(3);
  entries[0].path = "C:\\DCIM\\100ABCDE\\IMAG0001.JPG";
  entries[1].path = "C:\\DCIM\\101_TEST\\AB_D9999.JPG";
  entries[1].effect = 3;
  entries[1].interval = 4;
  entries[2].path = "C:\\DCIM\\999ZZZZZ\\ZZZZ0042.JPG";
  entries[2].effect = 0;
  std::string ansi;
  if (!EncodePlayList(entries, &ansi)) std::exit(1);
  return {ansi, ansi.substr(0, ansi.size() - 2), "C:\\DCIM\\100ABCDE\\IMAG0001.JPG,SE,SI\r\n,,\r\n"};
}
