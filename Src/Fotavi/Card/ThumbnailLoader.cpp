#include "ThumbnailLoader.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>

#include "CardFolders.h"
#include "Text/FotaviStrings.h"
#include "CardMessages.h"
#include "CardLimits.h"
#include "DcfNameCheck.h"
#include "Platform/GlobalMemory.h"
#include "Platform/UiService.h"

namespace {

// Posted by the loader to itself: the load that waited for a cancelled read.
constexpr UINT kStartPendingLoad = WM_THUMB_LOAD + 0x100;

// The *.jpg files of a folder (any letter case of the extension), in name order.
std::vector<std::string> CachedNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (e->d_type == DT_DIR) continue;
    if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".jpg") == 0) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

const CJpeg& BuiltInCodec() {
  static const CJpeg codec;
  return codec;
}

}  // namespace

CThumbnailLoader::CThumbnailLoader(CDeviceInterface* device, IThumbnailView* view, const CJpeg* codec)
    : m_pDevice(device), m_pView(view), m_pCodec(codec ? codec : &BuiltInCodec()), m_Access(device) {
  m_hWnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT { return WindowProc(msg, wParam, lParam); },
      "CThumbnailList");
  m_Access.SetAsyncTarget(m_hWnd);
}

CThumbnailLoader::~CThumbnailLoader() {
  if (m_pKeptReply) HandBack(m_pKeptReply, m_dwReplyThread);
  m_pKeptReply = nullptr;
  FreeTransErrList(&m_Errors);
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

int CThumbnailLoader::Init() {
  m_strCacheRoot = GetCardWorkFolder();
  RemoveLocalFolder(m_strCacheRoot);
  return 1;
}

LRESULT CThumbnailLoader::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_FOTAVI_REQUEST: OnRequestComp(wParam, reinterpret_cast<DEVICE_RSP*>(lParam)); break;
    case WM_THUMB_LOAD: OnLoadThumbnails(wParam != 0); break;
    case WM_THUMB_CANCEL: OnCancelThumbnails(); break;
    case kStartPendingLoad: StartPendingLoad(); break;
    default: break;
  }
  return 0;
}

void CThumbnailLoader::OnLoadThumbnails(bool fresh) {
  if (!m_FolderSource) return;
  m_pView->ShowWaitCursor(true);
  if (fresh) RemoveLocalFolder(m_strCacheRoot);
  LoadFolder(m_FolderSource());
  m_pView->ShowWaitCursor(false);
}

void CThumbnailLoader::LoadWhenIdle(bool fresh) {
  if (!m_bLoading && !m_bLoadPending) {
    OnLoadThumbnails(fresh);
    return;
  }
  m_bLoadPending = true;
  m_bPendingFresh = m_bPendingFresh || fresh;
}

void CThumbnailLoader::DropPendingLoad() {
  m_bLoadPending = false;
  m_bPendingFresh = false;
}

void CThumbnailLoader::StartPendingLoad() {
  m_bLoadPosted = false;
  if (!m_bLoadPending || m_bLoading) return;
  const bool fresh = m_bPendingFresh;
  DropPendingLoad();
  OnLoadThumbnails(fresh);
}

void CThumbnailLoader::OnCancelThumbnails() {
  m_pView->DeleteAllItems();
  if (m_bLoading) RemoveLocalFolder(m_strFolderCache);
}

void CThumbnailLoader::OnDestroy() {
  if (m_bLoading) m_bCancel = true;
  m_pView->DeleteAllItems();
  RemoveLocalFolder(m_strCacheRoot);
}

void CThumbnailLoader::LoadFolder(const std::string& sdFolder) {
  // This load replaces one that waited.
  DropPendingLoad();
  if (m_bLoading) {
    // A caller that did not wait for the cancelled loading: it ends here,
    // and the read still in flight goes back unused when it comes.
    m_bPending = false;
    m_bCancel = true;
    FinishLoading();
  }
  m_bCancel = false;
  m_pView->DeleteAllItems();
  const std::string cacheName = CacheNameOf(sdFolder);
  const bool fromCache = !cacheName.empty() && !m_strCacheRoot.empty() && IsLocalFolder(m_strCacheRoot + "/" + cacheName);
  LoadThumbnails(sdFolder, fromCache);
}

void CThumbnailLoader::AddEntry(UINT stringId) {
  const std::string& name = m_nIndex >= 0 && m_nIndex < static_cast<int>(m_Names.size()) ? m_Names[m_nIndex] : "";
  AddTransErrEntry(FotaviText(stringId), name, &m_Errors);
}

