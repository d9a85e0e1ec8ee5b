// The launcher table's DER elements on the simulated machine: what they write, byte for byte,
// and how they read what others wrote, including the table's own rules on top of DER.
#include "ext/crypt_blobs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ext/launcher_impl.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/ext/launcher_test_util.h"

namespace {

using namespace launcher_test;

class CryptBlobsTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(proc.get()); }
  void TearDown() override { VDTraceNS::Bind(nullptr); }

  // The error a read raises, or S_OK when it raises none.
  template <typename Read>
  HRESULT Raised(Read&& read) {
    try {
      read();
    } catch (const CResultError& e) {
      return e.Result();
    }
    return S_OK;
  }
  // The error reading a value of `Blob` from these bytes raises.
  template <typename Blob>
  HRESULT ValueError(const Bytes& b) {
    return Raised([&] { Blob(CCryptBlob(b)).Value(plat); });
  }
  HRESULT SequenceError(const Bytes& b) {
    return Raised([&] { CVDSequenceBlob::Decode(plat, CCryptBlob(b)); });
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  sim::CurrentProcessScope scope{proc.get()};
  platform::IPlatform& plat = *proc;
};

TEST_F(CryptBlobsTest, ElementsAreWrittenAsTheStoredFormatWantsThem) {
  EXPECT_EQ(CVDGUIDBlob(plat, kAppLauncherType).Bytes(), kAppType);
  EXPECT_EQ(CVDGUIDBlob(plat, kWebLinkLauncherType).Bytes(), kWebLinkType);
  EXPECT_EQ(CVDGUIDBlob(plat, kPwdManagerLauncherType).Bytes(), kPwdType);
  EXPECT_EQ(CVDWStrBlob(plat, L"Hi").Bytes(), (Bytes{0x1E, 0x04, 0x00, 0x48, 0x00, 0x69}));
  EXPECT_EQ(CVDWStrBlob(plat, L"").Bytes(), (Bytes{0x1E, 0x00}));
  EXPECT_EQ(CVDULongBlob(plat, 5).Bytes(), (Bytes{0x02, 0x01, 0x05}));
  EXPECT_EQ(CVDULongBlob(plat, 200).Bytes(), (Bytes{0x02, 0x02, 0x00, 0xC8}));
  EXPECT_EQ(CVDIntBlob(plat, -1).Bytes(), (Bytes{0x02, 0x01, 0xFF}));
  EXPECT_EQ(CVDIntBlob(plat, 256).Bytes(), (Bytes{0x02, 0x02, 0x01, 0x00}));
  EXPECT_EQ(CVDIntBlob(plat, 0x7FFFFFFF).Bytes(), (Bytes{0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(CVDIntBlob(plat, -129).Bytes(), (Bytes{0x02, 0x02, 0xFF, 0x7F}));

  CVDSequenceBlob record;
  CAppLauncher(plat, L"a").Serialize(record);
  EXPECT_EQ(record.Encode(plat).Bytes(), AppRecord(L"a"));
  EXPECT_EQ(CVDSequenceBlob().Encode(plat).Bytes(), (Bytes{0x30, 0x00}));
}

TEST_F(CryptBlobsTest, ValuesComeBackAsTheyWereWritten) {
  const GUID g = {0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
  EXPECT_TRUE(CVDGUIDBlob(CVDGUIDBlob(plat, g)).Value(plat) == g);
  for (LONG n : {0L, 1L, -1L, 127L, 128L, -128L, -129L, 65535L, 0x7FFFFFFFL, -0x7FFFFFFFL - 1})
    EXPECT_EQ(CVDIntBlob(CVDIntBlob(plat, n)).Value(plat), n) << n;
  for (ULONG k : {1u, 127u, 128u, 255u})
    EXPECT_EQ(CVDULongBlob(CVDULongBlob(plat, k)).Key(plat), k) << k;
  const std::wstring text = L"C:\\Program Files\\\u00e9t\u00e9\\x.exe";
  EXPECT_EQ(CVDWStrBlob(CVDWStrBlob(plat, text)).Value(plat), text);
  // Values too large for the small decode buffer take the second, larger one.
  const std::wstring path(600, L'p');
  EXPECT_EQ(CVDWStrBlob(CVDWStrBlob(plat, path)).Value(plat), path);
  CVDSequenceBlob many;
  for (ULONG k = 0; k < 100; ++k) many.Append(CVDULongBlob(plat, k));
  CVDSequenceBlob back = CVDSequenceBlob::Decode(plat, many.Encode(plat));
  ASSERT_EQ(back.Count(), 100u);
  for (ULONG k = 0; k < 100; ++k) EXPECT_EQ(CVDULongBlob(back.Next()).Key(plat), k);
}

TEST_F(CryptBlobsTest, AKeyOfAnyWidthButOneByteReadsAsZero) {
  EXPECT_EQ(CVDULongBlob(CCryptBlob(Bytes{0x02, 0x01, 0x00})).Key(plat), 0);  // no bytes left
  EXPECT_EQ(CVDULongBlob(CCryptBlob(Bytes{0x02, 0x00})).Key(plat), 0);
  EXPECT_EQ(CVDULongBlob(CCryptBlob(Bytes{0x02, 0x02, 0x01, 0x00})).Key(plat), 0);  // 256
  EXPECT_EQ(CVDULongBlob(CCryptBlob(Bytes{0x02, 0x02, 0x00, 0x07})).Key(plat), 7);  // not minimal
  EXPECT_EQ(CVDULongBlob(CCryptBlob(Bytes{0x02, 0x01, 0x80})).Key(plat), 0x80);     // read unsigned
}

TEST_F(CryptBlobsTest, TextOfAnyStringTypeIsRead) {
  EXPECT_EQ(CVDWStrBlob(CCryptBlob(Bytes{0x16, 0x03, 'a', 'b', 'c'})).Value(plat), L"abc");  // IA5
  EXPECT_EQ(CVDWStrBlob(CCryptBlob(Bytes{0x13, 0x02, 'A', '1'})).Value(plat), L"A1");  // printable
  EXPECT_EQ(CVDWStrBlob(CCryptBlob(Bytes{0x0C, 0x02, 0xC3, 0xA9})).Value(plat),
            L"\u00e9");  // UTF-8
  // Eight-bit strings keep each byte as one character.
  EXPECT_EQ(CVDWStrBlob(CCryptBlob(Bytes{0x14, 0x01, 0xE9})).Value(plat), L"\u00e9");  // teletex
}

TEST_F(CryptBlobsTest, ElementsThatBreakTheTableRulesAreDecodeErrors) {
  Bytes guid15 = kAppType;
  guid15.pop_back();
  guid15[1] = 15;
  EXPECT_EQ(ValueError<CVDGUIDBlob>(guid15), CRYPT_E_ASN1_CORRUPT);
  EXPECT_EQ(ValueError<CVDGUIDBlob>({0x04, 0x00}), CRYPT_E_ASN1_CORRUPT);
  EXPECT_EQ(ValueError<CVDIntBlob>({0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}), CRYPT_E_ASN1_LARGE);
  EXPECT_EQ(ValueError<CVDWStrBlob>({0x04, 0x01, 'a'}),
            CRYPT_E_ASN1_CORRUPT);  // an octet string is no text
  CVDSequenceBlob two = CVDSequenceBlob::Decode(plat, CCryptBlob(Seq({Key(1), Key(2)})));
  EXPECT_EQ(two.Count(), 2u);
  two.Next();
  two.Next();
  EXPECT_EQ(Raised([&] { two.Next(); }), CRYPT_E_ASN1_EOD);
  two.Reset();
  EXPECT_EQ(CVDULongBlob(two.Next()).Key(plat), 1);
  EXPECT_TRUE(sink.Contains('E', std::to_string(CRYPT_E_ASN1_EOD) + " Decode error"));
}

TEST_F(CryptBlobsTest, MalformedDerFailsWithTheCodecsErrorAndNeverReadsPastTheBlob) {
  EXPECT_EQ(ValueError<CVDGUIDBlob>(Text(L"x")), CRYPT_E_ASN1_BADTAG);
  EXPECT_EQ(ValueError<CVDIntBlob>({0x04, 0x01, 0x01}), CRYPT_E_ASN1_BADTAG);
  EXPECT_EQ(ValueError<CVDWStrBlob>({0x1E, 0x04, 0x00, 0x48}), CRYPT_E_ASN1_EOD);
  EXPECT_EQ(SequenceError({0x30}), CRYPT_E_ASN1_CORRUPT);
  EXPECT_EQ(SequenceError({}), CRYPT_E_ASN1_CORRUPT);
  // An element that runs past its sequence, though not past the input.
  EXPECT_EQ(SequenceError({0x30, 0x03, 0x02, 0x02, 0x01, 0x01}), CRYPT_E_ASN1_EOD);
  // The blob is all there is: a copy with no slack behind it.
  auto exact = std::make_unique<BYTE[]>(3);
  exact[0] = 0x30, exact[1] = 0x05, exact[2] = 0x02;
  EXPECT_EQ(Raised([&] { CVDSequenceBlob::Decode(plat, CCryptBlob(exact.get(), 3)); }),
            CRYPT_E_ASN1_EOD);
}

}  // namespace
