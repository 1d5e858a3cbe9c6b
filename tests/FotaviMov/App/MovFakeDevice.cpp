#include "MovFakeDevice.h"

namespace movtest {

BOOL MovFakeDevice::bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) {
  ++requests;
  if (pdwError) *pdwError = 0;
  if (pwSequence) *pwSequence = static_cast<WORD>(requests.load());
  lastTarget_.store(hTarget);
  if (!pCommand || pCommand->wCommand != FOTAVI_CMD_GET_JPEG) return Unused(pdwError);
  return Answer(hTarget, FOTAVI_CMD_GET_JPEG, pdwError);
}

}  // namespace movtest
