// The thumbnail list of a card folder: an icon-mode list over the
// thumbnail loader. Items carry the picture's card path and cache path.
#pragma once

#include <QListWidget>

#include <memory>
#include <string>
#include <vector>

#include "ThumbnailLoader.h"

class CSDTree;

// The frame that shows the loading's progress.
class IThumbnailFrame {
 public:
  virtual ~IThumbnailFrame() = default;
  virtual void OnThumbBegin(int count, int done) = 0;
  virtual void OnThumbProgress(int count, int done) = 0;
  virtual void OnThumbEnd() = 0;
};

class CThumbnailList : public QListWidget, public IThumbnailView {
  Q_OBJECT
 public:
  // Item data roles: the picture's card path and its cache file.
  static constexpr int RoleSDFile = Qt::UserRole + 1;
  static constexpr int RoleCacheFile = Qt::UserRole + 2;

  explicit CThumbnailList(QWidget* parent = nullptr);
  ~CThumbnailList() override;

  // Stores the tree and the frame, empties the cache root; 1.
  int Init(CSDTree* tree, IThumbnailFrame* frame);
  // WM_THUMB_LOAD, WM_THUMB_CANCEL.
  void OnLoadThumbnails(bool fresh);
  void OnCancelThumbnails();
  // WM_THUMB_LOAD of a tree's folder change: at once, or once the cancelled
  // loading's read in flight is back (see CThumbnailLoader::LoadWhenIdle).
  void LoadWhenIdle(bool fresh);
  bool IsLoading() const { return m_pLoader && m_pLoader->IsLoading(); }
  bool IsCancel() const { return m_pLoader && m_pLoader->IsCancel(); }
  // The loading stops after its read in flight. That read is waited for at
  // most kReadInFlightLimitMs; then the loading ends without it.
  void SetCancel();
  static constexpr int kReadInFlightLimitMs = 30000;
  CThumbnailLoader* Loader() const { return m_pLoader.get(); }
  // WM_DESTROY: cancel, no items, cache root removed.
  void OnDestroy();

  // IThumbnailView
  void ThumbBegin(int count) override;
  void ThumbProgress(int count, int done) override;
  void ThumbEnd() override;
  void DeleteAllItems() override;
  AddResult AddThumbnail(const std::string& name, const CBitmap24& thumbnail, const std::string& sdFile,
                         const std::string& cacheFile) override;
  void AfterReply(int index) override;
  void SetAutoArrange(bool on) override;
  void ShowWaitCursor(bool on) override;
  void LoadingEnded() override;
  void ShowMessage(UINT stringId, UINT type) override;
  void ShowErrors(const CErrorList& errors) override;

 signals:
  // The loading of a folder has ended (completed, cancelled or failed);
  // IsLoading() is false again.
  void LoadingStopped();

 protected:
  void keyReleaseEvent(QKeyEvent* event) override;

  // While loading, the pictures are drawn at most every 50 ms (each reply
  // would otherwise repaint the whole list).
  void ThrottlePainting(bool on);
  // What ThrottlePainting paints from its timer while a folder loads.
  std::vector<QWidget*> ThrottledParts() const;

  CSDTree* m_pTree = nullptr;
  IThumbnailFrame* m_pFrame = nullptr;
  class QTimer* m_pPaintTimer = nullptr;
  class QTimer* m_pCancelLimit = nullptr;
  std::unique_ptr<CThumbnailLoader> m_pLoader;
  bool m_bDestroyed = false;
};