BOOL CThumbnailLoader::LoadThumbnails(const std::string& sdFolder, bool fromCache) {
  m_nIndex = 0;
  m_nCount = 0;
  m_Names.clear();
  if (sdFolder.empty()) return FALSE;
  const std::string cacheName = CacheNameOf(sdFolder);
  if (!fromCache && !CreateCacheFolder(m_strCacheRoot, cacheName)) {
    m_pView->ShowMessage(IDS_INTERNAL_ERROR, MB_OK | MB_ICONERROR);
    return FALSE;
  }
  const std::string folderCache = m_strCacheRoot + "/" + cacheName;
  FreeTransErrList(&m_Errors);

  std::vector<std::string> candidates;
  if (fromCache) {
    candidates = CachedNames(folderCache);
  } else {
    const std::vector<std::string>* list = m_Access.SD_GetFileList(sdFolder);
    if (!list) {
      const DWORD status = m_Access.GetLastStatus();
      if (status != FOTAVI_SD_DONE) {
        m_pView->ShowMessage(CardFailureText(status), MB_OK | MB_ICONERROR);
        m_bLoading = false;
        RemoveLocalFolder(folderCache);
        return FALSE;
      }
    } else {
      const size_t skip = sdFolder.size() + 1;
      for (const std::string& entry : *list) candidates.push_back(entry.size() > skip ? entry.substr(skip) : "");
    }
    m_Access.FreeAll();
  }
  std::vector<std::string> names;
  const CDcfNameCheck check;
  for (const std::string& name : candidates) {
    if (check.IsFileName(name)) {
      names.push_back(name);
    } else {
      AddTransErrEntry(FotaviText(IDS_SD_BAD_FILE_NAME), name, &m_Errors);
    }
  }

  m_nCount = static_cast<int>(names.size());
  if (!names.empty()) {
    m_Names = std::move(names);
    m_strSDFolder = sdFolder;
    m_strFolderCache = folderCache;
    m_bFromCache = fromCache;
    if (m_pKeptReply) HandBack(m_pKeptReply, m_dwReplyThread);
    m_pKeptReply = nullptr;
    m_dwReplyThread = 0;
    m_bLoading = true;
    m_pView->SetAutoArrange(false);
    m_nIndex = 0;
    m_pView->ThumbBegin(m_nCount);
    if (!RequestThumbnail()) StopAfterFailedRequest();
    return TRUE;
  }
  if (!m_Errors.empty()) m_pView->ShowErrors(m_Errors);
  FreeTransErrList(&m_Errors);
  return TRUE;
}

BOOL CThumbnailLoader::RequestThumbnail() {
  if (m_nIndex < 0 || m_nIndex >= static_cast<int>(m_Names.size())) return FALSE;
  m_strSDFile = m_strSDFolder + "\\" + m_Names[m_nIndex];
  m_strCacheFile = m_strFolderCache + "/" + m_Names[m_nIndex];
  if (m_bFromCache) {
    m_bPending = PostMessage(m_hWnd, WM_FOTAVI_REQUEST, 0, 0) != FALSE;
    return m_bPending;
  }
  WORD sequence = 0;
  m_bPending = m_Access.SD_GetJpegFileAsync(m_strSDFile, &sequence) != FALSE;
  m_wPendingSequence = sequence;
  return m_bPending;
}

void CThumbnailLoader::HandBack(DEVICE_RSP* reply, DWORD thread) {
  if (!reply) return;
  // The block goes whatever the result (a handle already freed is only refused).
  if (reply->pData) GlobalFree(static_cast<HGLOBAL>(reply->pData));
  reply->pData = nullptr;
  PostThreadMessage(thread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(reply));
}

