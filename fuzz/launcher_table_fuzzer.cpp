// libFuzzer target for the launcher table's decoder, on the simulated machine's codec: any
// bytes load as a table or fail with a failure code (no other exception, no read outside the
// input), and a table that loads writes back to bytes that load to the same table.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ext/launchers.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  sim::CurrentProcessScope scope(rig.process.get());
  platform::IPlatform& plat = *rig.process;
  // An exact copy, so ASan sees any read past the input.
  CCryptBlob table(data, static_cast<DWORD>(size));
  CLauncherContainer loaded(plat);
  try {
    loaded.Unserialize(table);
  } catch (const CResultError& e) {
    Check(FAILED(e.Result()));
    Check(loaded.Empty());
    return 0;
  }
  const CCryptBlob written = loaded.Serialize();
  CLauncherContainer again(plat);
  again.Unserialize(written);  // raises nothing: what we write, we read
  Check(again.Serialize().Bytes() == written.Bytes());
  return 0;
}
