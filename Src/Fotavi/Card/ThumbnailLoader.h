// Loading the thumbnails of one card folder, without the list widget: one
// asynchronous file read at a time, each picture shrunk to 100 x 75 and kept
// as a JPEG in a cache folder per card folder, so that a folder shown again
// is read from the disk. The list widget implements IThumbnailView; the
// loader owns a platform window target on the caller's thread, where the
// device library's replies arrive.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Common/Bitmap.h"
#include "Common/Jpeg.h"
#include "TransErrEntry.h"
#include "Platform/Messages.h"
#include "SDAccess.h"

class IThumbnailView {
 public:
  virtual ~IThumbnailView() = default;
  // Progress to the owning frame.
  virtual void ThumbBegin(int count) = 0;
  virtual void ThumbProgress(int count, int done) = 0;
  virtual void ThumbEnd() = 0;
  // Deletes every item and image.
  virtual void DeleteAllItems() = 0;
  enum AddResult { ADD_OK, ADD_IMAGE_LIST_FULL, ADD_INSERT_FAILED };
  // A new item at the end: name, thumbnail, card path and cache path.
  virtual AddResult AddThumbnail(const std::string& name, const CBitmap24& thumbnail, const std::string& sdFile,
                                 const std::string& cacheFile) = 0;
  // After each reply (the list re-sorts when its size changed, and updates).
  virtual void AfterReply(int index) {}
  virtual void SetAutoArrange(bool on) {}
  // The wait cursor while a folder's loading starts (its listing is read).
  virtual void ShowWaitCursor(bool on) {}
  // The loading has ended (completed, cancelled or failed); loading and
  // cancel are clear again.
  virtual void LoadingEnded() {}
  // Counted message box owned by the list's parent, with the program's title.
  virtual void ShowMessage(UINT stringId, UINT type) = 0;
  // The error list ("Reading error", "Error List") as a counted modal box.
  virtual void ShowErrors(const CErrorList& errors) = 0;
};

class CThumbnailLoader {
 public:
  CThumbnailLoader(CDeviceInterface* device, IThumbnailView* view, const CJpeg* codec = nullptr);
  ~CThumbnailLoader();
  CThumbnailLoader(const CThumbnailLoader&) = delete;
  CThumbnailLoader& operator=(const CThumbnailLoader&) = delete;

  // Sets the cache root under the work folder and empties it. 1.
  int Init();
  // The view that shows the loading (another one when the list has gone).
  void SetView(IThumbnailView* view) { m_pView = view; }
  // The folder to load on WM_THUMB_LOAD (the tree's selected path).
  void SetFolderSource(std::function<std::string()> source) { m_FolderSource = std::move(source); }

  // WM_THUMB_LOAD: `fresh` empties the whole cache root first.
  void OnLoadThumbnails(bool fresh);
  // WM_THUMB_LOAD for a tree whose folder changed: at once when idle. While
  // a cancelled loading still has its read in flight, the load waits for
  // that read: the handler of its reply posts the load once the loading has
  // ended. Changes meanwhile share that one load (of the folder selected
  // when it runs; `fresh` when any of them asked for it).
  void LoadWhenIdle(bool fresh);
  // Forgets a load that waits for the read in flight.
  void DropPendingLoad();
  // WM_THUMB_CANCEL: deletes the items and the cache of the folder in progress.
  void OnCancelThumbnails();
  void LoadFolder(const std::string& sdFolder);
  // WM_DESTROY of the list: cancel, no items, no cache.
  void OnDestroy();

  bool IsLoading() const { return m_bLoading; }
  bool IsCancel() const { return m_bCancel; }
  void SetCancel() { m_bCancel = true; }
  bool IsFromCache() const { return m_bFromCache; }
  // Ends a loading whose read in flight did not come back in time: the
  // reply goes back unused if it still comes.
  void AbandonReadInFlight();

  HWND GetSafeHwnd() const { return m_hWnd; }
  const std::string& GetCacheRoot() const { return m_strCacheRoot; }
  const std::string& GetFolderCache() const { return m_strFolderCache; }
  const std::vector<std::string>& GetNames() const { return m_Names; }

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL LoadThumbnails(const std::string& sdFolder, bool fromCache);
  BOOL RequestThumbnail();
  void StartPendingLoad();
  void OnRequestComp(WPARAM thread, DEVICE_RSP* reply);
  void HandBack(DEVICE_RSP* reply, DWORD thread);
  void FinishLoading();
  void StopAfterFailedRequest();
  void AddEntry(UINT stringId);

  CDeviceInterface* m_pDevice;
  IThumbnailView* m_pView;
  const CJpeg* m_pCodec;
  CSDAccess m_Access;
  HWND m_hWnd = nullptr;
  std::function<std::string()> m_FolderSource;

  std::string m_strCacheRoot;
  bool m_bLoading = false;
  bool m_bCancel = false;
  std::string m_strFolderCache;
  DWORD m_dwReplyThread = 0;
  DEVICE_RSP* m_pKeptReply = nullptr;
  int m_nCount = 0;
  int m_nIndex = 0;
  std::string m_strSDFile;
  std::string m_strCacheFile;
  std::vector<std::string> m_Names;
  std::string m_strSDFolder;
  bool m_bFromCache = false;
  CErrorList m_Errors;
  // The read in flight: only its reply is taken (a stray one goes back).
  bool m_bPending = false;
  WORD m_wPendingSequence = 0;
  // A load asked for while a cancelled loading ends; posted when it has.
  bool m_bLoadPending = false;
  bool m_bPendingFresh = false;
  bool m_bLoadPosted = false;
};
