// Capturing trace records in memory, for tests: no registry set-up, no files.
//
//   VDTraceNS::CRecordingSink sink;           // records everything from here on
//   RunTheThingUnderTest();
//   EXPECT_TRUE(sink.Contains('E', "-2147467259 VDFPInit"));
//
// A sink receives every record the tracer would have written (including the 't' date and
// 'T' time records when a platform is bound), with the writer's thread id. While a sink is
// installed the trace and log files are not touched. One sink at a time.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace VDTraceNS {

class ISink {
 public:
  virtual ~ISink() = default;
  // Called under the process-wide trace lock: do not trace from here.
  virtual void OnRecord(DWORD threadId, char type, std::string_view text) = 0;
};

enum class SinkMode {
  kRecordAll,       // every scope, message and result, whatever the registry says
  kFollowRegistry,  // what the tracing key selects, as the files would get it
};

// Installs the sink (null removes it and tracing goes back to the files).
void SetSink(ISink* sink, SinkMode mode = SinkMode::kRecordAll);

struct TraceRecord {
  DWORD threadId;
  char type;
  std::string text;
  bool operator==(const TraceRecord&) const = default;
};

// A sink that keeps what it receives; installs itself for its lifetime.
class CRecordingSink final : public ISink {
 public:
  explicit CRecordingSink(SinkMode mode = SinkMode::kRecordAll) { SetSink(this, mode); }
  ~CRecordingSink() override { SetSink(nullptr); }
  CRecordingSink(const CRecordingSink&) = delete;
  CRecordingSink& operator=(const CRecordingSink&) = delete;

  void OnRecord(DWORD threadId, char type, std::string_view text) override {
    std::lock_guard lk(m_mu);
    m_records.push_back({threadId, type, std::string(text)});
  }

  std::vector<TraceRecord> Records() const {
    std::lock_guard lk(m_mu);
    return m_records;
  }
  // The texts of the records of one type, in order.
  std::vector<std::string> Texts(char type) const {
    std::lock_guard lk(m_mu);
    std::vector<std::string> out;
    for (const auto& r : m_records)
      if (r.type == type) out.push_back(r.text);
    return out;
  }
  bool Contains(char type, std::string_view text) const {
    std::lock_guard lk(m_mu);
    for (const auto& r : m_records)
      if (r.type == type && r.text == text) return true;
    return false;
  }
  void Clear() {
    std::lock_guard lk(m_mu);
    m_records.clear();
  }

 private:
  mutable std::mutex m_mu;
  std::vector<TraceRecord> m_records;
};

}  // namespace VDTraceNS
