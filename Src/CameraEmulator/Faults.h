// Faults the emulator can be told to play, for tests of the host side.
// Each fault has a count: how many exchanges it affects (-1: until cleared).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace fotavi::emu {

// Where a forced status word goes.
enum class StatusStage {
  Response,  // word 1 of the response (the frame status of 0x808E)
  First,     // first status reply of a file or playlist write (0x104, 0x107)
  Final,     // last status reply (0x104, 0x107 after the data; 0x105, 0x106)
  List,      // status word of the first folder-list packet (0x8105)
};

const char* StageName(StatusStage stage);
std::optional<StatusStage> ParseStage(const std::string& word);
// The stage a forced status of `cmd` goes to when none is named.
StatusStage DefaultStage(uint16_t cmd);
bool StageFits(uint16_t cmd, StatusStage stage);

class FaultSet {
 public:
  void Clear();

  void SetDelay(uint16_t cmd, uint32_t ms, int count);          // ms 0 clears
  // A delayed answer that is sent even after the host gave up on it (a reset
  // or its next command does not stop it); only a closed pipe connection does.
  void SetLate(uint16_t cmd, uint32_t ms, int count);           // ms 0 clears
  void SetDrop(uint16_t cmd, int count);                        // count 0 clears
  // The answer to control code `code` is sent `ms` later on its connection.
  void SetLateControl(uint32_t code, uint32_t ms, int count);   // ms 0 clears
  void SetZeroPacket(uint16_t cmd, uint32_t index, int count);  // count 0 clears
  void SetStatus(uint16_t cmd, StatusStage stage, uint32_t status, int count);  // count 0 clears
  // The reply announces `value` (frame length, entry count or file length)
  // and sends nothing of what it announced.
  void SetClaim(uint16_t cmd, uint32_t value, int count);       // count 0 clears
  // The 32-byte response packet is cut to `bytes` bytes.
  void SetShortResponse(uint16_t cmd, uint32_t bytes, int count);  // count 0 clears
  // Every folder-list portion comes full (2048 entries), however far the host asks.
  void SetFullList(int count) { fullList_ = count; }
  void SetBadFrame(int count) { badFrame_ = count; }
  void SetFrameLengthZero(int count) { lengthZero_ = count; }
  void SetShortFrame(int count) { shortFrame_ = count; }

  // Each Take* consumes one use of the fault when it applies.
  uint32_t TakeDelay(uint16_t cmd);
  uint32_t TakeLate(uint16_t cmd);
  bool TakeDrop(uint16_t cmd);
  uint32_t TakeLateControl(uint32_t code);
  std::optional<uint32_t> TakeZeroPacket(uint16_t cmd);
  std::optional<uint32_t> TakeStatus(uint16_t cmd, StatusStage stage);
  std::optional<uint32_t> TakeClaim(uint16_t cmd) { return TakeFrom(claim_, cmd); }
  std::optional<uint32_t> TakeShortResponse(uint16_t cmd) { return TakeFrom(shortResponse_, cmd); }
  bool TakeFullList() { return Take(fullList_); }
  bool TakeBadFrame() { return Take(badFrame_); }
  bool TakeFrameLengthZero() { return Take(lengthZero_); }
  bool TakeShortFrame() { return Take(shortFrame_); }

 private:
  struct Counted {
    uint32_t value = 0;
    int remaining = 0;  // -1: until cleared
  };
  static bool Take(int& remaining);
  template <class Key>
  static std::optional<uint32_t> TakeFrom(std::map<Key, Counted>& table, const Key& key) {
    auto it = table.find(key);
    if (it == table.end()) return std::nullopt;
    uint32_t value = it->second.value;
    if (it->second.remaining > 0 && --it->second.remaining == 0) table.erase(it);
    return value;
  }

  std::map<uint16_t, Counted> delay_;
  std::map<uint16_t, Counted> late_;
  std::map<uint32_t, Counted> lateControl_;
  std::map<uint16_t, Counted> drop_;
  std::map<uint16_t, Counted> zeroPacket_;
  std::map<std::pair<uint16_t, int>, Counted> status_;
  std::map<uint16_t, Counted> claim_;
  std::map<uint16_t, Counted> shortResponse_;
  int fullList_ = 0;
  int badFrame_ = 0;
  int lengthZero_ = 0;
  int shortFrame_ = 0;
};

}  // namespace fotavi::emu
