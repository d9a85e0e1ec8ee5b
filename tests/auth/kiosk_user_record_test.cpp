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

namespace {

std::vector<BYTE> Header(DWORD version, DWORD field) {
  std::vector<BYTE> r;
  for (DWORD v : {version, field})
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<BYTE>(v >> (8 * i)));
  return r;
}

void AppendUtf16(std::vector<BYTE>& r, const std::u16string& s, bool terminate = true) {
  for (char16_t c : s) {
    r.push_back(static_cast<BYTE>(c));
    r.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminate) r.insert(r.end(), {0, 0});
}

std::vector<BYTE> Record(DWORD version, DWORD field, const std::u16string& name) {
  auto r = Header(version, field);
  AppendUtf16(r, name);
  return r;
}

// Decodes from a block of exactly the record's size.
std::optional<KioskUserRecord> Decode(const std::vector<BYTE>& bytes) {
  std::unique_ptr<BYTE[]> block(new BYTE[bytes.empty() ? 1 : bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), block.get());
  return DecodeKioskUserRecord(block.get(), bytes.size());
}

TEST(KioskUserRecord, EachVersionGivesWhatItCarries) {
  auto v3 = Decode(Record(3, 2, u"vdsim.local\\bob"));
  ASSERT_TRUE(v3);
  EXPECT_EQ(v3->accountName, L"vdsim.local\\bob");
  EXPECT_EQ(v3->nameFormat, 2u);

  auto v2 = Decode(Record(2, 0x10, u"bob"));
  ASSERT_TRUE(v2);
  EXPECT_EQ(v2->accountName, L"bob");
  EXPECT_EQ(v2->nameFormat, 0u) << "version 2 carries a presence flag, not a format";

  auto v1 = Decode(Header(1, 1));
  ASSERT_TRUE(v1);
  EXPECT_EQ(v1->accountName, L"");
  EXPECT_EQ(v1->nameFormat, 0u);
  // Version 1 has no name: whatever follows the header is not read as one.
  auto v1WithTail = Decode(Record(1, 1, u"bob"));
  ASSERT_TRUE(v1WithTail);
  EXPECT_EQ(v1WithTail->accountName, L"");
}

TEST(KioskUserRecord, NobodyPresentNoFormatNoNameOrAnUnknownVersionGiveNothing) {
  EXPECT_FALSE(Decode(Header(1, 0)));
  EXPECT_FALSE(Decode(Record(2, 0, u"bob")));
  EXPECT_FALSE(Decode(Record(3, 0, u"bob")));
  EXPECT_FALSE(Decode(Record(2, 1, u"")));
  EXPECT_FALSE(Decode(Record(3, 3, u"")));
  for (DWORD version : {0u, 4u, 0x100u, 0x03000000u, 0xFFFFFFFFu})
    EXPECT_FALSE(Decode(Record(version, 3, u"bob"))) << version;
}

TEST(KioskUserRecord, ShorterThanTheHeaderReadsAsZeros) {
  const std::vector<BYTE> v3 = Record(3, 3, u"bob");
  for (std::size_t n = 0; n < 8; ++n)
    EXPECT_FALSE(Decode(std::vector<BYTE>(v3.begin(), v3.begin() + n))) << n << " bytes";
  EXPECT_FALSE(DecodeKioskUserRecord(nullptr, 16));
  EXPECT_FALSE(Decode(Header(3, 3))) << "a header alone has no name";
  EXPECT_TRUE(Decode(Header(1, 7))) << "version 1 needs nothing more";
}

TEST(KioskUserRecord, ANameCutBeforeItsTerminatorIsNoName) {
  auto r = Header(3, 3);
  AppendUtf16(r, u"VDSIM-PC\\bob", false);
  EXPECT_FALSE(Decode(r));
  r.push_back(0);  // half a terminator
  EXPECT_FALSE(Decode(r));
  r.push_back(0);
  EXPECT_TRUE(Decode(r));
  auto odd = Header(2, 1);
  AppendUtf16(odd, u"bo", false);
  odd.push_back('b');  // an odd byte where the terminator should start
  EXPECT_FALSE(Decode(odd));
}

TEST(KioskUserRecord, BytesAfterTheTerminatorAreIgnoredAndLongNamesKeptWhole) {
  auto r = Record(3, 3, u"bob");
  r.insert(r.end(), {'x', 0, 'y', 0, 0xFF});
  auto withTail = Decode(r);
  ASSERT_TRUE(withTail);
  EXPECT_EQ(withTail->accountName, L"bob");

  const std::u16string longName(70000, u'n');  // far past any buffer a reader might size
  auto big = Decode(Record(3, 3, longName));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->accountName, std::wstring(70000, L'n'));
}

TEST(KioskUserRecord, NamesAreUtf16WhateverTheSizeOfWchar) {
  auto accented = Decode(Record(3, 4, u"J\u00FCrgen"));
  ASSERT_TRUE(accented);
  EXPECT_EQ(accented->accountName, L"J\u00FCrgen");

  auto pair = Decode(Record(3, 4, u"a\U0001F600b"));
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->accountName, L"a\U0001F600b");

  auto lone = Decode(Record(3, 4, std::u16string(u"a") + char16_t(0xD800) + u"b"));
  ASSERT_TRUE(lone);
  if (sizeof(wchar_t) == 4) {
    EXPECT_EQ(lone->accountName, L"a\uFFFDb");
  }
  EXPECT_EQ(lone->accountName.size(), 3u);
}

}  // namespace
