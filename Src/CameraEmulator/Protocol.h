// Packet layout of the camera's pipe and control socket, as seen from the
// camera: little-endian helpers, packet builders and the camera's status words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fotavi::emu {

constexpr size_t kHeaderSize = 8;        // type, sequence, payload length
constexpr size_t kCommandPacketSize = 32;
constexpr size_t kPathPacketSize = 44;   // header + 32 path bytes + 4 zero bytes
constexpr size_t kRangePacketSize = 52;  // path packet + first and last entry index
constexpr size_t kPathBytes = 32;
constexpr size_t kEntrySize = 36;
constexpr size_t kFileSubHeaderSize = 12;
constexpr uint32_t kFileSubHeaderTag = 0x80;
constexpr uint16_t kPacketCommand = 0;   // command, response and status reply
constexpr uint16_t kPacketData = 2;

// Status words the camera answers with.
constexpr uint32_t kStatusDone = 0;
constexpr uint32_t kStatusNoCard = 1;
constexpr uint32_t kStatusNotFound = 2;    // no such file or folder, or a path the card refuses
constexpr uint32_t kStatusExists = 3;      // folder to create is already there
constexpr uint32_t kStatusCardError = 4;   // the card could not carry the operation out
constexpr uint32_t kStatusLocked = 8;      // write-protected picture
constexpr uint32_t kStatusPlaylistSend = 32;
constexpr uint32_t kStatusFull = 512;
constexpr uint32_t kStatusUnknownCommand = 0xFFFF;

// Control codes of the driver stand-in.
constexpr uint32_t kControlReset = 0x222000;
constexpr uint32_t kControlDriverText = 0x222004;
constexpr uint32_t kControlStatus = 0x22200C;

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A packet with its 8-byte header filled and `payload` zero bytes behind it.
inline std::vector<uint8_t> MakePacket(uint16_t type, uint16_t seq, size_t payload) {
  std::vector<uint8_t> p(kHeaderSize + payload, 0);
  PutU16(p.data(), type);
  PutU16(p.data() + 2, seq);
  PutU32(p.data() + 4, static_cast<uint32_t>(payload));
  return p;
}

// 32-byte response / status reply: words at offsets 8, 12 and 16.
inline std::vector<uint8_t> MakeResponse(uint16_t seq, uint32_t word0, uint32_t word1, uint32_t word2) {
  std::vector<uint8_t> p = MakePacket(kPacketCommand, seq, 24);
  PutU32(p.data() + 8, word0);
  PutU32(p.data() + 12, word1);
  PutU32(p.data() + 16, word2);
  return p;
}

// Text of a zero-padded fixed field (stops at the first zero byte).
inline std::string FieldText(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

std::string HexCode(uint32_t code);     // "0x808E"
std::string JsonEscape(const std::string& text);

}  // namespace fotavi::emu
