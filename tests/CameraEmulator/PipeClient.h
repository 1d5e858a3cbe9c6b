// Host side of the camera protocol written from the packet formats, for
// driving the emulator over raw sockets in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fotavi::test {

using Bytes = std::vector<uint8_t>;

uint16_t U16(const uint8_t* p);
uint32_t U32(const uint8_t* p);
void Put32(Bytes& b, size_t at, uint32_t v);

enum class ReadResult { Packet, Timeout, Closed };

class PipeClient {
 public:
  ~PipeClient();
  bool Connect(const std::string& path);  // SOCK_SEQPACKET
  void Close();
  int fd() const { return fd_; }

  bool Send(const Bytes& packet);
  bool SendCommand(uint16_t cmd, uint16_t seq, uint32_t param = 0);
  bool SendPath(uint16_t seq, const std::string& path);
  bool SendRange(uint16_t seq, const std::string& path, uint32_t first);
  // The data of a write: sub-header {0x80, length, 0} and the bytes, in
  // packets of at most `packetSize`.
  bool SendFileData(uint16_t seq, const Bytes& data, uint32_t packetSize);
  ReadResult Read(Bytes* packet, int timeoutMs = 5000);

  // Whole exchanges. Each returns false when a packet is missing or malformed.
  // status: word 1 of the response (frame status for 0x808E).
  bool Simple(uint16_t cmd, uint16_t seq, uint32_t* status, uint32_t param = 0);
  bool Frame(uint16_t seq, uint32_t* frameStatus, Bytes* frame, uint32_t* announced = nullptr);
  bool RootList(uint16_t seq, uint32_t* status, std::vector<std::string>* entries);
  bool ReadFile(uint16_t cmd, uint16_t seq, const std::string& path, uint32_t* status, Bytes* data);
  // Portions of 2048 as the host asks for them; listStatus: first non-zero list status.
  bool FolderList(uint16_t seq, const std::string& path, uint32_t* listStatus, std::vector<std::string>* entries,
                  int* portions = nullptr);
  // 0x104 / 0x107; first and final status (final stays 0xFFFFFFFF when no data was sent).
  bool WriteFile(uint16_t cmd, uint16_t seq, const std::string& path, const Bytes& data, uint32_t packetSize,
                 uint32_t* first, uint32_t* final);
  // 0x105 / 0x106: the status reply.
  bool PathCommand(uint16_t cmd, uint16_t seq, const std::string& path, uint32_t* status);
  // Reads data packets until `length` payload bytes are in (appended to out).
  bool ReadData(uint32_t length, Bytes* out, int timeoutMs = 5000);

 private:
  int fd_ = -1;
};

// One control exchange on <device>/control. False when the socket fails.
bool ControlCall(const std::string& controlPath, uint32_t code, uint32_t outLength, uint32_t* ok, Bytes* data);

// The library's 575-byte JPEG header, written from the table values.
Bytes BuildJpegHeader();

// Decodes a complete JPEG stream with libjpeg into blue, green, red rows.
bool DecodeJpeg(const Bytes& jpeg, int* width, int* height, Bytes* bgr, std::string* error);

}  // namespace fotavi::test
