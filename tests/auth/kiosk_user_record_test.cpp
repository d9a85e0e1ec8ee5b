// The kiosk user record decoder alone: every version, and records that are short, long, cut
// or not records at all. Each input is an exact-size heap block, so a read past its end is
// caught by the sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "auth/kiosk_user_record.h"
#include "tests/auth/auth_test_util.h"

namespace {

using authtest::KioskRecord;
using Bytes = std::vector<BYTE>;

// Decodes from a block of exactly the record's size.
std::optional<KioskUserRecord> Decode(const Bytes& bytes) {
  std::unique_ptr<BYTE[]> block(new BYTE[bytes.empty() ? 1 : bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), block.get());
  return DecodeKioskUserRecord(block.get(), bytes.size());
}
Bytes Header(DWORD version, DWORD field) { return KioskRecord(version, field, u"", false); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(KioskUserRecord, EachVersionGivesWhatItCarriesAndBrokenRecordsNothing) {
  const std::wstring kNone = L"<nothing>";
  const Bytes v3 = KioskRecord(3, 3, u"bob");
  const Bytes cut = KioskRecord(3, 3, u"VDSIM-PC\\bob", false);
  const struct {
    const char* what;
    Bytes record;
    std::wstring name;  // kNone: no record
    DWORD format;
  } rows[] = {
      {"version 3", KioskRecord(3, 2, u"vdsim.local\\bob"), L"vdsim.local\\bob", 2},
      // Version 2 carries a presence flag, not a format.
      {"version 2", KioskRecord(2, 0x10, u"bob"), L"bob", 0},
      {"version 1", Header(1, 1), L"", 0},
      {"version 1 with a tail", KioskRecord(1, 1, u"bob"), L"", 0},  // no name is read
      {"version 1 needs nothing more", Header(1, 7), L"", 0},
      {"v1 nobody present", Header(1, 0), kNone, 0},
      {"v2 nobody present", KioskRecord(2, 0, u"bob"), kNone, 0},
      {"v3 no format", KioskRecord(3, 0, u"bob"), kNone, 0},
      {"v2 no name", KioskRecord(2, 1, u""), kNone, 0},
      {"v3 no name", KioskRecord(3, 3, u""), kNone, 0},
      {"v3 header alone", Header(3, 3), kNone, 0},
      {"version 0", KioskRecord(0, 3, u"bob"), kNone, 0},
      {"version 4", KioskRecord(4, 3, u"bob"), kNone, 0},
      {"version 0x100", KioskRecord(0x100, 3, u"bob"), kNone, 0},
      {"version byte-swapped", KioskRecord(0x03000000, 3, u"bob"), kNone, 0},
      {"version ~0", KioskRecord(0xFFFFFFFF, 3, u"bob"), kNone, 0},
      {"no terminator", cut, kNone, 0},
      {"half a terminator", Cat(cut, {0}), kNone, 0},
      {"whole terminator", Cat(cut, {0, 0}), L"VDSIM-PC\\bob", 3},
      {"odd byte at the end", Cat(KioskRecord(2, 1, u"bo", false), {'b'}), kNone, 0},
      {"bytes after the terminator", Cat(v3, {'x', 0, 'y', 0, 0xFF}), L"bob", 3},
      {"accented", KioskRecord(3, 4, u"J\u00FCrgen"), L"J\u00FCrgen", 4},
      {"surrogate pair", KioskRecord(3, 4, u"a\U0001F600b"), L"a\U0001F600b", 4},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const auto got = Decode(r.record);
    EXPECT_EQ(got ? got->accountName : kNone, r.name);
    if (got) {
      EXPECT_EQ(got->nameFormat, r.format);
    }
  }
  // Shorter than the header reads as zeros; no block at all is nothing.
  for (std::size_t n = 0; n < 8; ++n)
    EXPECT_FALSE(Decode(Bytes(v3.begin(), v3.begin() + n))) << n << " bytes";
  EXPECT_FALSE(DecodeKioskUserRecord(nullptr, 16));
}

TEST(KioskUserRecord, LongNamesAreKeptWholeAndALoneSurrogateIsOneCharacter) {
  const std::u16string longName(70000, u'n');  // far past any buffer a reader might size
  auto big = Decode(KioskRecord(3, 3, longName));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->accountName, std::wstring(70000, L'n'));

  auto lone = Decode(KioskRecord(3, 4, std::u16string(u"a") + char16_t(0xD800) + u"b"));
  ASSERT_TRUE(lone);
  if (sizeof(wchar_t) == 4) {
    EXPECT_EQ(lone->accountName, L"a\uFFFDb");
  }
  EXPECT_EQ(lone->accountName.size(), 3u);
}

}  // namespace
