#include "TwainCapTable.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

std::vector<TW_UINT8> U16Items(std::initializer_list<TW_UINT16> values) {
  std::vector<TW_UINT8> bytes(values.size() * 2);
  size_t i = 0;
  for (TW_UINT16 v : values) {
    std::memcpy(bytes.data() + 2 * i, &v, 2);
    ++i;
  }
  return bytes;
}

void SetU16Record(CAPINFO* rec, TW_UINT16 id, std::initializer_list<TW_UINT16> list, TW_UINT16 def,
                  TW_UINT16 cur) {
  *rec = CAPINFO{};
  rec->wCapId = id;
  rec->wItemType = TWTY_UINT16;
  rec->wGetContainer = TWON_ENUMERATION;
  rec->wGetCurrentContainer = TWON_ONEVALUE;
  rec->dwMessages = TWQC_GET | TWQC_SET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET;
  rec->list = U16Items(list);
  rec->listCount = static_cast<TW_UINT32>(list.size());
  rec->defaultValue = U16Items({def});
  rec->defaultCount = 1;
  rec->currentValue = U16Items({cur});
  rec->currentCount = 1;
}

}  // namespace

CTwainCapTable::CTwainCapTable()
    : m_SupportedCaps{0x1005, 0x1002, 0x0103, 0x111F, 0x1120, 0x0100, 0x1111, 0x1112, 0x1130, 0x1131,
                      0x0102, 0x100F, 0x1007, 0x1003, 0x1100, 0x1101, 0x1103, 0x110A, 0x1110, 0x1113,
                      0x1124, 0x1125, 0x0101, 0x112B, 0x112C, 0x111C, 0x1109, 0x1123, 0x1114, 0x111A,
                      0x1122, 0x1116, 0x1117, 0x1118, 0x1119, 0x0001, 0x110C, 0x112D, 0x100B, 0x100E} {
  Reset();
}

void CTwainCapTable::Reset() {
  for (auto& rec : m_Records) rec = CAPINFO{};
  SetU16Record(&m_Records[0], ICAP_PIXELFLAVOR, {TWPF_CHOCOLATE, TWPF_VANILLA}, TWPF_CHOCOLATE, TWPF_CHOCOLATE);
  SetU16Record(&m_Records[1], ICAP_XFERMECH, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}, TWSX_NATIVE, TWSX_NATIVE);
  // Pictures are delivered in pixels, so the unit list holds pixels beside
  // inches and the enumeration's indexes name the current unit.
  SetU16Record(&m_Records[2], ICAP_UNITS, {TWUN_INCHES, TWUN_PIXELS}, TWUN_PIXELS, TWUN_PIXELS);
  SetU16Record(&m_Records[3], CUSTCAP_BWBITDEPTH, {1}, 1, 1);
  SetU16Record(&m_Records[4], CUSTCAP_GRAYBITDEPTH, {8}, 8, 8);
  SetU16Record(&m_Records[5], CUSTCAP_RGBBITDEPTH, {24}, 24, 24);
  // Every picture is 24-bit colour: colour is the one pixel type offered.
  SetU16Record(&m_Records[6], ICAP_PIXELTYPE, {TWPT_RGB}, TWPT_RGB, TWPT_RGB);
  m_fResolution = 100.0f;
}

size_t CTwainCapTable::ItemSize(TW_UINT16 itemType) {
  switch (itemType) {
    case TWTY_INT8: case TWTY_UINT8: return 1;
    case TWTY_INT16: case TWTY_UINT16: case TWTY_BOOL: return 2;
    case TWTY_INT32: case TWTY_UINT32: case TWTY_FIX32: return 4;
    case TWTY_FRAME: return 16;
    case TWTY_STR32: return 34;
    case TWTY_STR64: return 66;
    case TWTY_STR128: return 130;
    case TWTY_STR255: return 256;
    default: return 0;
  }
}

size_t CTwainCapTable::StoredSize(TW_UINT16 itemType) { return ItemSize(itemType); }  // floats are 4 bytes too

TW_FIX32 CTwainCapTable::FloatToFix32(float value) {
  // Rounded to the nearest step; floor keeps negative values exact too.
  const int64_t v = static_cast<int64_t>(std::floor(static_cast<double>(value) * 65536.0 + 0.5));
  TW_FIX32 fix;
  fix.Whole = static_cast<TW_INT16>(v >> 16);
  fix.Frac = static_cast<TW_UINT16>(v & 0xFFFF);
  return fix;
}

float CTwainCapTable::Fix32ToFloat(TW_FIX32 value) {
  return static_cast<float>(value.Whole) + static_cast<float>(value.Frac) / 65536.0f;
}

