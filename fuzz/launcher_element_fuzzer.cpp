// libFuzzer target for the launcher table's elements: any bytes read as each element either
// give a value or fail with a failure code, and a value read once comes back unchanged after
// writing it and reading it again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ext/crypt_blobs.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/result_error.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Rig {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
};

template <typename Read>
void Guarded(Read&& read) {
  try {
    read();
  } catch (const CResultError& e) {
    Check(FAILED(e.Result()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  sim::CurrentProcessScope scope(rig.process.get());
  platform::IPlatform& plat = *rig.process;
  const CCryptBlob der(data, static_cast<DWORD>(size));

  Guarded([&] {
    const GUID g = CVDGUIDBlob(der).Value(plat);
    Check(CVDGUIDBlob(CVDGUIDBlob(plat, g)).Value(plat) == g);
  });
  Guarded([&] {
    const std::wstring text = CVDWStrBlob(der).Value(plat);
    Check(CVDWStrBlob(CVDWStrBlob(plat, text)).Value(plat) == text);
  });
  Guarded([&] {
    const BYTE key = CVDULongBlob(der).Key(plat);
    Check(CVDULongBlob(CVDULongBlob(plat, key)).Key(plat) == key);
  });
  Guarded([&] {
    const LONG n = CVDIntBlob(der).Value(plat);
    Check(CVDIntBlob(CVDIntBlob(plat, n)).Value(plat) == n);
  });
  Guarded([&] {
    CVDSequenceBlob seq = CVDSequenceBlob::Decode(plat, der);
    CVDSequenceBlob back = CVDSequenceBlob::Decode(plat, seq.Encode(plat));
    Check(back.Count() == seq.Count());
    for (size_t i = 0; i < seq.Count(); ++i) Check(back.Next().Bytes() == seq.Next().Bytes());
  });
  return 0;
}
