#include "platform/sim/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim_text.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

DWORD ErrnoToWin32(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Open files

FileObject::FileObject(int fd, bool canRead, bool canWrite, bool appendOnly)
    : KernelObject(Kind::kFile),
      m_fd(fd),
      m_canRead(canRead),
      m_canWrite(canWrite),
      m_appendOnly(appendOnly) {}

FileObject::~FileObject() { ::close(m_fd); }

DWORD FileObject::Read(void* buffer, DWORD size, DWORD* read) {
  std::lock_guard lk(m_mu);
  *read = 0;
  if (!m_canRead) return ERROR_ACCESS_DENIED;
  auto* p = static_cast<char*>(buffer);
  DWORD total = 0;
  while (total < size) {
    const ssize_t n = ::pread(m_fd, p + total, size - total, m_position + total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoToWin32(errno);
    }
    if (n == 0) break;  // end of file: a short read, and success
    total += static_cast<DWORD>(n);
  }
  m_position += total;
  *read = total;
  return ERROR_SUCCESS;
}

DWORD FileObject::Write(const void* buffer, DWORD size, DWORD* written) {
  std::lock_guard lk(m_mu);
  *written = 0;
  if (!m_canWrite && !m_appendOnly) return ERROR_ACCESS_DENIED;
  if (m_appendOnly) {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return ErrnoToWin32(errno);
    m_position = st.st_size;
  }
  const auto* p = static_cast<const char*>(buffer);
  DWORD total = 0;
  while (total < size) {
    const ssize_t n = ::pwrite(m_fd, p + total, size - total, m_position + total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoToWin32(errno);
    }
    total += static_cast<DWORD>(n);
  }
  m_position += total;
  *written = total;
  return ERROR_SUCCESS;
}

DWORD FileObject::Seek(LONGLONG distance, DWORD method, LONGLONG* newPosition) {
  std::lock_guard lk(m_mu);
  LONGLONG base;
  switch (method) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = m_position;
      break;
    case FILE_END: {
      struct stat st {};
      if (::fstat(m_fd, &st) != 0) return ErrnoToWin32(errno);
      base = st.st_size;
      break;
    }
    default:
      return ERROR_INVALID_PARAMETER;
  }
  const LONGLONG pos = base + distance;
  if (pos < 0) return ERROR_NEGATIVE_SEEK;
  m_position = pos;
  if (newPosition) *newPosition = pos;
  return ERROR_SUCCESS;
}

DWORD FileObject::Size(LONGLONG* size) {
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) return ErrnoToWin32(errno);
  *size = st.st_size;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------
// Paths

FileSystem::FileSystem(Machine& m) : m_machine(m), m_root(m.Description().diskRoot) {
  // The folders every Windows installation has.
  std::vector<std::wstring> folders = {
      L"C:\\Windows\\system32", L"C:\\Windows\\Temp", L"C:\\Program Files",
      L"C:\\ProgramData",       L"C:\\Users\\Public",
      L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
  };
  if (m.Description().is64BitWindows) {
    folders.push_back(L"C:\\Program Files (x86)");
    folders.push_back(L"C:\\Windows\\SysWOW64");
  }
  for (const auto& f : folders) {
    std::error_code ec;
    fs::create_directories(HostPath(f), ec);
  }
  // The system's own programs that the agent starts (see ProgramTable for how they run).
  for (const wchar_t* program : {L"cmd.exe", L"cscript.exe", L"wscript.exe"}) {
    WriteFile(std::wstring(L"C:\\Windows\\system32\\") + program, "MZ");
    if (m.Description().is64BitWindows)
      WriteFile(std::wstring(L"C:\\Windows\\SysWOW64\\") + program, "MZ");
  }
}

