// The connection to the camera: settings, finding the camera's device
// interface, the pipe, single transfers with a time limit, routing of each
// incoming packet to the read it belongs to, and the choice of the request
// variant for a device command.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Class/Request.h"
#include "Platform/DeviceInterface.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

class CRequestItem;

// Settings of the library (machine settings).
struct CDeviceSettings {
  DWORD dwMaxTransferSize = 64;  // KiB
  DWORD dwLogFileSize = 1024;    // KiB
  DWORD dwLogLevel = 1;
  std::string installPath = "C:";
  std::string LogFolder() const;  // names follow it directly
};
CDeviceSettings ReadDeviceSettings();

// The read a packet belongs to: sequence 0 goes to the posted read, any
// other to the oldest pending read with that sequence; NULL when none has it.
CRequestItem* FindPacketOwner(const std::deque<CRequestItem*>& pending, CRequestItem* pPosted, WORD wSequence);

class CDevice {
 public:
  CDevice();
  ~CDevice();

  static std::unique_ptr<CDeviceHandle> bOpenDevice(DWORD dwMember, DWORD* pdwError);

  BOOL bOpenSub(DWORD* pdwError);
  BOOL bCloseSub(DWORD* pdwError);
  BOOL bIoctlSub(DWORD dwCode, void* pBuffer, DWORD dwSize, DWORD* pdwReturned, DWORD* pdwError);
  BOOL bReadSub(DWORD* pdwRead, DWORD* pdwError);
  BOOL bWriteSub(const void* pData, DWORD dwLength, DWORD* pdwWritten, WORD* pwSequence, DWORD* pdwError);
  BOOL bReadPacket(CRequestItem* pPosted, DWORD* pdwError, CRequestItem** ppCompleted);
  BOOL bPopPendingRead(CRequestItem** ppItem);
  BOOL bRequestSub(CRequestItem* pItem, DWORD* pdwError);
  bool IsPending(const CRequestItem* pItem) const;

  // Read without the device lock on any thread: the entry check of every
  // operation and the driver text of each log line.
  BOOL IsOpened() const { return m_bOpened.load(); }
  DWORD TransferSize() const { return m_dwTransferSize; }
  CRequest& Request() { return m_Request; }
  // Driver trace text for the log, taken only while the pipe is open.
  DWORD GetDriverText(char* pBuffer, DWORD dwSize);

 private:
  CRequest m_Request;
  // Written under m_DeviceLock together with the pipe, read without it.
  std::atomic<BOOL> m_bOpened{FALSE};
  std::unique_ptr<CDeviceHandle> m_pDevice;
  DWORD m_dwTransferSize;
  std::vector<BYTE> m_PacketBuffer;
  std::deque<CRequestItem*> m_PendingReads;
  CCriticalSection m_DeviceLock;
};
