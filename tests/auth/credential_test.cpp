// Credential types: their texts, token GUIDs and the card kinds that stand for them.
#include <gtest/gtest.h>

#include <algorithm>

#include "auth/credential.h"
#include "support/guid_string.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

struct TypeRow {
  ULONGLONG bit;
  const wchar_t* text;
  const wchar_t* guid;
};

// The host's registration of each credential type, written out independently of the code.
const TypeRow kTypes[] = {
    {0x1, L"Password", L"{416E8E7A-CC3A-4F3B-8D0B-7023BB2E3DE5}"},
    {0x2, L"Fingerprint", L"{13646B11-6C11-42AD-990F-5737E38F41D8}"},
    {0x4, L"Smartcard", L"{CB566B91-9D0E-44A1-9323-ECBE3FF55C9D}"},
    {0x8, L"SpareKey", L"{1EA3F6F4-2C39-45B3-971F-E7C282D0F13E}"},
    {0x10, L"Face", L"{00000000-0000-0000-0000-000000000000}"},
    {0x20, L"Contactless card", L"{611D9C74-592C-4C9D-AE8F-DBC01083BFB3}"},
    {0x40, L"Recovery password", L"{DE4BABD1-6466-4022-B9C4-02F5D50AF1DA}"},
    {0x80, L"PIN code", L"{EF9CDC90-7A56-480D-AAED-7B5A2DFB9AD1}"},
    {0x100, L"Proximity card", L"{88C9B624-BA20-44CD-9E00-53660D6865AB}"},
    {0x200, L"BlueTooth", L"{B4EF3639-E115-42C2-93FE-31A592D32C89}"},
    {0x400, L"Palm", L"{ADAE9391-E913-4D5D-83BA-CC32911FB636}"},
    {0x800, L"RSA token", L"{9A3AC3B0-13BF-4379-8EAD-2C4D967AD7C9}"},
    {0x1000, L"Virtual Smartcard", L"{5D4862E6-E8EB-4B18-B22A-DB1F5ED82C71}"},
    {0x8000, L"U2F", L"{B55778ED-C62A-48FE-908F-77778D04332D}"},
};

constexpr const wchar_t* kZeroGuid = L"{00000000-0000-0000-0000-000000000000}";

class CredentialTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
};

TEST_F(CredentialTest, EachTypeHasItsTextAndTokenGuid) {
  for (const auto& row : kTypes) {
    SCOPED_TRACE(row.bit);
    EXPECT_STREQ(CCredential::CredentialTypeName(row.bit), row.text);
    EXPECT_EQ(support::GuidToString(CCredential::TokenTypeOf(row.bit)), row.guid);
    const CCredential c(row.bit, 7, -1);
    EXPECT_EQ(support::GuidToString(c.TokenType()), row.guid);
  }
}

TEST_F(CredentialTest, CombinationsUpperBitsAndUnlistedBitsAreUnknownWithoutGuid) {
  for (ULONGLONG v : {0x0ull, 0x3ull, 0x2000ull, 0x4000ull, 0x10000ull, 0x100000000ull,
                      0x2ull | (1ull << 40), 0x8000000000000000ull}) {
    SCOPED_TRACE(v);
    EXPECT_STREQ(CCredential::CredentialTypeName(v), L"Unknown");
    EXPECT_EQ(support::GuidToString(CCredential::TokenTypeOf(v)), kZeroGuid);
  }
}

TEST_F(CredentialTest, ConstructionTracesTheTypeTextAndNoCredentialHasNoToken) {
  VDTraceNS::CRecordingSink sink;
  CCredential finger(VDFP_CRED_FINGERPRINT, 0x10001, -1);
  CCredential both(0x3, 0, 0);
  EXPECT_EQ(sink.Texts('U'), (std::vector<std::string>{"Fingerprint", "Unknown"}));
  EXPECT_EQ(sink.Texts('>').size(), 2u);
  EXPECT_EQ(support::GuidToString(CCredential().TokenType()), kZeroGuid);
}

TEST_F(CredentialTest, CardKindsStandForTheirCredentialTypes) {
  struct {
    DWORD card;
    const wchar_t* text;
    ULONGLONG credential;
  } const rows[] = {{1, L"Smartcard", 0x4}, {2, L"Contactless", 0x20},  {4, L"Proximity", 0x100},
                    {8, L"NFC", 0x20},      {0, L"Unknown", 0},         {3, L"Unknown", 0},
                    {16, L"Unknown", 0},    {0xFFFFFFFF, L"Unknown", 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.card);
    EXPECT_STREQ(CCredential::CardTypeName(r.card), r.text);
    EXPECT_EQ(CCredential::CardTypeToCredential(r.card), r.credential);
  }
}

}  // namespace
