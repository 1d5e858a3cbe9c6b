// The WMV profile reader: the bytes of a profile file, parsed as text and
// loaded by name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FotaviMov/Engine/WmvProfile.h"
#include "FuzzFile.h"
#include <sstream>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CWmvProfile parsed;
  std::string detail;
  ParseWmvProfile(std::string(reinterpret_cast<const char*>(data), size), &parsed, &detail);
  fotavi::fuzz::InputFile file(data, size);
  CWmvProfile loaded;
  LoadWmvProfile(file.Path(), &loaded, &detail);
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  Seeds seeds;
  for (const char* name : {"256-192", "512-384", "XGA"}) {
    std::ifstream in(std::string(FOTAVI_PROFILE_DIR) + "/" + name + ".prx", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) std::exit(1);
    seeds.push_back(text.str());
  }
  return seeds;
}
