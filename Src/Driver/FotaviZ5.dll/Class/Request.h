// The command/response protocol: one device command becomes the exchange of
// packets the camera expects, and its reply a status word and, for some
// commands, a data block in global memory.
#pragma once

#include <cstdint>
#include <vector>

#include "FotaviZ5.h"
#include "Platform/Types.h"

class CRequestItem;

constexpr WORD FOTAVI_PACKET_COMMAND = 0;
constexpr WORD FOTAVI_PACKET_DATA = 2;
constexpr DWORD FOTAVI_PACKET_HEADER_SIZE = 8;
constexpr DWORD FOTAVI_COMMAND_PACKET_SIZE = 32;
constexpr DWORD FOTAVI_PATH_PACKET_SIZE = 44;
constexpr DWORD FOTAVI_RANGE_PACKET_SIZE = 52;
constexpr DWORD FOTAVI_SUBHEADER_SIZE = 12;
constexpr DWORD FOTAVI_SUBHEADER_MARK = 0x80;
constexpr DWORD FOTAVI_FOLDER_PORTION = 2048;
constexpr DWORD FOTAVI_FRAME_SPACING_MS = 50;
// The response's three words: the shortest response there is.
constexpr DWORD FOTAVI_RESPONSE_MIN_SIZE = FOTAVI_PACKET_HEADER_SIZE + 12;

// What a reply can announce. A larger claim is no reply of this camera: it
// fails the request before anything is allocated for it.
// A 1024 x 768 JPEG frame: twice the picture's raw 24-bit size, which no
// frame of the camera comes near.
constexpr DWORD FOTAVI_MAX_FRAME_LENGTH = 1024 * 768 * 3 * 2;
// A card file: the card transfers files below 2 MiB.
constexpr DWORD FOTAVI_MAX_FILE_LENGTH = 0x200000 - 1;
// Entries of one listing: a DCF folder holds pictures 0001 to 9999 (and the
// root 900 folders); five portions leave room for the files beside them.
constexpr DWORD FOTAVI_MAX_LIST_ENTRIES = 5 * FOTAVI_FOLDER_PORTION;

// One run of a request variant: the command packet, the response packet and
// the last status reply.
class CCommandPacket {
 public:
  CCommandPacket();
  void SetCommand(WORD wSequence, const DEVICE_CMD& command);

  BYTE m_Command[FOTAVI_COMMAND_PACKET_SIZE];
  BYTE m_Response[FOTAVI_COMMAND_PACKET_SIZE];
  std::vector<BYTE> m_Reply;  // last status reply
};

class CRequest {
 public:
  CRequest();
  ~CRequest();

  BOOL bLoadJpegHeader(DWORD* pdwError);
  void FreeJpegHeader();
  void SetPacketSize(DWORD dwPacketSize) { m_dwPacketSize = dwPacketSize; }
  DWORD PacketSize() const { return m_dwPacketSize; }

  // The variants, chosen by command code.
  BOOL bRequest(CRequestItem* pItem, DWORD* pdwError);   // 0x808E frame
  BOOL bRequest2(CRequestItem* pItem, DWORD* pdwError);  // command and status only
  BOOL bRequest3(CRequestItem* pItem, DWORD* pdwError);  // root list
  BOOL bRequest4(CRequestItem* pItem, DWORD* pdwError);  // read a file
  BOOL bRequest5(CRequestItem* pItem, DWORD* pdwError);  // delete, make folder
  BOOL bRequest6(CRequestItem* pItem, DWORD* pdwError);  // write a file
  BOOL bRequest7(CRequestItem* pItem, DWORD* pdwError);  // folder list
  BOOL bReset(DWORD* pdwError);

 private:
  void WaitInterval();
  BOOL bCommandAndResponse(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError);
  BOOL bWriteCommand(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError);
  BOOL bReadResponse(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError);
  BOOL bReadJpegData(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError);
  BOOL bReadPathData(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError);
  BOOL bReadDataPackets(CRequestItem* pItem, BYTE* pDest, DWORD dwLength, DWORD* pdwError);
  BOOL bWritePathData(CRequestItem* pItem, DWORD* pdwError);
  BOOL bReadRspData(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError);
  BOOL bReadFileData(CRequestItem* pItem, DWORD* pdwError);
  BOOL bReadFileDataPackets(CRequestItem* pItem, HGLOBAL* phData, DWORD* pdwLength, DWORD* pdwError);
  BOOL bWriteFileData(CRequestItem* pItem, DWORD* pdwError);
  BOOL bWriteInDirData(CRequestItem* pItem, DWORD dwFirst, DWORD* pdwError);
  BOOL bReadFileList(CRequestItem* pItem, HGLOBAL* phList, DWORD* pdwCount, DWORD* pdwError);

  // Reads one packet of at least dwMinimum bytes into a buffer of the packet
  // size; 0 or the failure's code.
  DWORD ReadFirstPacket(CRequestItem* pItem, std::vector<BYTE>& buffer, DWORD dwMinimum, DWORD* pdwRead,
                        DWORD* pdwError);
  // Reads packets until nWanted bytes are at pDest; 0 or the failure's code.
  DWORD AppendPackets(CRequestItem* pItem, std::vector<BYTE>& buffer, BYTE* pDest, uint64_t nGot, uint64_t nWanted,
                      DWORD* pdwError);
  BOOL bReadPacket(CRequestItem* pItem, BYTE* pBuffer, DWORD dwLength, DWORD* pdwRead, DWORD* pdwError);
  BOOL bWritePacket(CRequestItem* pItem, const void* pData, DWORD dwLength, DWORD* pdwError);
  void SetData(CRequestItem* pItem, HGLOBAL hData, DWORD dwLength);

  std::vector<BYTE> m_JpegHeader;
  DWORD m_dwJpegHeaderSize = 0;
  DWORD m_dwPacketSize = 0;
  DWORD m_dwLastFrameTick = 0;
};
