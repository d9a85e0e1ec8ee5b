// vdtrace over a run of 10000 records (scopes three deep, messages, some failures), per run:
// - the text lines through the reader's own formatter, for scale;
// - the same lines through vdtrace's run model: must stay within 10 ms (1 us a record);
// - the summary and the lock audit: each within 10 ms.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_target.h"
#include "support/trace/trace_cipher.h"
#include "support/trace/trace_file_reader.h"
#include "support/trace/trace_format.h"
#include "tools/vdtrace/lock_audit.h"
#include "tools/vdtrace/trace_filter.h"
#include "tools/vdtrace/trace_run.h"
#include "tools/vdtrace/trace_summary.h"

namespace {

constexpr int kRecords = 10000;

std::vector<std::uint8_t> Run() {
  const std::string header = "trace3\r\nTrace Ver: 3.0.1\r\n.\r\n";
  std::vector<std::uint8_t> out(header.begin(), header.end());
  VDTraceNS::CKeyStream keys;
  auto add = [&](std::uint32_t tid, char type, const std::string& text) {
    std::vector<std::uint8_t> rec(VDTraceNS::kRecordHeaderSize + text.size());
    rec.resize(VDTraceNS::EncodeRecord(rec.data(), tid, type, text));
    keys.Apply(rec.data(), rec.size());
    out.insert(out.end(), rec.begin(), rec.end());
  };
  add(100, 't', "03/02/26");
  for (int i = 0; i < kRecords / 10; ++i) {
    char time[16];
    std::snprintf(time, sizeof time, "08:%02d:%02d.%03d", i / 60000 % 60, i / 1000 % 60, i % 1000);
    add(100, 'T', time);
    add(100, '>', "CVdAgentMain::OnInboundMessage");
    add(100, '>', "CPolicyHandler<class CVdAgentMain>::FetchUserPolicy");
    add(100, 'U', "User 'VDSIM-PC\\alice' (SAM), SID=S-1-5-21-3623811015-3361044348-30300820-1001");
    add(100, '>', "CPolicy::Init");
    add(100, 'U', i % 7 ? "Lock workstation..." : "DllRegisterServer result = 0x80004005");
    add(100, 'E', "-2147024776 LockWorkStation");
    add(100, '<', "CPolicy::Init");
    add(100, '<', "CPolicyHandler<class CVdAgentMain>::FetchUserPolicy");
    add(100, '<', "CVdAgentMain::OnInboundMessage");
  }
  return out;
}

template <typename Handler>
void Parse(const std::vector<std::uint8_t>& bytes, Handler& handler) {
  VDTraceNS::CTraceFileParser parser;
  parser.Feed(bytes.data(), bytes.size(), handler);
  parser.Finish();
}

void BM_TextByTheReadersFormatter(benchmark::State& state) {
  const auto bytes = Run();
  std::size_t chars = 0;
  for (auto _ : state) {
    VDTraceNS::CTraceTextFormatter fmt([&](std::string_view l) { chars += l.size(); });
    Parse(bytes, fmt);
  }
  benchmark::DoNotOptimize(chars);
}
BENCHMARK(BM_TextByTheReadersFormatter)->Unit(benchmark::kMillisecond);

void BM_TextByTheRunModel(benchmark::State& state) {
  bench::SetTargetNs(state, 10e6);
  const auto bytes = Run();
  std::size_t chars = 0;
  for (auto _ : state) {
    vdtrace::CFilteredPrinter printer({}, [&](std::string_view l) { chars += l.size(); });
    vdtrace::CRunModel model([&](const vdtrace::TraceEvent& e) { printer.OnEvent(e); });
    Parse(bytes, model);
  }
  benchmark::DoNotOptimize(chars);
}
BENCHMARK(BM_TextByTheRunModel)->Unit(benchmark::kMillisecond);

void BM_Summary(benchmark::State& state) {
  bench::SetTargetNs(state, 10e6);
  const auto bytes = Run();
  for (auto _ : state) {
    vdtrace::CTraceSummary summary;
    vdtrace::CRunModel model([&](const vdtrace::TraceEvent& e) { summary.OnEvent(e); });
    Parse(bytes, model);
    benchmark::DoNotOptimize(summary.Scopes().size());
  }
}
BENCHMARK(BM_Summary)->Unit(benchmark::kMillisecond);

void BM_LockAudit(benchmark::State& state) {
  bench::SetTargetNs(state, 10e6);
  const auto bytes = Run();
  for (auto _ : state) {
    vdtrace::CLockAudit audit;
    vdtrace::CRunModel model([&](const vdtrace::TraceEvent& e) { audit.OnEvent(e); });
    Parse(bytes, model);
    benchmark::DoNotOptimize(audit.Entries().size());
  }
}
BENCHMARK(BM_LockAudit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
