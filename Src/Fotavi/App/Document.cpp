#include "App/Document.h"

#include <map>
#include <mutex>
#include <new>

#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "App/Resource.h"

CFotaviDoc::CFotaviDoc(CDocTemplate* docTemplate, std::string logClass)
    : m_strLogClass(std::move(logClass)), m_pTemplate(docTemplate) {}

CFotaviDoc::~CFotaviDoc() = default;

BOOL CFotaviDoc::CreateViewData() {
  if (m_pViewData) return TRUE;
  try {
    m_pViewData = std::make_unique<CViewData>();
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, (m_strLogClass + "::CreateViewData").c_str(), "new CViewData");
    FotaviMessageBox(IDS_NO_RESOURCE);
    return FALSE;
  }
  return TRUE;
}

CBitmap24 CFotaviDoc::GetBitmap() const { return m_pViewData ? m_pViewData->GetBitmap() : CBitmap24(); }
int CFotaviDoc::GetRotate() const { return m_pViewData ? m_pViewData->GetRotate() : 0; }
int CFotaviDoc::GetScrollPos(int bar) const { return m_pViewData ? m_pViewData->GetScrollPos(bar) : 0; }
int CFotaviDoc::GetPictureWidth() const { return m_pViewData ? m_pViewData->GetPictureWidth() : 0; }
int CFotaviDoc::GetPictureHeight() const { return m_pViewData ? m_pViewData->GetPictureHeight() : 0; }
double CFotaviDoc::GetZoom() const { return m_pViewData ? m_pViewData->GetZoom() : 1.0; }
int CFotaviDoc::GetSaveKind() const { return m_pViewData ? m_pViewData->GetSaveKind() : SAVEKIND_JPEG; }
std::string CFotaviDoc::GetName() const { return m_pViewData ? m_pViewData->GetName() : std::string(); }
std::string CFotaviDoc::GetPath() const { return m_pViewData ? m_pViewData->GetPath() : std::string(); }

void CFotaviDoc::SetZoom(double zoom) {
  if (m_pViewData) m_pViewData->SetZoom(zoom);
}
void CFotaviDoc::SetScrollPos(int bar, int pos) {
  if (m_pViewData) m_pViewData->SetScrollPos(bar, pos);
}
void CFotaviDoc::SetRotate(int commandId) {
  if (m_pViewData) m_pViewData->SetRotate(commandId);
}
void CFotaviDoc::SetSaveKind(int kind) {
  if (m_pViewData) m_pViewData->SetSaveKind(kind);
}
void CFotaviDoc::SetName(const std::string& name) {
  if (m_pViewData) m_pViewData->SetName(name);
}
void CFotaviDoc::SetPath(const std::string& path) {
  if (m_pViewData) m_pViewData->SetPath(path);
}
BOOL CFotaviDoc::LoadPicture(const BYTE* data, DWORD size, int scale) {
  return m_pViewData ? m_pViewData->LoadPicture(data, size, scale) : FALSE;
}
BOOL CFotaviDoc::LoadPicture(const std::string& path, BOOL bmp) {
  return m_pViewData ? m_pViewData->LoadPicture(path, bmp) : FALSE;
}

// ------------------------------------------------------------ templates

CDocTemplate::CDocTemplate(int /*resourceId: menu, icon and strings*/, std::string docStrings)
    : m_strDocStrings(std::move(docStrings)) {}

std::string CDocTemplate::GetDocString(int index) const {
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const size_t nl = m_strDocStrings.find('\n', start);
    if (nl == std::string::npos) return {};
    start = nl + 1;
  }
  const size_t end = m_strDocStrings.find('\n', start);
  return m_strDocStrings.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

CChildFrame* CDocTemplate::OpenDocument(CMainFrame* mainFrame) {
  const Factory factory = FindDocTemplateFactory(GetDocString(2));
  return factory ? factory(mainFrame, this) : nullptr;
}

namespace {
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::string, CDocTemplate::Factory>& Registry() {
  static std::map<std::string, CDocTemplate::Factory> registry;
  return registry;
}
}  // namespace

void RegisterDocTemplateFactory(const std::string& name, CDocTemplate::Factory factory) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  Registry()[name] = std::move(factory);
}

CDocTemplate::Factory FindDocTemplateFactory(const std::string& name) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  const auto it = Registry().find(name);
  return it == Registry().end() ? CDocTemplate::Factory() : it->second;
}
