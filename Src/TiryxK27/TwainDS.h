// The data source object: the TWAIN state, the condition code, both
// identities, and the triplet handlers. It owns the capability table, the
// device link, the picture held for transfer and the capture dialog.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "CaptureCore.h"
#include "DSImage.h"
#include "DeviceLink.h"
#include "DsStrings.h"
#include "Twain.h"
#include "TwainCapTable.h"

constexpr int DSSTATE_LOADED = 300;
constexpr int DSSTATE_OPENED = 400;
constexpr int DSSTATE_ENABLED = 500;
constexpr int DSSTATE_XFERREADY = 600;
constexpr int DSSTATE_TRANSFERRING = 700;

// The capture dialog as the state machine sees it: made at ENABLEDS with
// the user interface, shown, and deleted at DISABLEDS or CLOSEDS (its
// destructor stops the preview and tears the window down).
class ICaptureDialog {
 public:
  virtual ~ICaptureDialog() = default;
  virtual CCaptureCore* Core() = 0;
  // The receiver of device arrival and removal while the dialog is shown.
  virtual IDeviceLinkTarget* NotifyTarget() = 0;
};

struct CaptureDialogParams {
  TW_HANDLE hParent;
  CDeviceLink* link;
  CDSImage* image;
  ICaptureOwner* owner;
  const TW_IDENTITY* identity;  // for the version box
};
using CaptureDialogFactory = std::function<std::unique_ptr<ICaptureDialog>(const CaptureDialogParams&)>;

// The data source's message box: its caption, the error icon, an OK button.
// It goes to the platform's user-interface service unless a handler is set.
void DsMessageBox(const std::string& text);
void SetDsMessageBoxHandler(std::function<void(const std::string&)> handler);

class CTwainDS : public ICaptureOwner {
 public:
  CTwainDS();
  ~CTwainDS() override;
  CTwainDS(const CTwainDS&) = delete;
  CTwainDS& operator=(const CTwainDS&) = delete;

  TW_UINT16 Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

  // Set at load.
  void SetOwnIdentity(const TW_IDENTITY& identity);
  void SetDialogFactory(CaptureDialogFactory factory) { m_DialogFactory = std::move(factory); }
  // Called where the source has ended (its close, an open it refused): what
  // it made for its windows goes there.
  void SetEndedHook(std::function<void()> hook) { m_EndedHook = std::move(hook); }
  void SetCodec(PFN_FNCLOADJPEGA load) { m_Image.SetCodec(load); }

  // ICaptureOwner (the dialog's thread).
  void OnUserTransfer() override;
  void OnUserClose() override;

  // Tears everything down (at unload).
  void Shutdown();

  int GetState() const { return m_nState.load(); }
  TW_UINT16 GetConditionCode() const { return m_wCondition.load(); }
  const TW_IDENTITY& OwnIdentity() const { return m_OwnIdentity; }
  TW_IDENTITY AppIdentity() const;
  CTwainCapTable& CapTable() { return m_CapTable; }
  // The picture held for transfer.
  CDSImage& Image() { return m_Image; }
  CDeviceLink& Link() { return m_Link; }
  // The capture core of the open dialog (or of the picture taken without
  // the user interface), NULL when none.
  CCaptureCore* CaptureCore();

  // "c:\twain.bmp", as the source reports its default file, and the file
  // actually written for it.
  static const char* DefaultFileName() { return "c:\\twain.bmp"; }
  static std::string DefaultFilePath();

 private:
  // The triplets of DG_CONTROL and of DG_IMAGE, by DAT.
  TW_UINT16 ControlTriplet(pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 ImageTriplet(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 Fail(TW_UINT16 cc, UINT box = 0);
  TW_UINT16 WrongState() { return Fail(TWCC_SEQERROR, IDS_DS_INTERNAL_ERROR); }
  TW_UINT16 WrongMessage() { return Fail(TWCC_BADPROTOCOL, IDS_DS_INTERNAL_ERROR); }
  void Box(UINT id);
  bool InState(int low, int high) const {
    const int s = m_nState.load();
    return s >= low && s <= high;
  }

  TW_UINT16 OpenDS(pTW_IDENTITY origin, TW_MEMREF data);
  TW_UINT16 CloseDS();
  TW_UINT16 EnableDS(TW_USERINTERFACE* ui);
  void DisableDialog();
  TW_UINT16 ImageInfo(TW_UINT16 msg, TW_IMAGEINFO* info);
  TW_UINT16 ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout);
  TW_UINT16 NativeXfer(TW_UINT16 msg, TW_HANDLE* handle);
  TW_UINT16 MemXfer(TW_UINT16 msg, TW_IMAGEMEMXFER* xfer);
  TW_UINT16 FileXfer(TW_UINT16 msg);
  // Builds the transfer DIB from the held picture; FALSE with the failure
  // reported.
  bool PrepareTransfer();
  void SendNotice(TW_UINT16 msg);

  std::recursive_mutex m_EntryLock;  // one triplet at a time; a notice may re-enter
  mutable std::mutex m_IdentityLock;
  TW_IDENTITY m_OwnIdentity{};
  TW_IDENTITY m_AppIdentity{};
  std::atomic<TW_UINT16> m_wCondition{TWCC_SUCCESS};
  std::atomic<int> m_nState{DSSTATE_LOADED};
  std::atomic<bool> m_bPending{false};  // a picture waits for the application
  TW_HANDLE m_hParent = nullptr;
  DSMENTRYPROC m_pDsmEntry = nullptr;   // from the manager's entry points
  std::string m_FileName;               // set by SETUPFILEXFER SET; empty: the default file
  CTwainCapTable m_CapTable;
  CDSImage m_Image;
  CDeviceLink m_Link;
  CaptureDialogFactory m_DialogFactory;
  std::function<void()> m_EndedHook;
  std::mutex m_DialogLock;
  std::unique_ptr<ICaptureDialog> m_pDialog;
  std::unique_ptr<CCaptureCore> m_pHeadless;
};
