#include "TwainDSApp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CommonFunc.h"
#include "DsStrings.h"
#include "Platform/Library.h"

namespace {

void CopyText(char* field, size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::strncpy(field, text.c_str(), size - 1);
}

}  // namespace

CTwainDSApp::CTwainDSApp() = default;

CTwainDSApp::~CTwainDSApp() { ExitInstance(); }

TW_IDENTITY CTwainDSApp::MakeIdentity() {
  TW_IDENTITY id{};
  id.Id = 0;
  const int major = std::atoi(DsString(IDS_DS_VERSION_MAJOR).c_str());
  const int minor = std::atoi(DsString(IDS_DS_VERSION_MINOR).c_str());
  id.Version.MajorNum = static_cast<TW_UINT16>(major);
  id.Version.MinorNum = static_cast<TW_UINT16>(minor);
  id.Version.Language = TWLG_USA;
  id.Version.Country = TWCY_USA;
  char info[64];
  std::snprintf(info, sizeof info, DsString(IDS_DS_VERSION_FORMAT).c_str(), major, minor);
  CopyText(id.Version.Info, sizeof id.Version.Info, info);
  id.ProtocolMajor = 1;
  id.ProtocolMinor = 9;
  // DF_DS2: a manager of today hands its entry points only to sources that say so.
  id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
  CopyText(id.Manufacturer, sizeof id.Manufacturer, DsString(IDS_DS_MANUFACTURER));
  CopyText(id.ProductFamily, sizeof id.ProductFamily, DsString(IDS_DS_FAMILY));
  CopyText(id.ProductName, sizeof id.ProductName, DsString(IDS_DS_CAPTION));
  return id;
}

void CTwainDSApp::InitInstance() {
  m_DS.SetOwnIdentity(MakeIdentity());
  BindCodec();
  m_DS.SetCodec(m_pLoadJpegA);
}

void CTwainDSApp::BindCodec() {
  const char* name = JpegCodecLibraryName(GetJpegLibType());
  if (!name) return;
  HMODULE module = LoadLibrary(CDeviceLink::ModuleBesideSource(name));
  if (!module) return;
  auto load = GetProcAddressAs<PFN_FNCLOADJPEGA>(module, FNC_LOADJPEGA);
  if (!load) {
    FreeLibrary(module);
    return;
  }
  m_hCodec = module;
  m_pLoadJpegA = load;
}

void CTwainDSApp::ExitInstance() {
  m_DS.SetCodec(nullptr);
  m_pLoadJpegA = nullptr;
  if (m_hCodec) {
    FreeLibrary(m_hCodec);
    m_hCodec = nullptr;
  }
}