std::optional<std::wstring> FileSystem::FullPath(const std::wstring& currentDirectory,
                                                 const std::wstring& path) {
  std::wstring p = path;
  for (auto& c : p)
    if (c == L'/') c = L'\\';
  if (p.rfind(L"\\\\?\\UNC\\", 0) == 0 || p.rfind(L"\\\\?\\unc\\", 0) == 0) {
    p = L"\\" + p.substr(7);
  } else if (p.rfind(L"\\\\?\\", 0) == 0) {
    p.erase(0, 4);
  }
  if (p.empty()) return std::nullopt;

  std::wstring root;
  std::wstring rest;
  if (p.rfind(L"\\\\", 0) == 0) {
    // "\\server\share\rest": the share is the root, as a drive is.
    const size_t serverEnd = p.find(L'\\', 2);
    if (serverEnd == std::wstring::npos || serverEnd == 2) return std::nullopt;
    const std::wstring server = p.substr(2, serverEnd - 2);
    if (server == L"." || server == L"?") return std::nullopt;  // device names
    const size_t shareEnd = p.find(L'\\', serverEnd + 1);
    const std::wstring share =
        p.substr(serverEnd + 1,
                 shareEnd == std::wstring::npos ? std::wstring::npos : shareEnd - serverEnd - 1);
    if (share.empty()) return std::nullopt;
    root = L"\\\\" + server + L"\\" + share;
    rest = shareEnd == std::wstring::npos ? std::wstring() : p.substr(shareEnd);
  } else {
    std::wstring cwd = currentDirectory;
    const bool driveRelative = p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == L':';
    if (!driveRelative && cwd.rfind(L"\\\\", 0) == 0) {
      // The current folder is on a share: a rooted name goes to its root, others below it.
      auto folder = FullPath(L"C:\\", cwd);
      if (!folder) return std::nullopt;
      return FullPath(L"C:\\", p[0] == L'\\' ? VolumeOf(*folder) + p : *folder + L"\\" + p);
    }
    if (cwd.size() < 2 || !IsDriveLetter(cwd[0]) || cwd[1] != L':') cwd = L"C:\\";
    if (driveRelative) {
      root = p.substr(0, 2);
      rest = p.substr(2);
      if (rest.empty() || rest[0] != L'\\') {
        // "X:name": relative to the current folder when it is on that drive.
        rest = text::IEquals(root, cwd.substr(0, 2)) ? cwd.substr(2) + L"\\" + rest : L"\\" + rest;
      }
    } else if (p[0] == L'\\') {
      root = cwd.substr(0, 2);
      rest = p;
    } else {
      root = cwd.substr(0, 2);
      rest = cwd.substr(2) + L"\\" + p;
    }
    root[0] = text::FoldUpper(root[0]);
  }

  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    std::wstring part = rest.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    // Windows drops trailing dots and blanks from names.
    while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
    if (!part.empty()) parts.push_back(std::move(part));
  }
  std::wstring full = root + L"\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) full += L"\\";
    full += parts[i];
  }
  return full;
}

std::wstring FileSystem::VolumeOf(const std::wstring& fullPath) {
  if (fullPath.rfind(L"\\\\", 0) == 0) {
    const size_t serverEnd = fullPath.find(L'\\', 2);
    const size_t shareEnd =
        serverEnd == std::wstring::npos ? serverEnd : fullPath.find(L'\\', serverEnd + 1);
    return text::Upper(fullPath.substr(0, shareEnd));
  }
  return text::Upper(fullPath.substr(0, 2));
}

DWORD FileSystem::Reach(const std::wstring& windowsPath, fs::path* host) const {
  host->clear();
  auto full = FullPath(L"C:\\", windowsPath);
  if (!full) return ERROR_PATH_NOT_FOUND;
  const std::wstring volume = VolumeOf(*full);
  fs::path at;
  if (volume.size() > 2) {
    std::lock_guard lk(m_mu);
    auto it = m_shares.find(volume);
    if (it == m_shares.end()) {
      // A server we know answers that it has no such share; any other cannot be found.
      const std::wstring server = volume.substr(0, volume.find(L'\\', 2) + 1);
      for (const auto& [name, share] : m_shares)
        if (name.rfind(server, 0) == 0) return ERROR_BAD_NET_NAME;
      return ERROR_BAD_NETPATH;
    }
    at = it->second.host;
  } else {
    at = m_root / std::string(1, static_cast<char>(text::FoldLower((*full)[0])));
  }
  size_t start = volume.size() + 1;
  while (start < full->size()) {
    size_t end = full->find(L'\\', start);
    if (end == std::wstring::npos) end = full->size();
    at /= text::ToUtf8(text::Lower(full->substr(start, end - start)));
    start = end + 1;
  }
  *host = std::move(at);
  return ERROR_SUCCESS;
}

