// The capability table: container bytes at their packed offsets, get, set
// and the condition codes of the negotiation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PackedField.h"
#include "Twain.h"
#include "TwainCapTable.h"

namespace {

// Reads a little-endian value at a byte offset of a container.
template <typename T>
T At(const void* block, size_t offset) {
  T v;
  std::memcpy(&v, static_cast<const TW_UINT8*>(block) + offset, sizeof v);
  return v;
}

// Test names: a capability and a message by their TWAIN names.
std::string CapName(TW_UINT16 cap) {
  switch (cap) {
    case CAP_SUPPORTEDCAPS: return "SupportedCaps";
    case ICAP_XFERMECH: return "XferMech";
    case ICAP_PIXELFLAVOR: return "PixelFlavor";
    case ICAP_UNITS: return "Units";
    case ICAP_PIXELTYPE: return "PixelType";
    case ICAP_BITDEPTH: return "BitDepth";
    case CUSTCAP_BWBITDEPTH: return "BwBitDepth";
    case CUSTCAP_GRAYBITDEPTH: return "GrayBitDepth";
    case CUSTCAP_RGBBITDEPTH: return "RgbBitDepth";
    default: return "Cap" + std::to_string(cap);
  }
}

std::string MsgName(TW_UINT16 msg) {
  switch (msg) {
    case MSG_GET: return "Get";
    case MSG_GETCURRENT: return "GetCurrent";
    case MSG_GETDEFAULT: return "GetDefault";
    case MSG_RESET: return "Reset";
    case MSG_QUERYSUPPORT: return "QuerySupport";
    default: return "Msg" + std::to_string(msg);
  }
}

struct Answer {
  TW_UINT16 rc;
  TW_UINT16 cc;
  TW_CAPABILITY cap;
};

Answer Ask(CTwainCapTable& table, TW_UINT16 capId, TW_UINT16 msg, TW_UINT16 major = 2, TW_UINT16 minor = 0) {
  Answer a{};
  a.cap.Cap = capId;
  a.cap.ConType = TWON_DONTCARE16;
  a.cap.hContainer = nullptr;
  a.rc = table.Operation(&a.cap, msg, &a.cc, major, minor);
  return a;
}

struct EnumCase {
  TW_UINT16 cap;
  std::vector<TW_UINT16> items;
  TW_UINT32 current;
  TW_UINT32 def;
};

class EnumerationBytes : public ::testing::TestWithParam<EnumCase> {};

}  // namespace

