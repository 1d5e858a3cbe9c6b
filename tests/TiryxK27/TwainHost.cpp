#include "TwainHost.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace twain_test {
namespace {

std::atomic<CTwainHost*> g_host{nullptr};
constexpr TW_UINT32 kSourceId = 5;

TW_HANDLE MemAllocate(TW_UINT32 size) { return std::malloc(size); }
void MemFree(TW_HANDLE h) { std::free(h); }
TW_MEMREF MemLock(TW_HANDLE h) { return h; }
void MemUnlock(TW_HANDLE) {}

}  // namespace
}  // namespace twain_test

// The manager's entry as the source sees it: here only the source's notices
// (DG_CONTROL / DAT_NULL) arrive.
extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY dest,
                                                                     TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                     TW_MEMREF data) {
  twain_test::CTwainHost* host = twain_test::g_host.load();
  if (!host || dg != DG_CONTROL || dat != DAT_NULL || data) return TWRC_FAILURE;
  host->OnNotice(origin, dest, msg);
  return TWRC_SUCCESS;
}

namespace twain_test {

CTwainHost::CTwainHost() {
  app_.Id = 1;
  app_.Version.MajorNum = 1;
  app_.Version.Language = TWLG_USA;
  app_.Version.Country = TWCY_USA;
  std::strcpy(app_.Version.Info, "host");
  app_.ProtocolMajor = 2;
  app_.ProtocolMinor = 4;
  app_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
  std::strcpy(app_.Manufacturer, "Fotavi tests");
  std::strcpy(app_.ProductFamily, "tests");
  std::strcpy(app_.ProductName, "TWAIN test host");
  g_host = this;
}

CTwainHost::~CTwainHost() {
  CTwainHost* self = this;
  g_host.compare_exchange_strong(self, nullptr);
  // A source stays loaded once loaded (its module says so); closing the
  // handle only drops this reference.
  if (module_) dlclose(module_);
}

bool CTwainHost::Load(const std::string& path, std::string* error) {
  module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module_) {
    if (error) *error = dlerror();
    return false;
  }
  entry_ = reinterpret_cast<DSENTRYPROC>(dlsym(module_, "DS_Entry"));
  if (!entry_ && error) *error = "DS_Entry not exported";
  return entry_ != nullptr;
}

bool CTwainHost::Scan() {
  TW_IDENTITY identity{};
  TW_IDENTITY app = app_;
  if (entry_(&app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity) != TWRC_SUCCESS) return false;
  if ((identity.SupportedGroups & (DG_CONTROL | DG_IMAGE)) != (DG_CONTROL | DG_IMAGE)) return false;
  source_ = identity;
  source_.Id = kSourceId;
  return true;
}

TW_UINT16 CTwainHost::OpenDS(bool entryPoints) {
  TW_IDENTITY app = app_;
  if (entryPoints && (source_.SupportedGroups & DF_DS2)) {
    TW_ENTRYPOINT ep{};
    ep.Size = sizeof ep;
    ep.DSM_Entry = &::DSM_Entry;
    ep.DSM_MemAllocate = &MemAllocate;
    ep.DSM_MemFree = &MemFree;
    ep.DSM_MemLock = &MemLock;
    ep.DSM_MemUnlock = &MemUnlock;
    entry_(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep);
  }
  TW_IDENTITY copy = source_;
  return entry_(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &copy);
}

TW_UINT16 CTwainHost::CloseDS() {
  TW_IDENTITY copy = source_;
  return Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &copy);
}

TW_UINT16 CTwainHost::Enable(bool showUI) {
  TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUI ? 1 : 0), 0, nullptr};
  return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

TW_UINT16 CTwainHost::Disable() {
  TW_USERINTERFACE ui{0, 0, nullptr};
  return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

TW_UINT16 CTwainHost::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
  TW_IDENTITY app = app_;
  return entry_(&app, dg, dat, msg, data);
}

TW_UINT16 CTwainHost::Status() {
  TW_STATUS status{};
  Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  return status.ConditionCode;
}

