#include "TwainDS.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "DsStrings.h"
#include "Platform/Library.h"
#include "Platform/Paths.h"
#include "Platform/UiService.h"

namespace {

constexpr const char* kManagerLibrary = "TWAIN_32.DLL";

std::mutex g_BoxLock;
std::function<void(const std::string&)> g_BoxHandler;

}  // namespace

void SetDsMessageBoxHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> g(g_BoxLock);
  g_BoxHandler = std::move(handler);
}

void DsMessageBox(const std::string& text) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard<std::mutex> g(g_BoxLock);
    handler = g_BoxHandler;
  }
  if (handler) {
    handler(text);
    return;
  }
  GetUserInterfaceService()->MessageBox(nullptr, text, DsString(IDS_DS_CAPTION), MB_OK | MB_ICONERROR);
}

CTwainDS::CTwainDS() : m_Link([](const std::string& text) { DsMessageBox(text); }) {}

CTwainDS::~CTwainDS() { Shutdown(); }

void CTwainDS::Shutdown() {
  std::lock_guard<std::recursive_mutex> g(m_EntryLock);
  if (m_nState.load() > DSSTATE_LOADED) CloseDS();
  m_Link.Unload();
}

void CTwainDS::SetOwnIdentity(const TW_IDENTITY& identity) {
  std::lock_guard<std::mutex> g(m_IdentityLock);
  m_OwnIdentity = identity;
}

TW_IDENTITY CTwainDS::AppIdentity() const {
  std::lock_guard<std::mutex> g(m_IdentityLock);
  return m_AppIdentity;
}

CCaptureCore* CTwainDS::CaptureCore() {
  std::lock_guard<std::mutex> g(m_DialogLock);
  if (m_pDialog) return m_pDialog->Core();
  return m_pHeadless.get();
}

std::string CTwainDS::DefaultFilePath() { return GetFallbackRoot() + "twain.bmp"; }

void CTwainDS::Box(UINT id) { DsMessageBox(DsString(id)); }

TW_UINT16 CTwainDS::Fail(TW_UINT16 cc, UINT box) {
  m_wCondition = cc;
  if (box) Box(box);
  return TWRC_FAILURE;
}

TW_UINT16 CTwainDS::Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  std::lock_guard<std::recursive_mutex> g(m_EntryLock);
  if (!origin) return Fail(TWCC_BADVALUE);
  {
    std::lock_guard<std::mutex> id(m_IdentityLock);
    if (m_AppIdentity.Id != 0 && origin->Id != m_AppIdentity.Id) return TWRC_FAILURE;
  }
  // No event of the application's belongs to the source: its dialog has an
  // event loop of its own. The event pointer is never looked at.
  if (msg == MSG_PROCESSEVENT) return TWRC_NOTDSEVENT;
  if (dg == DG_CONTROL) return ControlTriplet(origin, dat, msg, data);
  if (dg == DG_IMAGE) return ImageTriplet(dat, msg, data);
  return TWRC_FAILURE;
}

