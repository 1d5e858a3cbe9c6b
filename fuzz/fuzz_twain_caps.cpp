// The data source's capability negotiation through its DS_Entry: MSG_SET,
// MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT and MSG_RESET on every capability,
// with containers whose type, item count and item type come from the input,
// as a TWAIN application hands them over. The container is as large as its
// own counts say (an application allocates it so); its contents are the
// input's. The source is loaded by path, as a data source manager loads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

#include "TiryxK27/TwainCapTable.h"
#include "FuzzFile.h"
#include <string>

namespace {

struct Reader {
  const uint8_t* p;
  size_t left;
  uint16_t U16() {
    uint16_t v = 0;
    const size_t n = left < 2 ? left : 2;
    std::memcpy(&v, p, n);
    p += n;
    left -= n;
    return v;
  }
  uint32_t U32() {
    uint32_t v = 0;
    const size_t n = left < 4 ? left : 4;
    std::memcpy(&v, p, n);
    p += n;
    left -= n;
    return v;
  }
};

constexpr TW_UINT16 kMessages[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET, MSG_RESET, 0, 0xFFFF};
constexpr TW_UINT16 kContainers[] = {TWON_ARRAY, TWON_ENUMERATION, TWON_ONEVALUE, TWON_RANGE, 0, 7};

DSENTRYPROC Entry() {
  static DSENTRYPROC entry = [] {
    void* module = dlopen(FOTAVI_TWAIN_SOURCE, RTLD_NOW | RTLD_LOCAL);
    if (!module) std::abort();
    auto e = reinterpret_cast<DSENTRYPROC>(dlsym(module, "DS_Entry"));
    if (!e) std::abort();
    return e;
  }();
  return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const CTwainCapTable table;  // the list of the source's own capabilities
  DSENTRYPROC entry = Entry();
  // Several operations per input, so a SET can change what a later GET sees.
  for (int op = 0; op < 8 && in.left > 0; ++op) {
    const uint16_t selector = in.U16();
    TW_CAPABILITY cap{};
    // Half the time one of the source's own capabilities, else any id.
    cap.Cap = (selector & 1) ? table.SupportedCaps()[(selector >> 1) % table.SupportedCaps().size()] : in.U16();
    const TW_UINT16 msg = kMessages[(selector >> 8) % (sizeof kMessages / sizeof kMessages[0])];
    cap.ConType = kContainers[(selector >> 11) % (sizeof kContainers / sizeof kContainers[0])];
    const TW_UINT16 itemType = in.U16() % 16;
    const TW_UINT32 count = in.U32() % 64;
    const size_t item = CTwainCapTable::ItemSize(itemType);
    size_t bytes = 0;
    switch (cap.ConType) {
      case TWON_ONEVALUE: bytes = sizeof(TW_ONEVALUE); break;
      case TWON_RANGE: bytes = sizeof(TW_RANGE); break;
      case TWON_ARRAY: bytes = offsetof(TW_ARRAY, ItemList) + count * item; break;
      case TWON_ENUMERATION: bytes = offsetof(TW_ENUMERATION, ItemList) + count * item; break;
      default: bytes = 2; break;
    }
    void* container = nullptr;
    const bool withContainer = (selector & 0x4000) == 0;
    if (withContainer) {
      container = std::calloc(1, bytes < 2 ? 2 : bytes);
      const size_t copy = in.left < bytes ? in.left : bytes;
      std::memcpy(container, in.p, copy);
      in.p += copy;
      in.left -= copy;
      std::memcpy(container, &itemType, 2);
      if (cap.ConType == TWON_ARRAY || cap.ConType == TWON_ENUMERATION)
        std::memcpy(static_cast<uint8_t*>(container) + 2, &count, 4);
    }
    cap.hContainer = container;
    TW_IDENTITY app{};
    app.Id = 1;
    app.ProtocolMajor = (selector & 0x8000) ? 1 : 2;
    app.ProtocolMinor = 5;
    entry(&app, DG_CONTROL, DAT_CAPABILITY, msg, &cap);
    TW_STATUS status{};
    entry(&app, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    // A container the source made is the application's to free.
    if (cap.hContainer != container) std::free(cap.hContainer);
    std::free(container);
  }
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  // One operation each: {selector, item type, count, container bytes}.
  auto op = [](uint16_t selector, uint16_t itemType, uint32_t count, std::string bytes) {
    std::string s(reinterpret_cast<const char*>(&selector), 2);
    s.append(reinterpret_cast<const char*>(&itemType), 2);
    s.append(reinterpret_cast<const char*>(&count), 4);
    return s + bytes;
  };
  const std::string oneValue("\0\0\x02\0\0\0", 6);
  return {op(0x0101, TWTY_UINT16, 1, oneValue),                     // MSG_GET
          op(0x0301 | (2 << 11), TWTY_UINT16, 1, oneValue),         // MSG_SET, one value
          op(0x0301 | (1 << 11), TWTY_UINT16, 3, std::string(20, '\1')),  // MSG_SET, enumeration
          op(0x0401, TWTY_FIX32, 0, "") + op(0x0201, TWTY_FIX32, 0, "")};
}
