// The capability table of the data source: a fixed set of capability records
// with their value lists, defaults and current values, and the answers to an
// application's capability negotiation. Containers are made with the C
// allocator; the application frees them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Twain.h"

// One capability record. Values are kept in the item type's width; FIX32
// items as floats, FRAME items as four floats.
struct CAPINFO {
  TW_UINT16 wCapId = 0;
  TW_UINT16 wItemType = 0;
  TW_UINT16 wGetContainer = 0;
  TW_UINT16 wGetCurrentContainer = 0;
  TW_UINT32 dwMessages = 0;  // TWQC_* bits
  std::vector<TW_UINT8> list;
  TW_UINT32 listCount = 0;
  std::vector<TW_UINT8> defaultValue;
  TW_UINT32 defaultCount = 0;
  std::vector<TW_UINT8> currentValue;
  TW_UINT32 currentCount = 0;
  TW_UINT32 reserved[3] = {0, 0, 0};
};

class CTwainCapTable {
 public:
  static constexpr size_t kRecordCount = 41;
  static constexpr size_t kSupportedCount = 40;

  CTwainCapTable();
  ~CTwainCapTable() = default;

  // Sets the records and values the source offers (at every open).
  void Reset();

  // Answers one capability message. `protocolMajor/Minor` are the
  // application's; TWAIN 1.5 and older applications see codes above
  // TWCC_BADDEST as TWCC_BADCAP.
  TW_UINT16 Operation(TW_CAPABILITY* cap, TW_UINT16 msg, TW_UINT16* conditionCode, TW_UINT16 protocolMajor = 2,
                      TW_UINT16 protocolMinor = 0);

  TW_UINT16 GetCurrentPixelType() const;
  // Bits per pixel of a pixel type (0 for a type without its own record).
  TW_UINT16 GetBitsPerPixel(TW_UINT16 pixelType) const;
  float GetResolution() const { return m_fResolution; }
  const std::array<TW_UINT16, kSupportedCount>& SupportedCaps() const { return m_SupportedCaps; }
  const CAPINFO* Find(TW_UINT16 capId) const;

  static TW_FIX32 FloatToFix32(float value);
  static float Fix32ToFloat(TW_FIX32 value);
  // Bytes of one item of a TWTY type in a container (0 for an unknown type).
  static size_t ItemSize(TW_UINT16 itemType);

 private:
  CAPINFO* FindRecord(TW_UINT16 capId);
  TW_UINT16 Get(const CAPINFO& rec, TW_UINT16 container, bool currentOnly, TW_CAPABILITY* cap,
                TW_UINT16* cc) const;
  TW_UINT16 Set(CAPINFO& rec, TW_CAPABILITY* cap, TW_UINT16* cc);
  // Writes one stored item into container bytes (FIX32 and FRAME converted).
  static void WriteItem(TW_UINT16 itemType, const TW_UINT8* stored, TW_UINT8* out);
  static size_t StoredSize(TW_UINT16 itemType);
  static TW_UINT32 IndexOf(const CAPINFO& rec, const std::vector<TW_UINT8>& value);

  std::array<CAPINFO, kRecordCount> m_Records;
  std::array<TW_UINT16, kSupportedCount> m_SupportedCaps;
  float m_fResolution = 100.0f;
};
