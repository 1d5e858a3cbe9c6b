#include "App/ViewData.h"

#include "Common/Bmp.h"
#include "Common/FilePath.h"
#include "Common/Jpeg.h"
#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "App/Resource.h"

CViewData::CViewData() = default;

CViewData::~CViewData() {
  std::lock_guard<std::mutex> load(m_LoadLock);
  std::lock_guard<std::mutex> guard(m_BitmapLock);
  m_Bitmap = CBitmap24();
}

void CViewData::StorePicture(const CBitmap24& bitmap) {
  std::lock_guard<std::mutex> guard(m_BitmapLock);
  m_Bitmap = bitmap;
  m_nPictWidth.store(bitmap.isNull() ? 0 : bitmap.width());
  m_nPictHeight.store(bitmap.isNull() ? 0 : bitmap.height());
}

BOOL CViewData::DecodeJpeg(const char* path, const BYTE* data, DWORD size, int scale, CBitmap24* out) const {
  const CJpeg& jpeg = FotaviJpeg();
  BOOL ok = FALSE;
  if (path) {
    ok = jpeg.Load(out, std::string(path), false, 0, 0);
    if (!ok) TraceLog(TRC_PRE, "CViewData::DecodeJpeg", "The error occurred with the [Load()[1]] function.");
  } else {
    ok = jpeg.Load(out, data, size, false, 0, 0, scale);
    if (!ok) TraceLog(TRC_PRE, "CViewData::DecodeJpeg", "The error occurred with the [Load()[2]] function.");
  }
  return ok;
}

BOOL CViewData::OpenBmpFile(const std::string& path, CBitmap24* out) const {
  CBmp bmp;
  QImage loaded;
  if (!bmp.Load(&loaded, path) || !CBmp::Convert24Bmp(loaded, out)) {
    TraceLog(TRC_PRE, "CViewData::OpenBmpFile", "The error occurred with the [Load()] function.");
    return FALSE;
  }
  return TRUE;
}

BOOL CViewData::LoadPicture(const BYTE* data, DWORD size, int scale) {
  std::lock_guard<std::mutex> load(m_LoadLock);
  CBitmap24 picture;
  if (!data || size == 0 || !DecodeJpeg(nullptr, data, size, scale, &picture)) {
    StorePicture(CBitmap24());
    TraceLog(TRC_PRE, "CViewData::LoadPicture", "The error occurred with the [DecodeJpeg()] function.");
    return FALSE;
  }
  StorePicture(picture);
  return TRUE;
}

BOOL CViewData::LoadPicture(const std::string& path, BOOL bmp) {
  std::lock_guard<std::mutex> load(m_LoadLock);
  CBitmap24 picture;
  const BOOL ok = bmp ? OpenBmpFile(path, &picture) : DecodeJpeg(path.c_str(), nullptr, 0, 0, &picture);
  if (!ok) {
    StorePicture(CBitmap24());
    TraceLog(TRC_PRE, "CViewData::LoadPicture", "%s",
             bmp ? "The error occurred with the [OpenBmpFile()] function."
                 : "The error occurred with the [DecodeJpeg()] function.");
    return FALSE;
  }
  StorePicture(picture);
  SetPath(path);
  SetName(CFilePath(path).GetFileName());
  return TRUE;
}

int CViewData::NextRotation(int rotation, int commandId) {
  int d = 90;
  if (commandId == ID_ROTATE_180) d = 180;
  else if (commandId == ID_ROTATE_90CCW) d = -90;
  return ((rotation * 90 + d + 360) % 360) / 90;
}

void CViewData::SetRotate(int commandId) { m_nRotate.store(NextRotation(m_nRotate.load(), commandId)); }

void CViewData::SetRotation(int quarterTurns) { m_nRotate.store(((quarterTurns % 4) + 4) % 4); }

void CViewData::SetZoom(double zoom) {
  if (zoom != 0.0) m_dZoom.store(zoom);
}

void CViewData::SetScrollPos(int bar, int pos) {
  (bar == SCROLL_HORZ ? m_nHScroll : m_nVScroll).store(pos);
}

int CViewData::GetScrollPos(int bar) const { return (bar == SCROLL_HORZ ? m_nHScroll : m_nVScroll).load(); }

void CViewData::SetName(const std::string& name) {
  std::lock_guard<std::mutex> guard(m_TextLock);
  m_strName = name;
}

std::string CViewData::GetName() const {
  std::lock_guard<std::mutex> guard(m_TextLock);
  return m_strName;
}

void CViewData::SetPath(const std::string& path) {
  std::lock_guard<std::mutex> guard(m_TextLock);
  m_strPath = path;
}

std::string CViewData::GetPath() const {
  std::lock_guard<std::mutex> guard(m_TextLock);
  return m_strPath;
}

CBitmap24 CViewData::GetBitmap() const {
  std::lock_guard<std::mutex> guard(m_BitmapLock);
  return m_Bitmap;
}

bool CViewData::HasBitmap() const {
  std::lock_guard<std::mutex> guard(m_BitmapLock);
  return !m_Bitmap.isNull();
}

void CViewData::SetBitmap(const CBitmap24& bitmap) {
  std::lock_guard<std::mutex> load(m_LoadLock);
  StorePicture(bitmap);
}
