// vdtrace FILE [--follow]
//
// Prints a trace file's header lines as they are, then one line per record:
//   <date> <time> <thread id> <type> <indentation per open scope of the thread><text>
// --follow keeps reading as the file grows (and starts over when it is recreated).
// Bad input is reported on stderr with its offset; the exit code is then 1 (2 for usage
// and I/O errors).
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "support/trace/trace_file_reader.h"

namespace {

constexpr auto kFollowPoll = std::chrono::milliseconds(250);

int Usage() {
  std::fprintf(stderr, "usage: vdtrace FILE [--follow]\n");
  return 2;
}

void PrintLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

int BadInput(const char* path, const VDTraceNS::CTraceFileParser& parser) {
  std::fflush(stdout);
  std::fprintf(stderr, "vdtrace: %s: offset %llu: %s\n", path,
               static_cast<unsigned long long>(parser.ErrorOffset()), parser.Error().c_str());
  return 1;
}

long long FileSize(std::FILE* f) {
  const long pos = std::ftell(f);
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  std::fseek(f, pos, SEEK_SET);
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  bool follow = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--follow") == 0 || std::strcmp(argv[i], "-f") == 0) {
      follow = true;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      return Usage();
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      return Usage();
    }
  }
  if (path == nullptr) return Usage();

  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "vdtrace: %s: %s\n", path, std::strerror(errno));
    return 2;
  }
  auto formatter = std::make_unique<VDTraceNS::CTraceTextFormatter>(PrintLine);
  auto parser = std::make_unique<VDTraceNS::CTraceFileParser>();
  unsigned long long offset = 0;
  std::uint8_t buf[64 * 1024];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f);
    if (n > 0) {
      offset += n;
      if (!parser->Feed(buf, n, *formatter)) {
        std::fclose(f);
        return BadInput(path, *parser);
      }
      continue;
    }
    if (std::ferror(f)) {
      std::fprintf(stderr, "vdtrace: %s: read error at offset %llu\n", path, offset);
      std::fclose(f);
      return 2;
    }
    if (!follow) break;
    std::fflush(stdout);
    std::this_thread::sleep_for(kFollowPoll);
    std::clearerr(f);
    const long long size = FileSize(f);
    if (size >= 0 && static_cast<unsigned long long>(size) < offset) {
      // A new run recreated the file: read it again from its start.
      std::fprintf(stderr, "vdtrace: %s: file was recreated, reading from its start\n", path);
      std::fseek(f, 0, SEEK_SET);
      offset = 0;
      parser = std::make_unique<VDTraceNS::CTraceFileParser>();
      formatter = std::make_unique<VDTraceNS::CTraceTextFormatter>(PrintLine);
    }
  }
  std::fclose(f);
  if (!parser->Finish()) return BadInput(path, *parser);
  std::fflush(stdout);
  return 0;
}