TW_UINT16 CTwainDS::ControlTriplet(pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  switch (dat) {
    case DAT_CAPABILITY: {
      TW_IDENTITY app = AppIdentity();
      TW_UINT16 cc = TWCC_SUCCESS;
      const TW_UINT16 rc = m_CapTable.Operation(static_cast<TW_CAPABILITY*>(data), msg, &cc,
                                                app.Id ? app.ProtocolMajor : origin->ProtocolMajor,
                                                app.Id ? app.ProtocolMinor : origin->ProtocolMinor);
      m_wCondition = cc;
      return rc;
    }
    case DAT_IDENTITY:
      switch (msg) {
        case MSG_GET: {
          if (!data) return Fail(TWCC_BADVALUE);
          std::lock_guard<std::mutex> g(m_IdentityLock);
          std::memcpy(data, &m_OwnIdentity, sizeof m_OwnIdentity);
          return TWRC_SUCCESS;
        }
        case MSG_OPENDS:
          return OpenDS(origin, data);
        case MSG_CLOSEDS:
          return CloseDS();
        default:
          return WrongMessage();
      }
    case DAT_PENDINGXFERS: {
      auto* pending = static_cast<TW_PENDINGXFERS*>(data);
      switch (msg) {
        case MSG_GET:
          if (!InState(DSSTATE_OPENED, DSSTATE_TRANSFERRING)) return WrongState();
          if (!pending) return Fail(TWCC_BADVALUE);
          pending->Count = (InState(DSSTATE_XFERREADY, DSSTATE_TRANSFERRING) && m_bPending.load()) ? 1 : 0;
          pending->EOJ = 0;
          return TWRC_SUCCESS;
        case MSG_RESET:
          if (!InState(DSSTATE_XFERREADY, DSSTATE_TRANSFERRING)) return WrongState();
          m_Image.FreeAll();
          m_bPending = false;
          m_nState = DSSTATE_ENABLED;
          if (pending) pending->Count = 0;
          if (CCaptureCore* core = CaptureCore()) core->EnableTransferAgain();
          return TWRC_SUCCESS;
        case MSG_ENDXFER:
          if (pending) pending->Count = 0;
          if (m_nState.load() != DSSTATE_TRANSFERRING) return WrongState();
          m_bPending = false;
          m_Image.ResetCursor();
          m_Image.FreeDib();
          m_nState = DSSTATE_XFERREADY;
          if (CCaptureCore* core = CaptureCore()) core->EnableTransferAgain();
          return TWRC_SUCCESS;
        default:
          return WrongMessage();
      }
    }
    case DAT_SETUPMEMXFER: {
      if (msg != MSG_GET) return WrongMessage();
      if (!InState(DSSTATE_OPENED, DSSTATE_XFERREADY)) return WrongState();
      auto* setup = static_cast<TW_SETUPMEMXFER*>(data);
      if (!setup) return Fail(TWCC_BADVALUE);
      setup->MinBufSize = 0x4000;
      setup->MaxBufSize = 0xFFFF;
      setup->Preferred = 0xFFFF;
      m_Image.FreeAll();
      return TWRC_SUCCESS;
    }
    case DAT_SETUPFILEXFER: {
      auto* setup = static_cast<TW_SETUPFILEXFER*>(data);
      if (msg != MSG_GET && msg != MSG_GETCURRENT && msg != MSG_GETDEFAULT && msg != MSG_SET) return WrongMessage();
      if (!InState(DSSTATE_OPENED, DSSTATE_XFERREADY)) return WrongState();
      if (!setup) return Fail(TWCC_BADVALUE);
      if (msg != MSG_SET) {
        std::memset(setup->FileName, 0, sizeof setup->FileName);
        std::strcpy(setup->FileName, DefaultFileName());
        setup->Format = TWFF_BMP;
        setup->VRefNum = 0;
        return TWRC_SUCCESS;
      }
      // The name within its 255 characters, terminated or not.
      const std::string name(setup->FileName, strnlen(setup->FileName, sizeof setup->FileName - 1));
      bool usable = !name.empty() && access(name.c_str(), F_OK) == 0;
      if (!usable && !name.empty()) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
          ::close(fd);
          usable = true;
        }
      }
      if (!usable) return Fail(TWCC_BADVALUE, IDS_DS_INTERNAL_ERROR);
      m_FileName = name;
      return TWRC_SUCCESS;
    }
    case DAT_STATUS: {
      if (msg != MSG_GET) return WrongMessage();
      auto* status = static_cast<TW_STATUS*>(data);
      if (!status) return Fail(TWCC_BADVALUE);
      status->ConditionCode = m_wCondition.exchange(TWCC_SUCCESS);
      status->Reserved = 0;
      return TWRC_SUCCESS;
    }
    case DAT_USERINTERFACE:
      switch (msg) {
        case MSG_DISABLEDS:
          if (!InState(DSSTATE_ENABLED, DSSTATE_TRANSFERRING)) return WrongState();
          DisableDialog();
          m_Image.FreeBitmap();
          m_nState = DSSTATE_OPENED;
          return TWRC_SUCCESS;
        case MSG_ENABLEDS:
          if (m_nState.load() != DSSTATE_OPENED) return Fail(TWCC_SEQERROR);
          return EnableDS(static_cast<TW_USERINTERFACE*>(data));
        default:
          return WrongMessage();
      }
    case DAT_XFERGROUP:
      if (data && (msg == MSG_GET || msg == MSG_GETCURRENT)) {
        const TW_UINT32 group = DG_IMAGE;
        std::memcpy(data, &group, sizeof group);
      }
      return TWRC_SUCCESS;
    case DAT_ENTRYPOINT:
      if (msg == MSG_SET && data) {
        TW_ENTRYPOINT entry;
        std::memcpy(&entry, data, sizeof entry);
        if (entry.Size >= sizeof entry) m_pDsmEntry = entry.DSM_Entry;
        return TWRC_SUCCESS;
      }
      return Fail(TWCC_BADPROTOCOL);
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 CTwainDS::OpenDS(pTW_IDENTITY origin, TW_MEMREF data) {
  if (m_nState.load() != DSSTATE_LOADED) return Fail(TWCC_SEQERROR);
  {
    std::lock_guard<std::mutex> g(m_IdentityLock);
    if (m_AppIdentity.Id != 0) return Fail(TWCC_MAXCONNECTIONS);
  }
  if (!data) return Fail(TWCC_BADVALUE);
  if (!m_Link.Load() || !m_Link.Open()) {
    m_Link.Unload();
    if (m_EndedHook) m_EndedHook();  // a box may have been shown
    return Fail(TWCC_NODS);
  }
  {
    // Both identities are copies: the caller's records live on its stack.
    std::lock_guard<std::mutex> g(m_IdentityLock);
    m_AppIdentity = *origin;
    TW_IDENTITY own;
    std::memcpy(&own, data, sizeof own);
    m_OwnIdentity = own;
  }
  m_FileName.clear();
  m_bPending = false;
  m_CapTable.Reset();
  m_nState = DSSTATE_OPENED;
  return TWRC_SUCCESS;
}