fs::path FileSystem::HostPath(const std::wstring& windowsPath) const {
  fs::path host;
  Reach(windowsPath, &host);
  return host;
}

void FileSystem::AddShare(const std::wstring& uncRoot, DWORD latencyMs) {
  auto full = FullPath(L"C:\\", uncRoot);
  if (!full || full->rfind(L"\\\\", 0) != 0) return;
  const std::wstring volume = VolumeOf(*full);
  // "\\server\share" lives in <diskRoot>/unc/server/share.
  const size_t serverEnd = volume.find(L'\\', 2);
  const fs::path host = m_root / "unc" /
                        text::ToUtf8(text::Lower(volume.substr(2, serverEnd - 2))) /
                        text::ToUtf8(text::Lower(volume.substr(serverEnd + 1)));
  std::error_code ec;
  fs::create_directories(host, ec);
  std::lock_guard lk(m_mu);
  m_shares[volume] = Share{host, latencyMs};
}

DWORD FileSystem::LatencyOf(const std::wstring& fullPath) const {
  std::lock_guard lk(m_mu);
  auto it = m_shares.find(VolumeOf(fullPath));
  return it == m_shares.end() ? 0 : it->second.latencyMs;
}

void FileSystem::SetCopySpeed(ULONGLONG bytesPerMs) {
  std::lock_guard lk(m_mu);
  m_copySpeed = bytesPerMs ? bytesPerMs : 1;
}

ULONGLONG FileSystem::CopySpeed() const {
  std::lock_guard lk(m_mu);
  return m_copySpeed;
}

