// The text formats the project reads itself: the settings files that stand
// in for the registry, and the programs' INI files ("Fotavi.ini" and
// "FotaviMov.ini" beside the program).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzFile.h"
#include "Platform/Ini.h"
#include "Platform/Settings.h"
#include <sstream>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fotavi::fuzz::InputFile file(data, size);
  IniReadString(file.Path(), "VIEWER", "ROOTPATH", "");
  IniReadInt(file.Path(), "Config", "TRACESIZE", 1);
  IniReadString(file.Path(), "", "", "x");
  setenv("FOTAVI_MACHINE_SETTINGS", file.Path().c_str(), 1);
  setenv("FOTAVI_USER_SETTINGS", file.Path().c_str(), 1);
  std::string text;
  DWORD value = 0;
  SettingsReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters", "InstallPath", &text);
  SettingsReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Z5\\Device Parameters", "MaxTransferSize", &value);
  SettingsKeyExists(HKEY_CURRENT_USER, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Fotavi");
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  // Files the project's own writers make.
  const std::string folder = RunFolder();
  const std::string ini = folder + "/seed.ini";
  const std::string conf = folder + "/seed.conf";
  IniWriteString(ini, "VIEWER", "ROOTPATH", "C:\\DCIM");
  IniWriteString(ini, "Config", "TRACESIZE", "3");
  setenv("FOTAVI_MACHINE_SETTINGS", conf.c_str(), 1);
  SettingsWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Z5\\Device Parameters", "MaxTransferSize", 64);
  SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters", "InstallPath",
                      "/opt/fotavi");
  Seeds seeds;
  for (const std::string& path : {ini, conf}) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    seeds.push_back(text.str());
  }
  return seeds;
}