void CThumbnailLoader::OnRequestComp(WPARAM thread, DEVICE_RSP* reply) {
  const auto replyThread = static_cast<DWORD>(thread);
  // Only the reply of the read in flight is taken; any other goes back.
  if (!m_bPending || (!m_bFromCache && reply && reply->wSequence != m_wPendingSequence) ||
      (m_bFromCache && reply)) {
    if (reply) {
      if (reply->pData) GlobalFree(static_cast<HGLOBAL>(reply->pData));
      reply->pData = nullptr;
      PostThreadMessage(replyThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(reply));
    }
    return;
  }
  m_bPending = false;
  if (m_nIndex < 0 || m_nIndex >= static_cast<int>(m_Names.size())) {
    HandBack(reply, replyThread);
    return;
  }

  bool showCached = m_bFromCache;
  // The bytes of the cache file just written: the picture shown is the
  // cached one, without reading the file back.
  std::string cached;
  if (!m_bFromCache) {
    if (!reply || !reply->bResult) {
      // No record at all (the library ran out of memory) ends the read as a
      // failed one, like a reply whose result is 0.
      m_bCancel = true;
      m_pView->ShowMessage(IDS_SD_ACCESS, MB_OK | MB_ICONERROR);
    } else if (reply->dwStatus == FOTAVI_SD_NOCARD) {
      m_pView->ShowMessage(IDS_NO_SDCARD, MB_OK | MB_ICONERROR);
      m_bCancel = true;
    } else if (reply->dwStatus != FOTAVI_SD_DONE) {
      AddEntry(IDS_SD_ACCESS);
    } else if (reply->dwLength != 0 && reply->pData) {
      auto block = static_cast<HGLOBAL>(reply->pData);
      const auto* bytes = static_cast<const BYTE*>(GlobalLock(block));
      const DWORD length = static_cast<DWORD>(std::min<size_t>(reply->dwLength, GlobalSize(block)));
      CBitmap24 thumbnail;
      if (!bytes || !m_pCodec->Load(&thumbnail, bytes, length, true, THUMB_WIDTH, THUMB_HEIGHT, 0)) {
        AddEntry(IDS_INTERNAL_ERROR);
      } else if (!m_pCodec->Save(m_strCacheFile, thumbnail, THUMB_CACHE_QUALITY, &cached)) {
        AddEntry(IDS_INTERNAL_ERROR);
      } else {
        showCached = true;
      }
      if (bytes) GlobalUnlock(block);
    }
  }
  if (showCached) {
    CBitmap24 thumbnail;
    const BOOL loaded = cached.empty()
                            ? m_pCodec->Load(&thumbnail, m_strCacheFile, true, THUMB_WIDTH, THUMB_HEIGHT)
                            : m_pCodec->Load(&thumbnail, reinterpret_cast<const BYTE*>(cached.data()),
                                             static_cast<DWORD>(cached.size()), true, THUMB_WIDTH, THUMB_HEIGHT, 0);
    if (!loaded) {
      AddEntry(IDS_INTERNAL_ERROR);
    } else {
      const std::string& name = m_Names[m_nIndex];
      if (m_pView->AddThumbnail(name, thumbnail, m_strSDFile, m_strCacheFile) == IThumbnailView::ADD_IMAGE_LIST_FULL) {
        m_pView->ShowMessage(IDS_NO_RESOURCE, MB_OK | MB_ICONWARNING);
        m_bCancel = true;
      }
    }
  }

  ++m_nIndex;
  m_pView->ThumbProgress(m_nCount, m_nIndex);
  m_pView->AfterReply(m_nIndex);

  if (!m_bFromCache) {
    if (m_pKeptReply) HandBack(m_pKeptReply, m_dwReplyThread);
    m_pKeptReply = reply;
    m_dwReplyThread = replyThread;
  }

  if (m_nIndex >= m_nCount || m_bCancel) {
    FinishLoading();
  } else if (m_bLoading) {
    if (!RequestThumbnail()) StopAfterFailedRequest();
  }
}

void CThumbnailLoader::FinishLoading() {
  m_pView->ThumbEnd();
  if (m_bCancel) {
    RemoveLocalFolder(m_strFolderCache);
  } else if (!m_Errors.empty()) {
    m_pView->ShowErrors(m_Errors);
  }
  m_bLoading = false;
  m_bCancel = false;
  FreeTransErrList(&m_Errors);
  m_pView->SetAutoArrange(true);
  m_pView->LoadingEnded();
  // The load that waited for this end comes as a message of its own, after
  // the handler of the reply that ended the loading has returned.
  if (m_bLoadPending && !m_bLoadPosted) {
    m_bLoadPosted = PostMessage(m_hWnd, kStartPendingLoad, 0, 0) != FALSE;
    if (!m_bLoadPosted) StartPendingLoad();
  }
}

void CThumbnailLoader::AbandonReadInFlight() {
  if (!m_bLoading) return;
  m_bPending = false;
  m_bCancel = true;
  FinishLoading();
}

// A read that cannot be asked for ends the loading: the frame is told, so
// its status bar does not stay in the reading mode, and a cache that is
// not complete is not kept.
void CThumbnailLoader::StopAfterFailedRequest() {
  m_pView->ShowMessage(IDS_SD_ACCESS, MB_OK | MB_ICONERROR);
  m_bCancel = true;
  FinishLoading();
}