TW_UINT16 CTwainDS::CloseDS() {
  // The library may stay loaded after the close, so the source returns to
  // the state of a fresh load itself: dialog, picture, device, application.
  if (m_nState.load() >= DSSTATE_ENABLED) DisableDialog();
  m_Image.FreeAll();
  m_Image.ClearHeldJpeg();
  m_Link.CloseDevice();
  m_Link.Unload();
  {
    std::lock_guard<std::mutex> g(m_IdentityLock);
    m_AppIdentity = TW_IDENTITY{};
  }
  m_bPending = false;
  m_pDsmEntry = nullptr;
  m_nState = DSSTATE_LOADED;
  if (m_EndedHook) m_EndedHook();
  return TWRC_SUCCESS;
}

TW_UINT16 CTwainDS::EnableDS(TW_USERINTERFACE* ui) {
  if (!ui) return Fail(TWCC_BADVALUE);
  m_hParent = ui->hParent;
  m_Image.ClearHeldJpeg();
  m_Image.FreeAll();
  if (ui->ShowUI) {
    std::unique_ptr<ICaptureDialog> dialog;
    if (m_DialogFactory) {
      TW_IDENTITY own;
      {
        std::lock_guard<std::mutex> g(m_IdentityLock);
        own = m_OwnIdentity;
      }
      CaptureDialogParams params{m_hParent, &m_Link, &m_Image, this, &own};
      try {
        dialog = m_DialogFactory(params);
      } catch (const std::bad_alloc&) {
        dialog.reset();
      }
    }
    if (!dialog) return Fail(TWCC_LOWMEMORY);
    IDeviceLinkTarget* target = dialog->NotifyTarget();
    {
      std::lock_guard<std::mutex> g(m_DialogLock);
      m_pDialog = std::move(dialog);
    }
    m_nState = DSSTATE_ENABLED;
    m_Link.SetNotifyTarget(target);
    return TWRC_SUCCESS;
  }
  // Without the user interface the source takes a still picture at once and
  // announces it only when it has one.
  auto core = std::make_unique<CCaptureCore>(&m_Link, &m_Image, this, nullptr);
  if (!core->TakePicture(false, true)) return Fail(TWCC_OPERATIONERROR);
  {
    std::lock_guard<std::mutex> g(m_DialogLock);
    m_pHeadless = std::move(core);
  }
  m_nState = DSSTATE_XFERREADY;
  m_bPending = true;
  SendNotice(MSG_XFERREADY);
  return TWRC_SUCCESS;
}

