// Writes a few small ".trc3" files as the fuzzer's starting corpus: usage trace_seed_gen DIR.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/tools/trace_file_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trace_seed_gen DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  const auto write = [&](const char* name, const vdtest::TraceFileBuilder& f) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.Bytes().data()),
               static_cast<std::streamsize>(f.Size()));
  };
  vdtest::TraceFileBuilder header;
  header.Header();
  write("header-only.trc3", header);

  vdtest::TraceFileBuilder full;
  full.Line("trace3")
      .Line("Compiled: Mar  2 2026 08:00:00")
      .Line("OS: Windows10")
      .Line("ServicePack: ")
      .Line("Trace Ver: 3.0.1")
      .Line(".")
      .Record(104, 't', "03/02/26")
      .Record(104, 'T', "08:00:00.000")
      .Record(104, '>', "CPolicy::Init")
      .Record(104, 'U', "count=3")
      .Record(108, 'G', "tag")
      .Record(104, 'E', "-2147467259 VDFPInit")
      .Record(104, '<', "CPolicy::Init");
  write("scopes.trc3", full);

  vdtest::TraceFileBuilder continued;
  continued.Header().Record(1, '>', "A").Record(1, 'N', "03-03-2026").Record(1, '<', "A");
  write("continued.trc3", continued);
  return 0;
}