TW_UINT16 CTwainHost::TransferNative(std::vector<TW_UINT8>* dib) {
  TW_HANDLE handle = nullptr;
  const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
  if (rc == TWRC_XFERDONE && handle) {
    // The block belongs to the application: a header, then the pixels.
    TW_UINT32 header[3];
    std::memcpy(header, handle, sizeof header);
    const TW_INT32 width = static_cast<TW_INT32>(header[1]);
    const TW_INT32 height = static_cast<TW_INT32>(header[2]);
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    if (dib) {
      const auto* p = static_cast<const TW_UINT8*>(handle);
      dib->assign(p, p + 40 + stride * static_cast<size_t>(height));
    }
    std::free(handle);
  }
  return rc;
}

TW_UINT16 CTwainHost::TransferMemory(TW_UINT32 buffer, std::vector<TW_UINT8>* rgb, TW_UINT32* width, TW_UINT32* rows) {
  TW_SETUPMEMXFER setup{};
  if (Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) return TWRC_FAILURE;
  std::vector<TW_UINT8> strip(buffer ? buffer : setup.Preferred);
  if (rgb) rgb->clear();
  TW_UINT32 total = 0;
  TW_UINT16 rc = TWRC_SUCCESS;
  for (int guard = 0; rc == TWRC_SUCCESS && guard < 100000; ++guard) {
    TW_IMAGEMEMXFER xfer{};
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = static_cast<TW_UINT32>(strip.size());
    xfer.Memory.TheMem = strip.data();
    rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
    if (rc == TWRC_FAILURE) break;
    if (xfer.YOffset != total) return TWRC_FAILURE;
    if (width) *width = xfer.Columns;
    for (TW_UINT32 r = 0; r < xfer.Rows && rgb; ++r) {
      const TW_UINT8* row = strip.data() + static_cast<size_t>(r) * xfer.BytesPerRow;
      rgb->insert(rgb->end(), row, row + static_cast<size_t>(xfer.Columns) * 3);
    }
    total += xfer.Rows;
  }
  if (rows) *rows = total;
  return rc;
}

TW_UINT16 CTwainHost::TransferFile(const std::string& file) {
  TW_SETUPFILEXFER setup{};
  std::strncpy(setup.FileName, file.c_str(), sizeof setup.FileName - 1);
  setup.Format = TWFF_BMP;
  if (Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup) != TWRC_SUCCESS) return TWRC_FAILURE;
  return Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
}

TW_UINT16 CTwainHost::EndTransfer(TW_UINT16* count) {
  TW_PENDINGXFERS pending{};
  const TW_UINT16 rc = Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  if (count) *count = pending.Count;
  return rc;
}

TW_UINT16 CTwainHost::SetOneValue(TW_UINT16 cap, TW_UINT16 value) {
  auto* one = static_cast<TW_ONEVALUE*>(std::malloc(sizeof(TW_ONEVALUE)));
  one->ItemType = TWTY_UINT16;
  one->Item = value;
  TW_CAPABILITY c{cap, TWON_ONEVALUE, one};
  const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
  std::free(one);
  return rc;
}

void NoticeLog::Add(TW_UINT16 msg) {
  std::lock_guard<std::mutex> g(lock_);
  notices_.push_back(msg);
  cv_.notify_all();
}

bool NoticeLog::WaitFor(TW_UINT16 msg, int count, int timeoutMs) {
  std::unique_lock<std::mutex> g(lock_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
    int n = 0;
    for (auto m : notices_) n += m == msg;
    return n >= count;
  });
}

int NoticeLog::Count(TW_UINT16 msg) {
  std::lock_guard<std::mutex> g(lock_);
  int n = 0;
  for (auto m : notices_) n += m == msg;
  return n;
}

void NoticeLog::Clear() {
  std::lock_guard<std::mutex> g(lock_);
  notices_.clear();
}

void CTwainHost::OnNotice(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg) {
  if (!origin || !dest || origin->Id != source_.Id || dest->Id != app_.Id) badAddress_ = true;
  notices_.Add(msg);
  if (onNotice) onNotice(msg);
}

bool CTwainHost::WaitNotice(TW_UINT16 msg, int count, int timeoutMs) { return notices_.WaitFor(msg, count, timeoutMs); }

int CTwainHost::NoticeCount(TW_UINT16 msg) { return notices_.Count(msg); }

bool CTwainHost::NoticesWellAddressed() { return !badAddress_.load(); }

void CTwainHost::ClearNotices() {
  notices_.Clear();
  badAddress_ = false;
}

}  // namespace twain_test
