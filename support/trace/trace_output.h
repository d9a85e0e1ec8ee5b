// Where trace records go: the enciphered ".trc3" file, the plain UTF-16 ".log" file, or
// nowhere. Each output is created at the first record that needs it and lives until tracing
// is unbound; all calls come in under the process-wide trace lock.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/handles.h"
#include "platform/platform.h"
#include "support/trace/trace_cipher.h"
#include "support/trace/trace_config.h"

namespace VDTraceNS {

class COutput {
 public:
  // Destroying an output closes what it holds.
  virtual ~COutput() = default;
  // One whole record (trace_format.h), plain.
  virtual void Write(const BYTE* record, std::size_t length) = 0;
};

class CNoOutput final : public COutput {
 public:
  void Write(const BYTE*, std::size_t) override {}
};

// The ".trc3" file: a plain header when the file is new, then one enciphered block per record.
class CFileOutput final : public COutput {
 public:
  // newFileAlways: recreate the file, unless another live process of the session writes it
  // (the running agent, when this is a command process or a refused second instance);
  // otherwise an existing file is continued after an 'N' record. A file that cannot be
  // opened leaves an output whose writes do nothing.
  CFileOutput(platform::IPlatform& plat, const std::wstring& path, bool newFileAlways);
  void Write(const BYTE* record, std::size_t length) override;
  bool IsOpen() const { return static_cast<bool>(m_file); }

  // How long a newcomer waits for the process that creates the file to write its header;
  // after that it goes on without (the file is continued all the same).
  static constexpr DWORD kStartWaitMs = 5000;

 private:
  void Start(platform::IPlatform& plat, const std::wstring& path, bool recreate);
  void WriteBlock(const BYTE* record, std::size_t length);

  platform::IKernel& m_kernel;
  // Declared before the file, so the file is closed before others may recreate it.
  platform::UniqueHandle m_writers;
  platform::UniqueFile m_file;
  CKeyStream m_keys;
};

// The name of the mutex that the writers of one trace file hold (session namespace).
std::wstring TraceFileMutexName(std::wstring_view path);

// The ".log" file: UTF-16LE lines for messages and results, each stamped with the time of the
// last 'T' record.
class CLogFileOutput final : public COutput {
 public:
  CLogFileOutput(platform::IKernel& kernel, const std::wstring& path);
  void Write(const BYTE* record, std::size_t length) override;
  bool IsOpen() const { return static_cast<bool>(m_file); }

 private:
  platform::IKernel& m_kernel;
  platform::UniqueFile m_file;
  std::string m_time;  // text of the last 'T' record, at most 24 bytes
};

// The plain header of a new trace file, every line ending in CR LF, the last one ".".
std::string BuildTraceHeader(platform::IPlatform& plat, const ModuleNames& exe);
// "OS: Windows10", ... for the version the platform reports.
std::string OsLine(const OSVERSIONINFOEXW& v);

// Header lines are cut to this many bytes (CR LF included), log lines to this many characters.
inline constexpr std::size_t kMaxHeaderLine = 360;
inline constexpr std::size_t kMaxLogLine = 400;
inline constexpr std::size_t kMaxTimeText = 24;

}  // namespace VDTraceNS
