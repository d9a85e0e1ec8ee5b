// libFuzzer target for the card handler's logic: any stream of library events (known and
// unknown codes, named and unnamed readers), cards coming and going in the library, failed
// card reads, session changes and time passing must leave the logic consistent: no crash,
// every description string freed, readers only ever the ones named, no tap or removal for a
// card the reader never reported, and nothing pending once disposed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "auth/card_logic.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_com.h"
#include "support/trace/trace.h"
#include "tests/auth/fake_card_host.h"
#include "tests/auth/fake_vdsc_library.h"

namespace {

const std::wstring kReaders[] = {L"Reader A", L"Reader B", L"\u00c9tiquette NFC"};
constexpr std::size_t kReaderCount = sizeof(kReaders) / sizeof(kReaders[0]);

void Check(bool ok) {
  if (!ok) std::abort();
}

// One machine for the whole run: building one per input would leave no time to fuzz.
struct Rig {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{process.get()};
  authtest::FakeVdscLibrary lib{machine};
  Rig() { VDTraceNS::Bind(nullptr); }
};

bool Known(const std::wstring& reader) {
  for (const auto& r : kReaders)
    if (r == reader) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Rig rig;
  authtest::FakeVdscLibrary::S() = {};
  const long strings = sim::ProcessCom::LiveStrings();
  {
    authtest::FakeCardHost host(rig.machine);
    CCardLogic logic(*rig.process, host);
    logic.OnReady();
    for (std::size_t i = 0; i + 2 < size; i += 3) {
      const std::uint8_t op = data[i], a = data[i + 1], b = data[i + 2];
      const std::size_t r = a % (kReaderCount + 1);  // the last: no reader name
      const LPARAM name = r < kReaderCount ? authtest::FakeVdscLibrary::Name(kReaders[r]) : 0;
      switch (op % 8) {
        case 0:  // an event, any code
          logic.OnCardMessage(b % 8, name);
          break;
        case 1:  // a card in the library's reader, of any type
          if (r < kReaderCount) rig.lib.Insert(kReaders[r], CCardRecord{b % 16u, b / 16u, 0, 0});
          logic.OnCardMessage(VDSC_EVENT_CARD_INSERTED, name);
          break;
        case 2:
          if (r < kReaderCount) rig.lib.Remove(kReaders[r]);
          logic.OnCardMessage(VDSC_EVENT_CARD_REMOVED, name);
          break;
        case 3:
          logic.OnCardMessage(VDSC_EVENT_CARD_READY, name);
          break;
        case 4:
          host.Advance(static_cast<ULONGLONG>(b) * 16);
          break;
        case 5:
          logic.OnSessionChange(b % 10);
          break;
        case 6:
          authtest::FakeVdscLibrary::S().cardInfoResult = (b & 1) ? E_FAIL : S_OK;
          authtest::FakeVdscLibrary::S().describe = (b & 2) != 0;
          host.canStart = (b & 4) == 0;
          break;
        default:
          logic.OnCardMessage(VDSC_EVENT_READER_CONNECTED + (b % 2), name);
          break;
      }
      for (const auto& [reader, card] : logic.Readers()) Check(Known(reader));
    }
    host.Advance(2000);
    // Every tap reported names a reader and a card.
    for (const auto& t : host.ready) Check(Known(t.reader) && t.record.cardType != 0);
    logic.Dispose();
    Check(host.Scheduled() == 0);
    Check(logic.Readers().empty());
    Check(!logic.Library().IsLoaded());
  }
  Check(sim::ProcessCom::LiveStrings() == strings);
  return 0;
}