const CAPINFO* CTwainCapTable::Find(TW_UINT16 capId) const {
  for (const auto& rec : m_Records) {
    if (rec.wCapId == capId && capId != 0) return &rec;
  }
  return nullptr;
}

CAPINFO* CTwainCapTable::FindRecord(TW_UINT16 capId) { return const_cast<CAPINFO*>(Find(capId)); }

TW_UINT16 CTwainCapTable::GetCurrentPixelType() const {
  const CAPINFO* rec = Find(ICAP_PIXELTYPE);
  TW_UINT16 v = TWPT_RGB;
  if (rec && rec->currentValue.size() >= 2) std::memcpy(&v, rec->currentValue.data(), 2);
  return v;
}

TW_UINT16 CTwainCapTable::GetBitsPerPixel(TW_UINT16 pixelType) const {
  if (pixelType > TWPT_RGB) return 0;
  const CAPINFO* rec = Find(static_cast<TW_UINT16>(CUSTCAP_BWBITDEPTH + pixelType));
  TW_UINT16 v = 0;
  if (rec && rec->currentValue.size() >= 2) std::memcpy(&v, rec->currentValue.data(), 2);
  return v;
}

void CTwainCapTable::WriteItem(TW_UINT16 itemType, const TW_UINT8* stored, TW_UINT8* out) {
  if (itemType == TWTY_FIX32) {
    float f;
    std::memcpy(&f, stored, 4);
    TW_FIX32 fix = FloatToFix32(f);
    std::memcpy(out, &fix, 4);
  } else if (itemType == TWTY_FRAME) {
    for (int i = 0; i < 4; ++i) {
      float f;
      std::memcpy(&f, stored + 4 * i, 4);
      TW_FIX32 fix = FloatToFix32(f);
      std::memcpy(out + 4 * i, &fix, 4);
    }
  } else {
    std::memcpy(out, stored, ItemSize(itemType));
  }
}

TW_UINT32 CTwainCapTable::IndexOf(const CAPINFO& rec, const std::vector<TW_UINT8>& value) {
  const size_t size = StoredSize(rec.wItemType);
  if (size == 0 || value.size() < size) return 0;
  for (TW_UINT32 i = 0; i < rec.listCount; ++i) {
    if (std::memcmp(rec.list.data() + i * size, value.data(), size) == 0) return i;
  }
  // A value outside the list: the index still names an item of the list.
  return 0;
}

TW_UINT16 CTwainCapTable::Get(const CAPINFO& rec, TW_UINT16 container, bool currentOnly, TW_CAPABILITY* cap,
                              TW_UINT16* cc) const {
  const size_t size = ItemSize(rec.wItemType);
  const std::vector<TW_UINT8>& items = currentOnly ? rec.currentValue : rec.list;
  const TW_UINT32 count = currentOnly ? rec.currentCount : rec.listCount;
  void* block = nullptr;
  switch (container) {
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
      // Both begin with the item type and the count; the enumeration adds
      // its two indexes before the items.
      const bool isEnum = container == TWON_ENUMERATION;
      const size_t header = isEnum ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
      block = std::calloc(1, header + size * count + 1);
      if (!block) break;
      auto* head = static_cast<TW_ARRAY*>(block);
      head->ItemType = rec.wItemType;
      head->NumItems = count;
      if (isEnum) {
        auto* e = static_cast<TW_ENUMERATION*>(block);
        e->CurrentIndex = currentOnly ? 0 : IndexOf(rec, rec.currentValue);
        e->DefaultIndex = currentOnly ? 0 : IndexOf(rec, rec.defaultValue);
      }
      auto* out = static_cast<TW_UINT8*>(block) + header;
      for (TW_UINT32 i = 0; i < count; ++i) WriteItem(rec.wItemType, items.data() + i * size, out + i * size);
      break;
    }
    case TWON_ONEVALUE: {
      const size_t itemBytes = size > 4 ? size : 4;
      block = std::calloc(1, offsetof(TW_ONEVALUE, Item) + itemBytes);
      if (!block) break;
      auto* o = static_cast<TW_ONEVALUE*>(block);
      o->ItemType = rec.wItemType;
      if (rec.currentCount > 0 && rec.currentValue.size() >= size)
        WriteItem(rec.wItemType, rec.currentValue.data(), static_cast<TW_UINT8*>(block) + offsetof(TW_ONEVALUE, Item));
      break;
    }
    case TWON_RANGE: {
      block = std::calloc(1, sizeof(TW_RANGE));
      if (!block) break;
      auto* r = static_cast<TW_RANGE*>(block);
      r->ItemType = rec.wItemType;
      TW_UINT32* fields[3] = {&r->MinValue, &r->MaxValue, &r->StepSize};
      if (size <= 4) {
        for (TW_UINT32 i = 0; i < 3 && i < rec.listCount; ++i) {
          TW_UINT8 tmp[4] = {0, 0, 0, 0};
          WriteItem(rec.wItemType, rec.list.data() + i * size, tmp);
          std::memcpy(fields[i], tmp, 4);
        }
        TW_UINT8 tmp[4] = {0, 0, 0, 0};
        if (rec.defaultCount) WriteItem(rec.wItemType, rec.defaultValue.data(), tmp);
        std::memcpy(&r->DefaultValue, tmp, 4);
        std::memset(tmp, 0, 4);
        if (rec.currentCount) WriteItem(rec.wItemType, rec.currentValue.data(), tmp);
        std::memcpy(&r->CurrentValue, tmp, 4);
      }
      break;
    }
    default:
      *cc = TWCC_BADVALUE;
      return TWRC_FAILURE;
  }
  if (!block) {
    *cc = TWCC_LOWMEMORY;
    return TWRC_FAILURE;
  }
  cap->ConType = container;
  cap->hContainer = block;
  *cc = TWCC_SUCCESS;
  return TWRC_SUCCESS;
}

