// The picture holder of one document: the decoded 24-bit picture and its
// size, and the viewing state that belongs to the document rather than to a
// window (zoom, rotation, scroll positions, name, path, save format).
//
// Loads replace the picture under the holder's lock, so a load on the live
// monitor's reply thread and a reader on the GUI thread never see a
// half-replaced picture. Readers take a shallow copy with GetBitmap(); the
// copy stays valid after the next load.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "Common/Bitmap.h"
#include "Platform/Types.h"

constexpr int SAVEKIND_JPEG = 1;
constexpr int SAVEKIND_BMP = 2;
constexpr int SCROLL_HORZ = 0;
constexpr int SCROLL_VERT = 1;

class CViewData {
 public:
  CViewData();
  virtual ~CViewData();
  CViewData(const CViewData&) = delete;
  CViewData& operator=(const CViewData&) = delete;

  // Decodes a JPEG held in memory, reduced by `scale` (1, 2 or 4).
  BOOL LoadPicture(const BYTE* data, DWORD size, int scale);
  // Loads a JPEG file, or a BMP file when `bmp` is set; stores the path and
  // the file name as the name.
  BOOL LoadPicture(const std::string& path, BOOL bmp);

  // Decoders used by the loads (no lock taken).
  BOOL DecodeJpeg(const char* path, const BYTE* data, DWORD size, int scale, CBitmap24* out) const;
  BOOL OpenBmpFile(const std::string& path, CBitmap24* out) const;

  // Rotation step by command id (180, 90 CCW, anything else 90 CW).
  void SetRotate(int commandId);
  int GetRotate() const { return m_nRotate.load(); }
  void SetRotation(int quarterTurns);  // 0..3, taken modulo 4
  static int NextRotation(int rotation, int commandId);

  // A zoom of 0 is ignored.
  void SetZoom(double zoom);
  double GetZoom() const { return m_dZoom.load(); }

  void SetScrollPos(int bar, int pos);
  int GetScrollPos(int bar) const;

  void SetName(const std::string& name);
  std::string GetName() const;
  void SetPath(const std::string& path);
  std::string GetPath() const;
  void SetSaveKind(int kind) { m_nSaveKind.store(kind); }
  int GetSaveKind() const { return m_nSaveKind.load(); }

  // The picture (a shallow copy; null when none) and its size.
  CBitmap24 GetBitmap() const;
  bool HasBitmap() const;
  // Replaces the picture (the still-image part stores rotated or composed
  // pictures this way); a null picture clears it.
  void SetBitmap(const CBitmap24& bitmap);
  int GetPictureWidth() const { return m_nPictWidth.load(); }
  int GetPictureHeight() const { return m_nPictHeight.load(); }

 private:
  void StorePicture(const CBitmap24& bitmap);

  std::atomic<int> m_nHScroll{0};
  std::atomic<int> m_nVScroll{0};
  std::atomic<int> m_nRotate{0};
  std::atomic<double> m_dZoom{1.0};
  CBitmap24 m_Bitmap;                 // guarded by m_BitmapLock
  std::atomic<int> m_nPictWidth{0};
  std::atomic<int> m_nPictHeight{0};
  std::string m_strName;              // guarded by m_TextLock
  std::atomic<int> m_nSaveKind{SAVEKIND_JPEG};
  std::string m_strPath;              // guarded by m_TextLock

  // Lock order: m_LoadLock before m_BitmapLock. m_LoadLock serialises whole
  // loads; m_BitmapLock is held only to swap or copy the picture.
  std::mutex m_LoadLock;
  mutable std::mutex m_BitmapLock;
  mutable std::mutex m_TextLock;
};
