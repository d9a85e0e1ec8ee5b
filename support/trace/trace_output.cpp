#include "support/trace/trace_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <iterator>
#include <memory>
#include <vector>

#include "support/trace/trace_format.h"
#include "support/trace/trace_text.h"

namespace VDTraceNS {

namespace {

void AddLine(std::string& header, std::string line) {
  line = std::string(CutUtf8(line, kMaxHeaderLine - 2));
  header += line;
  header += "\r\n";
}

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
  char buf[kMaxHeaderLine];
  const int n = std::snprintf(buf, sizeof buf, fmt, args...);
  return n < 0 ? std::string() : std::string(buf);
}

std::string DateTimeText(const SYSTEMTIME& t) {
  return Format("%02u/%02u/%04u %02u:%02u:%02u.%03u", t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
}

void AddProductLines(platform::IRegistry& reg, std::string& header) {
  platform::UniqueHKey products(reg);
  bool any = false;
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Products", 0, KEY_READ,
                        products.put()) == ERROR_SUCCESS) {
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      if (reg.RegEnumKeyExW(products.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      any = true;
      const std::string product = WideToUtf8(std::wstring_view(name, len));
      platform::UniqueHKey sub(reg);
      const LSTATUS open = reg.RegOpenKeyExW(products.get(), name, 0, KEY_READ, sub.put());
      if (open != ERROR_SUCCESS) {
        AddLine(header,
                Format("Product: %s ERROR(0x%X)", product.c_str(), static_cast<unsigned>(open)));
        continue;
      }
      WCHAR version[128] = {};
      DWORD type = 0;
      DWORD size = sizeof version - sizeof(WCHAR);  // room for a terminator of our own
      LSTATUS st = reg.RegQueryValueExW(sub.get(), L"Version", nullptr, &type,
                                        reinterpret_cast<BYTE*>(version), &size);
      if (st == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) st = ERROR_INVALID_DATA;
      if (st != ERROR_SUCCESS) {
        AddLine(header, Format("Product: %s; Version: ERROR(0x%X)", product.c_str(),
                               static_cast<unsigned>(st)));
        continue;
      }
      version[size / sizeof(WCHAR)] = 0;
      AddLine(header,
              Format("Product: %s; Version: %s", product.c_str(), WideToUtf8(version).c_str()));
    }
  }
  if (!any) AddLine(header, "No Printvue products found");
}

bool NetworkInstallation(platform::IRegistry& reg) {
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Veridane\\Lumera", 0, KEY_READ,
                        key.put()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  return reg.RegQueryValueExW(key.get(), L"NetworkSupport", nullptr, &type,
                              reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && value != 0;
}

bool WriteAll(platform::IKernel& kernel, HANDLE file, const void* data, std::size_t n) {
  DWORD written = 0;
  return kernel.WriteFile(file, data, static_cast<DWORD>(n), &written, nullptr) && written == n;
}

LONGLONG FileSize(platform::IKernel& kernel, HANDLE file) {
  LARGE_INTEGER size{};
  return kernel.GetFileSizeEx(file, &size) ? size.QuadPart : 0;
}

void SeekToEnd(platform::IKernel& kernel, HANDLE file) {
  LARGE_INTEGER zero{};
  kernel.SetFilePointerEx(file, zero, nullptr, FILE_END);
}

}  // namespace

std::string OsLine(const OSVERSIONINFOEXW& v) {
  const bool server = v.wProductType != VER_NT_WORKSTATION;
  const auto is = [&](DWORD major, DWORD minor) {
    return v.dwMajorVersion == major && v.dwMinorVersion == minor;
  };
  const auto atLeast = [&](DWORD major, DWORD minor) {
    return v.dwMajorVersion > major || (v.dwMajorVersion == major && v.dwMinorVersion >= minor);
  };
  // The first line that applies, in this order; only 10.0 and the servers from 6.2 and from
  // 6.0 are ranges. So a 6.1 server is "Windows7", and a version between two named ones (a
  // 6.3 or 5.2 workstation) is "UNKNOWN" rather than the release before it.
  if (atLeast(10, 0)) return "OS: Windows10";
  if (server && atLeast(6, 2)) return "OS: Server2012";
  if (is(6, 2)) return "OS: Windows8";
  if (is(6, 1)) return "OS: Windows7";
  if (server && atLeast(6, 0)) return "OS: Server2008";
  if (is(6, 0)) return "OS: WindowsVista";
  if (is(5, 1)) return "OS: WindowsXP";
  if (server && is(5, 2)) return "OS: Server2003";
  if (is(5, 0)) return "OS: Windows2000";
  return Format("OS: UNKNOWN OS(Major:%u Minor:%u)", static_cast<unsigned>(v.dwMajorVersion),
                static_cast<unsigned>(v.dwMinorVersion));
}

std::string BuildTraceHeader(platform::IPlatform& plat, const ModuleNames& exe) {
  platform::IKernel& kernel = plat.Kernel();
  std::string h;
  AddLine(h, std::string(kFileMagic));
  AddLine(h, Format("Compiled: %s %s", __DATE__, __TIME__));
  AddLine(h, Format("File location: %s", WideToUtf8(exe.path).c_str()));

  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (kernel.GetVersionExW(&v)) {
    AddLine(h, OsLine(v));
  } else {
    AddLine(h, OsLine(OSVERSIONINFOEXW{}));
  }
  v.szCSDVersion[std::size(v.szCSDVersion) - 1] = 0;
  AddLine(h, "ServicePack: " + WideToUtf8(v.szCSDVersion));

  WCHAR computer[256] = {};
  DWORD computerLen = 256;
  if (!kernel.GetComputerNameW(computer, &computerLen)) computerLen = 0;
  AddLine(h, "Machine name: " + WideToUtf8(std::wstring_view(computer, computerLen)));
  AddLine(h, "Trace Ver: " + std::string(kTraceVersion));

  WORD parts[4] = {};
  if (kernel.GetFileVersion(exe.path.c_str(), parts)) {
    AddLine(h, Format("FileVersion: %u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]));
  } else {
    AddLine(h, "FileVersion: UNKNOWN");
  }
  AddProductLines(plat.Registry(), h);
  AddLine(h,
          NetworkInstallation(plat.Registry()) ? "installation: NETWORK" : "installation: LOCAL");
  SYSTEMTIME now{};
  kernel.GetLocalTime(&now);
  AddLine(h, DateTimeText(now));
  AddLine(h, std::string(kHeaderEnd));
  return h;
}

std::wstring TraceFileMutexName(std::wstring_view path) {
  // FNV-1a over the path without regard to case: a file name may be longer than an object
  // name can be, and backslashes are not allowed in one.
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : path) {
    hash ^= static_cast<std::uint64_t>(std::towupper(static_cast<wint_t>(c)));
    hash *= 1099511628211ull;
  }
  std::wstring name = L"VdAgent trace file 0000000000000000";
  for (auto it = name.rbegin(); hash != 0; ++it, hash >>= 4) *it = L"0123456789ABCDEF"[hash & 0xF];
  return name;
}

CFileOutput::CFileOutput(platform::IPlatform& plat, const std::wstring& path, bool newFileAlways)
    : m_kernel(plat.Kernel()), m_writers(plat.Kernel()), m_file(plat.Kernel()) {
  // Every process of the session that writes this file holds a named mutex made for it, for
  // as long as its output lives. The name outlives no holder: Windows and the simulated
  // machine drop it with the last handle, also of a process that died. So a process that
  // finds the mutex there continues the file ('N'); only the first one recreates it.
  // Share modes cannot tell this: the file is opened sharing reading and writing so that
  // the viewer and the other writers can open it at all. The creator owns the mutex until
  // its header is written, so a newcomer never continues a file that is about to be
  // truncated under it.
  m_writers.reset(m_kernel.CreateMutexW(nullptr, TRUE, TraceFileMutexName(path).c_str()));
  // Without the mutex nobody can tell: keep what is there rather than risk another's records.
  const bool othersWrite = !m_writers || m_kernel.GetLastError() == ERROR_ALREADY_EXISTS;
  bool owned = m_writers && !othersWrite;
  if (m_writers && othersWrite) {
    const DWORD waited = m_kernel.WaitForSingleObject(m_writers.get(), kStartWaitMs);
    owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  Start(plat, path, newFileAlways && !othersWrite);
  if (owned) m_kernel.ReleaseMutex(m_writers.get());
}

void CFileOutput::Start(platform::IPlatform& plat, const std::wstring& path, bool recreate) {
  m_file.reset(m_kernel.CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, recreate ? CREATE_ALWAYS : OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!m_file) return;
  if (FileSize(m_kernel, m_file.get()) == 0) {
    const std::string header = BuildTraceHeader(plat, GetModuleNames(m_kernel));
    WriteAll(m_kernel, m_file.get(), header.data(), header.size());
    return;
  }
  // Continuing another run's file: mark where this run starts.
  SeekToEnd(m_kernel, m_file.get());
  SYSTEMTIME now{};
  m_kernel.GetLocalTime(&now);
  const std::string date = Format("%02u-%02u-%02u", now.wMonth, now.wDay, now.wYear);
  BYTE rec[kRecordHeaderSize + 32];
  const std::size_t n = EncodeRecord(rec, m_kernel.GetCurrentThreadId(), kContinued, date);
  WriteBlock(rec, n);
}

void CFileOutput::Write(const BYTE* record, std::size_t length) {
  if (m_file) WriteBlock(record, length);
}

void CFileOutput::WriteBlock(const BYTE* record, std::size_t length) {
  BYTE stackBuf[kStackRecordSize];
  std::unique_ptr<BYTE[]> heapBuf;
  BYTE* buf = stackBuf;
  if (length > sizeof stackBuf) {
    heapBuf = std::make_unique<BYTE[]>(length);
    buf = heapBuf.get();
  }
  std::copy(record, record + length, buf);
  m_keys.Apply(buf, length);
  // Every record goes at the end of the file: another agent of the session (a second
  // instance on its way out, a command process) may be appending to the same file, and
  // writing at our own position would overwrite its records.
  SeekToEnd(m_kernel, m_file.get());
  WriteAll(m_kernel, m_file.get(), buf, length);
}

CLogFileOutput::CLogFileOutput(platform::IKernel& kernel, const std::wstring& path)
    : m_kernel(kernel), m_file(kernel) {
  m_file.reset(m_kernel.CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_file) return;
  if (FileSize(m_kernel, m_file.get()) == 0) {
    static constexpr BYTE kBom[2] = {0xFF, 0xFE};
    WriteAll(m_kernel, m_file.get(), kBom, sizeof kBom);
  } else {
    SeekToEnd(m_kernel, m_file.get());
  }
}

void CLogFileOutput::Write(const BYTE* record, std::size_t length) {
  if (!m_file || length < kRecordHeaderSize) return;
  const RecordHeader h = DecodeRecordHeader(record);
  const std::size_t textLen = std::min<std::size_t>(h.length, length - kRecordHeaderSize);
  const std::string_view text(reinterpret_cast<const char*>(record + kRecordHeaderSize), textLen);
  std::string line;
  switch (h.type) {
    case kTime:
      m_time = std::string(CutUtf8(text, kMaxTimeText));
      return;
    case kMessage:
      line = m_time + " " + std::string(text);
      break;
    case kResult:
      line = "*ERR* " + m_time + " " + std::string(text);
      break;
    case kDiagnostic:
      line = m_time + " " + std::string(text);
      break;
    default:
      return;
  }
  std::u16string wide = Utf8ToUtf16(line);
  if (wide.size() > kMaxLogLine - 2) {
    std::size_t keep = kMaxLogLine - 2;
    // Never leave half a surrogate pair at the cut.
    if (wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;
    wide.resize(keep);
  }
  wide += u"\r\n";
  std::vector<BYTE> bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  WriteAll(m_kernel, m_file.get(), bytes.data(), bytes.size());
}

}  // namespace VDTraceNS
