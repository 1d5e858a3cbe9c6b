// The project's own small TWAIN host: it loads a data source (.ds) by path,
// plays the data source manager (identity scan, Ids, entry points, the
// source's notices through DSM_Entry) and drives the triplets as an
// application would.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Twain.h"

namespace twain_test {

// Notices a source sent (MSG_XFERREADY, MSG_CLOSEDSREQ), in order.
class NoticeLog {
 public:
  void Add(TW_UINT16 msg);
  bool WaitFor(TW_UINT16 msg, int count, int timeoutMs);
  int Count(TW_UINT16 msg);
  void Clear();

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<TW_UINT16> notices_;
};

class CTwainHost {
 public:
  CTwainHost();
  ~CTwainHost();
  CTwainHost(const CTwainHost&) = delete;
  CTwainHost& operator=(const CTwainHost&) = delete;

  // Loads the source and binds DS_Entry. FALSE with `error` when it cannot.
  bool Load(const std::string& path, std::string* error = nullptr);
  // The manager's scan: DAT_IDENTITY MSG_GET, then an Id for the source.
  bool Scan();
  // MSG_OPENDS with copies on the stack, as a manager sends them. With
  // `entryPoints` (a manager of today, for a source that declares DF_DS2)
  // the source first gets the manager's entry points; without them its
  // notices reach DSM_Entry of this program.
  TW_UINT16 OpenDS(bool entryPoints);
  TW_UINT16 CloseDS();
  TW_UINT16 Enable(bool showUI);
  TW_UINT16 Disable();
  TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
  TW_UINT16 Status();

  // One acquisition in state 600 by the current transfer mechanism: native,
  // memory (`buffer` bytes per strip) or file (to `file`). Returns the
  // final return code; the picture's bytes go to `pixels` (DIB for native,
  // RGB rows for memory, BMP file for file).
  TW_UINT16 TransferNative(std::vector<TW_UINT8>* dib);
  TW_UINT16 TransferMemory(TW_UINT32 buffer, std::vector<TW_UINT8>* rgb, TW_UINT32* width, TW_UINT32* rows);
  TW_UINT16 TransferFile(const std::string& file);
  TW_UINT16 EndTransfer(TW_UINT16* count);
  TW_UINT16 SetOneValue(TW_UINT16 cap, TW_UINT16 value);

  // Called inside the source's notice, on the thread that sent it, as an
  // application's callback is.
  std::function<void(TW_UINT16 msg)> onNotice;
  // Notices the source sent.
  void OnNotice(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 msg);
  bool WaitNotice(TW_UINT16 msg, int count, int timeoutMs);
  int NoticeCount(TW_UINT16 msg);
  bool NoticesWellAddressed();  // every notice came from the source to this application
  void ClearNotices();

  TW_IDENTITY& App() { return app_; }
  const TW_IDENTITY& Source() const { return source_; }

 private:
  void* module_ = nullptr;
  DSENTRYPROC entry_ = nullptr;
  TW_IDENTITY app_{};
  TW_IDENTITY source_{};
  NoticeLog notices_;
  std::atomic<bool> badAddress_{false};
};

}  // namespace twain_test