TEST_P(EnumerationBytes, GetBuildsAnEnumerationAtPackedOffsets) {
  CTwainCapTable table;
  const EnumCase& c = GetParam();
  Answer a = Ask(table, c.cap, MSG_GET);
  ASSERT_EQ(a.rc, TWRC_SUCCESS);
  EXPECT_EQ(a.cc, TWCC_SUCCESS);
  EXPECT_EQ(a.cap.ConType, TWON_ENUMERATION);
  ASSERT_NE(Copied(a.cap.hContainer), nullptr);
  // ItemType at 0, NumItems at 2, CurrentIndex at 6, DefaultIndex at 10, items from 14.
  EXPECT_EQ(At<TW_UINT16>(a.cap.hContainer, 0), TWTY_UINT16);
  EXPECT_EQ(At<TW_UINT32>(a.cap.hContainer, 2), c.items.size());
  EXPECT_EQ(At<TW_UINT32>(a.cap.hContainer, 6), c.current);
  EXPECT_EQ(At<TW_UINT32>(a.cap.hContainer, 10), c.def);
  EXPECT_LT(At<TW_UINT32>(a.cap.hContainer, 6), c.items.size()) << "the current index names an item of the list";
  EXPECT_LT(At<TW_UINT32>(a.cap.hContainer, 10), c.items.size());
  for (size_t i = 0; i < c.items.size(); ++i) EXPECT_EQ(At<TW_UINT16>(a.cap.hContainer, 14 + 2 * i), c.items[i]);
  std::free(a.cap.hContainer);  // a plain heap block, freed as an application frees it
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string EnumCaseName(const EnumCase& c) { return CapName(c.cap); }
void PrintTo(const EnumCase& c, std::ostream* os) { *os << EnumCaseName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Offered, EnumerationBytes,
    ::testing::Values(EnumCase{ICAP_XFERMECH, {0, 1, 2}, 0, 0}, EnumCase{ICAP_PIXELFLAVOR, {0, 1}, 0, 0},
                      EnumCase{ICAP_UNITS, {TWUN_INCHES, TWUN_PIXELS}, 1, 1},
                      EnumCase{ICAP_PIXELTYPE, {TWPT_RGB}, 0, 0}, EnumCase{CUSTCAP_BWBITDEPTH, {1}, 0, 0},
                      EnumCase{CUSTCAP_GRAYBITDEPTH, {8}, 0, 0}, EnumCase{CUSTCAP_RGBBITDEPTH, {24}, 0, 0},
                      EnumCase{ICAP_BITDEPTH, {24}, 0, 0}),
    [](const auto& info) { return EnumCaseName(info.param); });

TEST(CapTable, GetCurrentGivesAOneValueAtPackedOffsets) {
  CTwainCapTable table;
  Answer a = Ask(table, ICAP_BITDEPTH, MSG_GETCURRENT);
  ASSERT_EQ(a.rc, TWRC_SUCCESS);
  EXPECT_EQ(a.cap.ConType, TWON_ONEVALUE);
  EXPECT_EQ(At<TW_UINT16>(a.cap.hContainer, 0), TWTY_UINT16);
  EXPECT_EQ(At<TW_UINT32>(a.cap.hContainer, 2), 24u);  // the Item right after the 2-byte type
  std::free(a.cap.hContainer);
}

namespace {
struct SetCase {
  TW_UINT16 cap;
  TW_UINT16 itemType;
  TW_UINT32 value;
  TW_UINT16 rc;
  TW_UINT16 cc;
};
class OneValueSet : public ::testing::TestWithParam<SetCase> {};
}  // namespace

TEST_P(OneValueSet, AcceptsOnlyListedValuesOfTheRecordsType) {
  CTwainCapTable table;
  const SetCase& c = GetParam();
  TW_ONEVALUE* one = static_cast<TW_ONEVALUE*>(std::malloc(sizeof(TW_ONEVALUE)));
  one->ItemType = c.itemType;
  one->Item = c.value;
  TW_CAPABILITY cap{c.cap, TWON_ONEVALUE, one};
  TW_UINT16 cc = 0xFFFF;
  EXPECT_EQ(table.Operation(&cap, MSG_SET, &cc), c.rc);
  EXPECT_EQ(cc, c.cc);
  std::free(one);
  Answer now = Ask(table, c.cap, MSG_GETCURRENT);
  ASSERT_EQ(now.rc, TWRC_SUCCESS);
  if (c.rc == TWRC_SUCCESS) EXPECT_EQ(At<TW_UINT16>(now.cap.hContainer, 2), c.value);
  std::free(now.cap.hContainer);
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string SetCaseName(const SetCase& c) {
  return CapName(c.cap) + (c.itemType == TWTY_UINT16 ? "" : "AsUint32") + "To" + std::to_string(c.value);
}
void PrintTo(const SetCase& c, std::ostream* os) { *os << SetCaseName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Values, OneValueSet,
    ::testing::Values(SetCase{ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY, TWRC_SUCCESS, TWCC_SUCCESS},
                      SetCase{ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE, TWRC_SUCCESS, TWCC_SUCCESS},
                      SetCase{ICAP_XFERMECH, TWTY_UINT16, 3, TWRC_FAILURE, TWCC_BADVALUE},
                      SetCase{ICAP_XFERMECH, TWTY_UINT32, TWSX_MEMORY, TWRC_FAILURE, TWCC_BADVALUE},
                      SetCase{ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB, TWRC_SUCCESS, TWCC_SUCCESS},
                      SetCase{ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW, TWRC_FAILURE, TWCC_BADVALUE},
                      SetCase{ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, TWRC_SUCCESS, TWCC_SUCCESS},
                      SetCase{ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_VANILLA, TWRC_SUCCESS, TWCC_SUCCESS},
                      SetCase{0x9002, TWTY_UINT16, 8, TWRC_FAILURE, TWCC_BADVALUE}),
    [](const auto& info) { return SetCaseName(info.param); });

namespace {
struct CodeCase {
  TW_UINT16 cap;
  TW_UINT16 msg;
  TW_UINT16 major;
  TW_UINT16 minor;
  TW_UINT16 cc;
};
class ConditionCodes : public ::testing::TestWithParam<CodeCase> {};
}  // namespace

TEST_P(ConditionCodes, FailuresReportTheirCode) {
  CTwainCapTable table;
  const CodeCase& c = GetParam();
  Answer a = Ask(table, c.cap, c.msg, c.major, c.minor);
  EXPECT_EQ(a.rc, TWRC_FAILURE);
  EXPECT_EQ(a.cc, c.cc);
  EXPECT_EQ(Copied(a.cap.hContainer), nullptr);
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string CodeCaseName(const CodeCase& c) {
  return CapName(c.cap) + MsgName(c.msg) + "Protocol" + std::to_string(c.major) + "_" + std::to_string(c.minor);
}
void PrintTo(const CodeCase& c, std::ostream* os) { *os << CodeCaseName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(Table, ConditionCodes,
                         ::testing::Values(CodeCase{CAP_SUPPORTEDCAPS, MSG_GET, 2, 0, TWCC_CAPUNSUPPORTED},
                                           CodeCase{CAP_SUPPORTEDCAPS, MSG_GET, 1, 5, TWCC_BADCAP},
                                           CodeCase{CAP_SUPPORTEDCAPS, MSG_GET, 1, 9, TWCC_CAPUNSUPPORTED},
                                           CodeCase{ICAP_PIXELTYPE, MSG_GETDEFAULT, 2, 0, TWCC_CAPUNSUPPORTED},
                                           CodeCase{ICAP_PIXELTYPE, MSG_RESET, 2, 0, TWCC_CAPUNSUPPORTED},
                                           CodeCase{ICAP_PIXELTYPE, MSG_QUERYSUPPORT, 2, 0, TWCC_CAPUNSUPPORTED},
                                           CodeCase{ICAP_PIXELTYPE, MSG_GETDEFAULT, 1, 4, TWCC_BADCAP},
                                           CodeCase{0x1234, MSG_GETCURRENT, 2, 0, TWCC_CAPUNSUPPORTED}),
                         [](const auto& info) { return CodeCaseName(info.param); });

TEST(CapTable, SetByEnumerationAnswersTheCurrentValueAndSetsNothing) {
  CTwainCapTable table;
  const size_t header = offsetof(TW_ENUMERATION, ItemList);
  auto* e = static_cast<TW_UINT8*>(std::calloc(1, header + 4));
  TW_UINT16 type = TWTY_UINT16;
  TW_UINT32 n = 2;
  std::memcpy(e, &type, 2);
  std::memcpy(e + 2, &n, 4);
  TW_UINT16 items[2] = {TWSX_FILE, TWSX_MEMORY};
  std::memcpy(e + header, items, 4);
  TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ENUMERATION, e};
  TW_UINT16 cc = 0xFFFF;
  EXPECT_EQ(table.Operation(&cap, MSG_SET, &cc), TWRC_SUCCESS);
  ASSERT_NE(Copied(cap.hContainer), e);
  EXPECT_EQ(At<TW_UINT32>(cap.hContainer, 2), 1u);
  EXPECT_EQ(At<TW_UINT32>(cap.hContainer, 6), 0u);
  EXPECT_EQ(At<TW_UINT16>(cap.hContainer, 14), TWSX_NATIVE);
  std::free(cap.hContainer);
  std::free(e);
}

TEST(CapTable, ResetRestoresTheValuesOfAnOpen) {
  CTwainCapTable table;
  TW_ONEVALUE one{TWTY_UINT16, TWSX_MEMORY};
  TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, &one};
  TW_UINT16 cc = 0;
  ASSERT_EQ(table.Operation(&cap, MSG_SET, &cc), TWRC_SUCCESS);
  table.Reset();
  Answer a = Ask(table, ICAP_XFERMECH, MSG_GETCURRENT);
  EXPECT_EQ(At<TW_UINT16>(a.cap.hContainer, 2), TWSX_NATIVE);
  std::free(a.cap.hContainer);
  EXPECT_EQ(table.GetBitsPerPixel(TWPT_RGB), 24);
  EXPECT_EQ(table.GetBitsPerPixel(TWPT_GRAY), 8);
  EXPECT_EQ(table.GetBitsPerPixel(TWPT_BW), 1);
  EXPECT_EQ(table.GetBitsPerPixel(7), 0);
  EXPECT_EQ(table.SupportedCaps().size(), 40u);
  EXPECT_EQ(table.SupportedCaps().front(), CAP_SUPPORTEDCAPS);
}

TEST(CapTable, NullContainerIsABadValue) {
  CTwainCapTable table;
  TW_UINT16 cc = 0;
  EXPECT_EQ(table.Operation(nullptr, MSG_GET, &cc), TWRC_FAILURE);
  EXPECT_EQ(cc, TWCC_BADVALUE);
  TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, nullptr};
  EXPECT_EQ(table.Operation(&cap, MSG_SET, &cc), TWRC_FAILURE);
  EXPECT_EQ(cc, TWCC_BADVALUE);
}

TEST(CapTable, Fix32RoundsToTheNearestStepBothWays) {
  struct Case {
    float value;
    TW_INT16 whole;
    TW_UINT16 frac;
  };
  for (const Case& c : {Case{100.0f, 100, 0}, Case{0.5f, 0, 0x8000}, Case{1.25f, 1, 0x4000}, Case{-1.0f, -1, 0}}) {
    TW_FIX32 f = CTwainCapTable::FloatToFix32(c.value);
    EXPECT_EQ(f.Whole, c.whole) << c.value;
    EXPECT_EQ(f.Frac, c.frac) << c.value;
    EXPECT_FLOAT_EQ(CTwainCapTable::Fix32ToFloat(f), c.value);
  }
}