TW_UINT16 CTwainCapTable::Set(CAPINFO& rec, TW_CAPABILITY* cap, TW_UINT16* cc) {
  if (!cap->hContainer) {
    *cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  if (cap->ConType == TWON_ONEVALUE) {
    const auto* o = static_cast<const TW_ONEVALUE*>(cap->hContainer);
    const size_t size = StoredSize(rec.wItemType);
    if (o->ItemType != rec.wItemType || size == 0 || size > 4) {
      *cc = TWCC_BADVALUE;
      return TWRC_FAILURE;
    }
    std::vector<TW_UINT8> value(size);
    TW_UINT32 item = o->Item;
    if (rec.wItemType == TWTY_FIX32) {
      TW_FIX32 fix;
      std::memcpy(&fix, &item, 4);
      const float f = Fix32ToFloat(fix);
      std::memcpy(value.data(), &f, 4);
    } else {
      std::memcpy(value.data(), &item, size);
    }
    for (TW_UINT32 i = 0; i < rec.listCount; ++i) {
      if (std::memcmp(rec.list.data() + i * size, value.data(), size) == 0) {
        rec.currentValue = value;
        rec.currentCount = 1;
        *cc = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      }
    }
    *cc = TWCC_BADVALUE;
    return TWRC_FAILURE;
  }
  if (cap->ConType == TWON_ENUMERATION) {
    // Answered with the current value; nothing is set.
    return Get(rec, TWON_ENUMERATION, true, cap, cc);
  }
  *cc = TWCC_BADVALUE;
  return TWRC_FAILURE;
}

TW_UINT16 CTwainCapTable::Operation(TW_CAPABILITY* cap, TW_UINT16 msg, TW_UINT16* conditionCode,
                                    TW_UINT16 protocolMajor, TW_UINT16 protocolMinor) {
  TW_UINT16 cc = TWCC_CAPUNSUPPORTED;
  TW_UINT16 rc = TWRC_FAILURE;
  if (!cap) {
    cc = TWCC_BADVALUE;
  } else {
    TW_UINT16 id = cap->Cap;
    if (id == ICAP_BITDEPTH) id = static_cast<TW_UINT16>(CUSTCAP_BWBITDEPTH + GetCurrentPixelType());
    CAPINFO* rec = FindRecord(id);
    if (rec) {
      auto needs = [&](TW_UINT32 bit) {
        if (rec->dwMessages & bit) return true;
        cc = TWCC_CAPBADOPERATION;
        return false;
      };
      switch (msg) {
        case MSG_GET:
          if (needs(TWQC_GET)) rc = Get(*rec, rec->wGetContainer, false, cap, &cc);
          break;
        case MSG_GETCURRENT:
          if (needs(TWQC_GETCURRENT)) rc = Get(*rec, rec->wGetCurrentContainer, true, cap, &cc);
          break;
        case MSG_SET:
          if (needs(TWQC_SET)) rc = Set(*rec, cap, &cc);
          break;
        case MSG_GETDEFAULT:
          if (needs(TWQC_GETDEFAULT)) cc = TWCC_CAPUNSUPPORTED;
          break;
        case MSG_RESET:
          if (needs(TWQC_RESET)) cc = TWCC_CAPUNSUPPORTED;
          break;
        default:
          cc = TWCC_CAPUNSUPPORTED;
          break;
      }
    }
  }
  if (protocolMajor < 2 && protocolMinor <= 5 && cc > TWCC_BADDEST) cc = TWCC_BADCAP;
  if (conditionCode) *conditionCode = cc;
  return rc;
}
