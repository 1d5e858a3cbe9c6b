#include "Faults.h"

namespace fotavi::emu {

const char* StageName(StatusStage stage) {
  switch (stage) {
    case StatusStage::Response: return "response";
    case StatusStage::First: return "first";
    case StatusStage::Final: return "final";
    case StatusStage::List: return "list";
  }
  return "?";
}

std::optional<StatusStage> ParseStage(const std::string& word) {
  for (StatusStage s : {StatusStage::Response, StatusStage::First, StatusStage::Final, StatusStage::List})
    if (word == StageName(s)) return s;
  return std::nullopt;
}

StatusStage DefaultStage(uint16_t cmd) {
  switch (cmd) {
    case 0x104:
    case 0x107:
      return StatusStage::First;
    case 0x105:
    case 0x106:
      return StatusStage::Final;
    case 0x8105:
      return StatusStage::List;
    default:
      return StatusStage::Response;
  }
}

bool StageFits(uint16_t cmd, StatusStage stage) {
  switch (stage) {
    case StatusStage::Response: return true;
    case StatusStage::First: return cmd == 0x104 || cmd == 0x107;
    case StatusStage::Final: return cmd == 0x104 || cmd == 0x107 || cmd == 0x105 || cmd == 0x106;
    case StatusStage::List: return cmd == 0x8105;
  }
  return false;
}

void FaultSet::Clear() { *this = FaultSet(); }

void FaultSet::SetDelay(uint16_t cmd, uint32_t ms, int count) {
  if (ms == 0 || count == 0) delay_.erase(cmd);
  else delay_[cmd] = {ms, count};
}

void FaultSet::SetLate(uint16_t cmd, uint32_t ms, int count) {
  if (ms == 0 || count == 0) late_.erase(cmd);
  else late_[cmd] = {ms, count};
}

void FaultSet::SetLateControl(uint32_t code, uint32_t ms, int count) {
  if (ms == 0 || count == 0) lateControl_.erase(code);
  else lateControl_[code] = {ms, count};
}

void FaultSet::SetDrop(uint16_t cmd, int count) {
  if (count == 0) drop_.erase(cmd);
  else drop_[cmd] = {0, count};
}

void FaultSet::SetZeroPacket(uint16_t cmd, uint32_t index, int count) {
  if (count == 0) zeroPacket_.erase(cmd);
  else zeroPacket_[cmd] = {index, count};
}

void FaultSet::SetStatus(uint16_t cmd, StatusStage stage, uint32_t status, int count) {
  auto key = std::make_pair(cmd, static_cast<int>(stage));
  if (count == 0) status_.erase(key);
  else status_[key] = {status, count};
}

void FaultSet::SetClaim(uint16_t cmd, uint32_t value, int count) {
  if (count == 0) claim_.erase(cmd);
  else claim_[cmd] = {value, count};
}

void FaultSet::SetShortResponse(uint16_t cmd, uint32_t bytes, int count) {
  if (count == 0) shortResponse_.erase(cmd);
  else shortResponse_[cmd] = {bytes, count};
}

bool FaultSet::Take(int& remaining) {
  if (remaining == 0) return false;
  if (remaining > 0) --remaining;
  return true;
}

uint32_t FaultSet::TakeDelay(uint16_t cmd) { return TakeFrom(delay_, cmd).value_or(0); }
uint32_t FaultSet::TakeLate(uint16_t cmd) { return TakeFrom(late_, cmd).value_or(0); }
bool FaultSet::TakeDrop(uint16_t cmd) { return TakeFrom(drop_, cmd).has_value(); }
uint32_t FaultSet::TakeLateControl(uint32_t code) { return TakeFrom(lateControl_, code).value_or(0); }
std::optional<uint32_t> FaultSet::TakeZeroPacket(uint16_t cmd) { return TakeFrom(zeroPacket_, cmd); }

std::optional<uint32_t> FaultSet::TakeStatus(uint16_t cmd, StatusStage stage) {
  return TakeFrom(status_, std::make_pair(cmd, static_cast<int>(stage)));
}

}  // namespace fotavi::emu
