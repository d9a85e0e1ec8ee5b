// The mailslot inbox, tracing off:
// - decoding one datagram with a 16-byte payload: must stay within 20 ns;
// - a datagram written by another program of the session until the listener has it, on the
//   simulated machine's reader thread: must stay within 100 us of wall time.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_target.h"
#include "ext/mailslot.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"

namespace {

std::vector<BYTE> Datagram(DWORD id, DWORD code, size_t payload) {
  std::vector<BYTE> out;
  for (DWORD v : {id, code})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  out.resize(out.size() + payload, 0x5A);
  return out;
}

void BM_DecodeDatagram(benchmark::State& state) {
  bench::SetTargetNs(state, 20);
  const auto d = Datagram(7, 2, 16);
  for (auto _ : state) {
    auto got = Mailslot::DecodeDatagram(d.data(), d.size());
    benchmark::DoNotOptimize(got);
  }
}
BENCHMARK(BM_DecodeDatagram);

struct CountingListener : Mailslot::Inbox::Events {
  std::atomic<int> got{0};
  void OnInboundMessage(DWORD, const BYTE*, DWORD) override { ++got; }
  void OnInboxStopped() override {}
};

void BM_DatagramToListener(benchmark::State& state) {
  bench::SetTargetNs(state, 100000);
  VDTraceNS::Bind(nullptr);
  sim::Machine machine;
  auto agent = machine.CreateProcess({.sessionId = 1});
  auto sender = machine.CreateProcess({.sessionId = 1});
  CountingListener listener;
  Mailslot::Inbox inbox(agent->Kernel(), agent->Ui(),
                        Mailslot::GetBthMailslotName(agent->Kernel(), agent->Sessions()), nullptr);
  inbox.Notify(&listener);
  machine.RunUntilIdle();
  platform::IKernel& k = sender->Kernel();
  const std::wstring path = L"\\\\.\\mailslot\\" + Mailslot::GetBthMailslotName(
                                                        agent->Kernel(), agent->Sessions());
  HANDLE h = k.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD id = 0;
  for (auto _ : state) {
    const auto d = Datagram(++id, 5, 4);
    DWORD written = 0;
    k.WriteFile(h, d.data(), static_cast<DWORD>(d.size()), &written, nullptr);
    machine.RunUntilIdle();
  }
  if (listener.got != static_cast<int>(id)) state.SkipWithError("a datagram was not delivered");
  k.CloseHandle(h);
  inbox.Notify(nullptr);
}
BENCHMARK(BM_DatagramToListener)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
