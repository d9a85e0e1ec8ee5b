// Reading back what the tracer wrote on a simulated machine's disk.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/trace/trace_file_reader.h"
#include "support/trace/trace_sink.h"

namespace vdtest {

inline std::string ReadHostFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct TraceFileContents {
  bool exists = false;
  bool ok = false;  // parsed to the end without error
  std::string error;
  std::vector<std::string> header;
  std::vector<VDTraceNS::TraceRecord> records;

  std::vector<std::string> Texts(char type) const {
    std::vector<std::string> out;
    for (const auto& r : records)
      if (r.type == type) out.push_back(r.text);
    return out;
  }
  std::string Types() const {
    std::string out;
    for (const auto& r : records) out += r.type;
    return out;
  }
};

inline TraceFileContents ReadTraceFile(const std::filesystem::path& p) {
  struct Collect : VDTraceNS::ITraceFileHandler {
    TraceFileContents* c;
    void OnHeaderLine(std::string_view line) override { c->header.emplace_back(line); }
    void OnRecord(std::uint64_t, std::uint32_t tid, char type, std::string_view text) override {
      c->records.push_back({tid, type, std::string(text)});
    }
  } collect;
  TraceFileContents c;
  collect.c = &c;
  c.exists = std::filesystem::exists(p);
  if (!c.exists) return c;
  const std::string bytes = ReadHostFile(p);
  VDTraceNS::CTraceFileParser parser;
  c.ok = parser.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), collect) &&
         parser.Finish();
  c.error = parser.Error();
  return c;
}

}  // namespace vdtest