DWORD FileSystem::CheckParent(const fs::path& host) {
  std::error_code ec;
  return fs::is_directory(host.parent_path(), ec) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

// ---------------------------------------------------------------------------------------
// Operations

DWORD FileSystem::Open(const std::wstring& path, DWORD access, DWORD disposition,
                       std::shared_ptr<FileObject>* out, bool* existed) {
  *existed = false;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return ERROR_INVALID_PARAMETER;
  fs::path host;
  if (DWORD e = Reach(path, &host)) return e;
  if (DWORD e = CheckParent(host)) return e;
  std::error_code ec;
  const auto st = fs::status(host, ec);
  if (fs::is_directory(st)) return ERROR_ACCESS_DENIED;
  const bool exists = fs::exists(st);
  *existed = exists;

  const bool all = (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) != 0;
  const bool canRead = all || (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
  const bool canWrite = all || (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
  const bool appendOnly = !canWrite && (access & FILE_APPEND_DATA) != 0;

  int flags = O_CLOEXEC;
  flags |= (canWrite || appendOnly) ? (canRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) return ERROR_FILE_EXISTS;
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      if (!exists) return ERROR_FILE_NOT_FOUND;
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!exists) return ERROR_FILE_NOT_FOUND;
      if (!canWrite) return ERROR_INVALID_PARAMETER;
      flags |= O_TRUNC;
      break;
  }
  // O_TRUNC needs a writable descriptor; CREATE_ALWAYS with read access only still
  // empties the file on Windows.
  if ((flags & O_TRUNC) && (flags & O_ACCMODE) == O_RDONLY) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const int fd = ::open(host.c_str(), flags, 0644);
  if (fd < 0) return ErrnoToWin32(errno);
  *out = std::make_shared<FileObject>(fd, canRead, canWrite, appendOnly);
  return ERROR_SUCCESS;
}

DWORD FileSystem::Delete(const std::wstring& path) {
  fs::path host;
  if (DWORD e = Reach(path, &host)) return e;
  if (DWORD e = CheckParent(host)) return e;
  std::error_code ec;
  const auto st = fs::status(host, ec);
  if (!fs::exists(st)) return ERROR_FILE_NOT_FOUND;
  if (fs::is_directory(st)) return ERROR_ACCESS_DENIED;
  if (::unlink(host.c_str()) != 0) return ErrnoToWin32(errno);
  return ERROR_SUCCESS;
}

DWORD FileSystem::Attributes(const std::wstring& path, DWORD* attributes) {
  *attributes = INVALID_FILE_ATTRIBUTES;
  fs::path host;
  if (DWORD e = Reach(path, &host)) return e;
  std::error_code ec;
  const auto st = fs::status(host, ec);
  if (!fs::exists(st)) {
    return CheckParent(host) == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  *attributes = fs::is_directory(st) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  return ERROR_SUCCESS;
}

DWORD FileSystem::CreateDirectory(const std::wstring& path) {
  fs::path host;
  if (DWORD e = Reach(path, &host)) return e;
  std::error_code ec;
  if (fs::exists(host, ec)) return ERROR_ALREADY_EXISTS;
  if (DWORD e = CheckParent(host)) return e;
  if (::mkdir(host.c_str(), 0755) != 0)
    return errno == EEXIST ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : ErrnoToWin32(errno);
  return ERROR_SUCCESS;
}

DWORD FileSystem::RemoveDirectory(const std::wstring& path) {
  fs::path host;
  if (DWORD e = Reach(path, &host)) return e;
  std::error_code ec;
  const auto st = fs::status(host, ec);
  if (!fs::exists(st))
    return CheckParent(host) == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  if (!fs::is_directory(st)) return ERROR_DIRECTORY;
  if (!fs::is_empty(host, ec)) return ERROR_DIR_NOT_EMPTY;
  if (::rmdir(host.c_str()) != 0) return ErrnoToWin32(errno);
  return ERROR_SUCCESS;
}

DWORD FileSystem::Move(const std::wstring& from, const std::wstring& to, bool replace) {
  fs::path source;
  fs::path target;
  if (DWORD e = Reach(from, &source)) return e;
  if (DWORD e = Reach(to, &target)) return e;
  std::error_code ec;
  const auto st = fs::status(source, ec);
  if (!fs::exists(st))
    return CheckParent(source) == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  if (VolumeOf(*FullPath(L"C:\\", from)) != VolumeOf(*FullPath(L"C:\\", to)))
    return ERROR_NOT_SAME_DEVICE;
  if (DWORD e = CheckParent(target)) return e;
  // Names differing only in case are one file here: nothing to do.
  if (source == target) return ERROR_SUCCESS;
  const auto targetSt = fs::status(target, ec);
  if (fs::exists(targetSt)) {
    if (!replace) return ERROR_ALREADY_EXISTS;
    if (fs::is_directory(targetSt) || fs::is_directory(st)) return ERROR_ACCESS_DENIED;
  }
  if (::rename(source.c_str(), target.c_str()) != 0) return ErrnoToWin32(errno);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------
// Versions and test conveniences

void FileSystem::SetFileVersion(const std::wstring& path, Version version) {
  auto full = FullPath(L"C:\\", path);
  if (!full) return;
  std::lock_guard lk(m_mu);
  m_versions[text::Upper(*full)] = version;
}

std::optional<FileSystem::Version> FileSystem::FileVersion(const std::wstring& path) const {
  auto full = FullPath(L"C:\\", path);
  if (!full) return std::nullopt;
  std::lock_guard lk(m_mu);
  auto it = m_versions.find(text::Upper(*full));
  if (it == m_versions.end()) return std::nullopt;
  return it->second;
}

void FileSystem::WriteFile(const std::wstring& path, const std::string& bytes) {
  const fs::path host = HostPath(path);
  if (host.empty()) return;
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::string> FileSystem::ReadFile(const std::wstring& path) const {
  std::ifstream in(HostPath(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FileSystem::Exists(const std::wstring& path) const {
  const fs::path host = HostPath(path);
  std::error_code ec;
  return !host.empty() && fs::exists(host, ec);
}

}  // namespace sim