void CTwainDS::DisableDialog() {
  m_Link.SetNotifyTarget(nullptr);
  std::unique_ptr<ICaptureDialog> dialog;
  std::unique_ptr<CCaptureCore> headless;
  {
    std::lock_guard<std::mutex> g(m_DialogLock);
    dialog = std::move(m_pDialog);
    headless = std::move(m_pHeadless);
  }
  // Destroyed outside the lock: the dialog's thread may ask for the core meanwhile.
  dialog.reset();
  headless.reset();
  m_bPending = false;
}

void CTwainDS::OnUserTransfer() {
  int expected = DSSTATE_ENABLED;
  if (!m_nState.compare_exchange_strong(expected, DSSTATE_XFERREADY) && expected != DSSTATE_XFERREADY) return;
  m_bPending = true;
  SendNotice(MSG_XFERREADY);
}

void CTwainDS::OnUserClose() {
  if (m_nState.load() < DSSTATE_ENABLED) return;
  SendNotice(MSG_CLOSEDSREQ);
}

void CTwainDS::SendNotice(TW_UINT16 msg) {
  TW_IDENTITY own;
  TW_IDENTITY app;
  {
    std::lock_guard<std::mutex> g(m_IdentityLock);
    own = m_OwnIdentity;
    app = m_AppIdentity;
  }
  if (m_pDsmEntry) {
    m_pDsmEntry(&own, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
    return;
  }
  // The manager loaded in this process (or the host's own entry), by the
  // platform's load-by-name; without one the notice is dropped.
  HMODULE manager = LoadLibrary(kManagerLibrary);
  if (!manager) return;
  auto entry = GetProcAddressAs<DSMENTRYPROC>(manager, "DSM_Entry");
  if (entry) entry(&own, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
  FreeLibrary(manager);
}

TW_UINT16 CTwainDS::ImageTriplet(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  switch (dat) {
    case DAT_IMAGEINFO:
      return ImageInfo(msg, static_cast<TW_IMAGEINFO*>(data));
    case DAT_IMAGELAYOUT:
      return ImageLayout(msg, static_cast<TW_IMAGELAYOUT*>(data));
    case DAT_IMAGEMEMXFER:
      return MemXfer(msg, static_cast<TW_IMAGEMEMXFER*>(data));
    case DAT_IMAGENATIVEXFER:
      return NativeXfer(msg, static_cast<TW_HANDLE*>(data));
    case DAT_IMAGEFILEXFER:
      return FileXfer(msg);
    default:
      if (dat >= DAT_CIECOLOR && dat <= DAT_PALETTE8) return TWRC_SUCCESS;
      return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 CTwainDS::ImageInfo(TW_UINT16 msg, TW_IMAGEINFO* info) {
  if (msg != MSG_GET) return WrongMessage();
  if (m_nState.load() != DSSTATE_XFERREADY) return WrongState();
  if (!info) return Fail(TWCC_BADVALUE);
  int width = 0;
  int height = 0;
  if (!m_Image.HeldSize(&width, &height)) return Fail(TWCC_OPERATIONERROR);
  std::memset(info, 0, sizeof *info);
  info->XResolution = CTwainCapTable::FloatToFix32(m_CapTable.GetResolution());
  info->YResolution = info->XResolution;
  info->ImageWidth = width;
  info->ImageLength = height;
  info->PixelType = static_cast<TW_INT16>(m_CapTable.GetCurrentPixelType());
  info->BitsPerPixel = static_cast<TW_INT16>(m_CapTable.GetBitsPerPixel(m_CapTable.GetCurrentPixelType()));
  if (info->BitsPerPixel > 23) {
    info->SamplesPerPixel = 3;
    info->BitsPerSample[0] = info->BitsPerSample[1] = info->BitsPerSample[2] = 8;
  } else {
    info->SamplesPerPixel = 1;
    info->BitsPerSample[0] = info->BitsPerPixel;
  }
  info->Planar = 0;
  info->Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 CTwainDS::ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout) {
  if (layout && (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT)) {
    int width = 0;
    int height = 0;
    if (!m_Image.HeldSize(&width, &height)) {
      width = 1024;  // the camera's picture size
      height = 768;
    }
    std::memset(layout, 0, sizeof *layout);
    layout->Frame.Right = CTwainCapTable::FloatToFix32(static_cast<float>(width));
    layout->Frame.Bottom = CTwainCapTable::FloatToFix32(static_cast<float>(height));
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
  }
  return TWRC_SUCCESS;
}

bool CTwainDS::PrepareTransfer() {
  bool lowMemory = false;
  if (m_Image.PrepareDib(&lowMemory)) return true;
  if (lowMemory) Fail(TWCC_LOWMEMORY, IDS_DS_LOWMEMORY);
  else Fail(TWCC_OPERATIONERROR, IDS_DS_INTERNAL_ERROR);
  return false;
}

TW_UINT16 CTwainDS::NativeXfer(TW_UINT16 msg, TW_HANDLE* handle) {
  if (msg != MSG_GET) return WrongMessage();
  if (m_nState.load() != DSSTATE_XFERREADY) return WrongState();
  if (!handle) return Fail(TWCC_BADVALUE);
  if (!PrepareTransfer()) return TWRC_FAILURE;
  // From here the block belongs to the application.
  *handle = m_Image.DetachDib();
  m_nState = DSSTATE_TRANSFERRING;
  return TWRC_XFERDONE;
}

TW_UINT16 CTwainDS::MemXfer(TW_UINT16 msg, TW_IMAGEMEMXFER* xfer) {
  if (msg != MSG_GET) return WrongMessage();
  const int state = m_nState.load();
  if (state != DSSTATE_XFERREADY && state != DSSTATE_TRANSFERRING) return WrongState();
  // In 700 only the strips of a memory transfer under way follow.
  if (state == DSSTATE_TRANSFERRING && !m_Image.HasDib()) return WrongState();
  if (!xfer || !xfer->Memory.TheMem) return Fail(TWCC_BADVALUE);
  if (state == DSSTATE_XFERREADY && !PrepareTransfer()) return TWRC_FAILURE;
  // A TW_HANDLE and a pointer are the same here: a handle names its memory
  // directly, so both kinds of buffer are written through TheMem.
  auto* buffer = static_cast<BYTE*>(xfer->Memory.TheMem);
  xfer->Compression = TWCP_NONE;
  xfer->BytesPerRow = m_Image.DibStride();
  xfer->Columns = static_cast<TW_UINT32>(m_Image.DibWidth());
  xfer->XOffset = 0;
  xfer->YOffset = m_Image.RowsDelivered();
  DWORD written = 0;
  DWORD rows = 0;
  bool last = false;
  if (!m_Image.CopyStrip(buffer, xfer->Memory.Length, m_CapTable.GetCurrentPixelType(), &written, &rows, &last)) {
    m_Image.FreeDib();
    return Fail(TWCC_OPERATIONERROR, IDS_DS_INTERNAL_ERROR);
  }
  xfer->BytesWritten = written;
  xfer->Rows = rows;
  m_nState = DSSTATE_TRANSFERRING;
  if (last) {
    m_Image.FreeDib();
    return TWRC_XFERDONE;
  }
  return TWRC_SUCCESS;
}

TW_UINT16 CTwainDS::FileXfer(TW_UINT16 msg) {
  if (msg != MSG_GET) return WrongMessage();
  if (m_nState.load() != DSSTATE_XFERREADY) return WrongState();
  if (!PrepareTransfer()) return TWRC_FAILURE;
  const std::string path = m_FileName.empty() ? DefaultFilePath() : m_FileName;
  const BOOL written = m_Image.WriteBmp(path);
  m_Image.FreeDib();
  if (!written) return Fail(TWCC_OPERATIONERROR, IDS_DS_INTERNAL_ERROR);
  m_wCondition = TWCC_SUCCESS;
  m_nState = DSSTATE_TRANSFERRING;
  return TWRC_XFERDONE;
}
