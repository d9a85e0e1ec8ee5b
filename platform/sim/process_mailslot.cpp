// Mailslots of a simulated process, as Windows has them: a server handle from
// CreateMailslotW reads datagrams that writers send through CreateFileW handles on the same
// "\\.\mailslot\<name>" path, one datagram per WriteFile.
//
// Overlapped reads: a read finds a queued datagram and completes at once (its event set),
// or fails at once with ERROR_INSUFFICIENT_BUFFER when the buffer is too small (the
// datagram stays queued); with nothing queued it is pending (ERROR_IO_PENDING) until the
// next datagram completes it, with that datagram when it fits and with
// ERROR_INSUFFICIENT_BUFFER (datagram kept) when not, so a zero-length read only announces
// one. CancelIo completes pending reads with ERROR_OPERATION_ABORTED. The outcome lives in
// the OVERLAPPED record (Internal: an NTSTATUS, InternalHigh: the bytes) as on Windows.
// Synchronous reads never block here: an empty mailslot answers ERROR_SEM_TIMEOUT at once.
// A write whose server has gone fails with ERROR_FILE_NOT_FOUND.
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/sim_text.h"

namespace sim {

namespace {

constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusBufferTooSmall = 0xC0000023;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

class MailslotObject : public KernelObject {
 public:
  MailslotObject(DWORD maxSize, DWORD readTimeout)
      : KernelObject(Kind::kMailslot), maxSize(maxSize), readTimeout(readTimeout) {}

  struct PendingRead {
    OVERLAPPED* overlapped;
    BYTE* buffer;
    DWORD size;
    std::shared_ptr<KernelObject> event;  // null when the record has none
  };

  // Guards everything below and the OVERLAPPED records of pending reads.
  std::mutex mu;
  const DWORD maxSize;
  DWORD readTimeout;
  std::deque<std::vector<BYTE>> datagrams;
  std::deque<PendingRead> pending;
};

class MailslotClient : public KernelObject {
 public:
  explicit MailslotClient(std::weak_ptr<MailslotObject> slot)
      : KernelObject(Kind::kMailslotClient), slot(std::move(slot)) {}
  const std::weak_ptr<MailslotObject> slot;
};

// Copies the first datagram into the read when it fits (removing it); records the outcome.
// Called with the mailslot's lock held.
void CompleteLocked(MailslotObject& m, const MailslotObject::PendingRead& r) {
  const auto& front = m.datagrams.front();
  const auto size = static_cast<DWORD>(front.size());
  if (size <= r.size) {
    if (size) std::memcpy(r.buffer, front.data(), size);
    r.overlapped->Internal = kStatusSuccess;
    r.overlapped->InternalHigh = size;
    m.datagrams.pop_front();
  } else {
    r.overlapped->Internal = kStatusBufferTooSmall;
    r.overlapped->InternalHigh = 0;
  }
}

}  // namespace

std::optional<std::wstring> MailslotName(LPCWSTR path) {
  static const std::wstring kPrefix = L"\\\\.\\MAILSLOT\\";
  if (!path) return std::nullopt;
  const std::wstring p = path;
  if (p.size() <= kPrefix.size() || text::Upper(p.substr(0, kPrefix.size())) != kPrefix)
    return std::nullopt;
  return p.substr(kPrefix.size());
}

HANDLE ProcessKernel::CreateMailslotW(LPCWSTR lpName, DWORD nMaxMessageSize, DWORD lReadTimeout,
                                      LPSECURITY_ATTRIBUTES) {
  auto name = MailslotName(lpName);
  if (!name) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
  auto slot = std::make_shared<MailslotObject>(nMaxMessageSize, lReadTimeout);
  ObjectManager& objects = m_machine.Objects();
  if (!objects.AddMailslotName(*name, slot)) return Fail(ERROR_ALREADY_EXISTS, INVALID_HANDLE_VALUE);
  SetLastError(ERROR_SUCCESS);
  return objects.AddHandle(m_process.Pid(), std::move(slot));
}

HANDLE ProcessKernel::OpenMailslot(const std::wstring& name) {
  auto slot = std::static_pointer_cast<MailslotObject>(m_machine.Objects().FindMailslot(name));
  if (!slot) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  SetLastError(ERROR_SUCCESS);
  return m_machine.Objects().AddHandle(m_process.Pid(), std::make_shared<MailslotClient>(slot));
}

BOOL ProcessKernel::WriteMailslot(const std::shared_ptr<KernelObject>& client, LPCVOID buffer,
                                  DWORD size, LPDWORD written) {
  if (!written || (size && !buffer)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *written = 0;
  auto slot = static_cast<MailslotClient&>(*client).slot.lock();
  if (!slot) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  std::vector<std::shared_ptr<KernelObject>> toSignal;
  {
    std::lock_guard lk(slot->mu);
    if (slot->maxSize && size > slot->maxSize) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const auto* bytes = static_cast<const BYTE*>(buffer);
    slot->datagrams.emplace_back(bytes, bytes + size);
    // Pending reads complete in order, each with the datagram then first in the queue.
    while (!slot->pending.empty() && !slot->datagrams.empty()) {
      auto r = slot->pending.front();
      slot->pending.pop_front();
      CompleteLocked(*slot, r);
      if (r.event) toSignal.push_back(r.event);
    }
  }
  for (const auto& e : toSignal) m_machine.Objects().SetEvent(e);
  *written = size;
  return TRUE;
}

BOOL ProcessKernel::ReadMailslot(const std::shared_ptr<KernelObject>& obj, LPVOID buffer,
                                 DWORD size, LPDWORD read, OVERLAPPED* overlapped) {
  if ((!read && !overlapped) || (size && !buffer)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (read) *read = 0;
  auto& slot = static_cast<MailslotObject&>(*obj);
  std::shared_ptr<KernelObject> event;
  if (overlapped && overlapped->hEvent) {
    event = Object(overlapped->hEvent);
    if (!event || event->GetKind() != KernelObject::Kind::kEvent)
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    // Windows resets the record's event when the operation starts.
    m_machine.Objects().ResetEvent(event);
  }
  MailslotObject::PendingRead r{overlapped, static_cast<BYTE*>(buffer), size, event};
  DWORD bytes = 0;
  {
    std::lock_guard lk(slot.mu);
    if (slot.datagrams.empty()) {
      if (!overlapped) return Fail(ERROR_SEM_TIMEOUT, FALSE);
      overlapped->Internal = kStatusPending;
      overlapped->InternalHigh = 0;
      slot.pending.push_back(r);
      return Fail(ERROR_IO_PENDING, FALSE);
    }
    const auto next = static_cast<DWORD>(slot.datagrams.front().size());
    if (next > size) {
      if (overlapped) {
        overlapped->Internal = kStatusBufferTooSmall;
        overlapped->InternalHigh = 0;
      }
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    if (next) std::memcpy(buffer, slot.datagrams.front().data(), next);
    slot.datagrams.pop_front();
    bytes = next;
    if (overlapped) {
      overlapped->Internal = kStatusSuccess;
      overlapped->InternalHigh = bytes;
    }
  }
  if (read) *read = bytes;
  if (event) m_machine.Objects().SetEvent(event);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL ProcessKernel::GetMailslotInfo(HANDLE hMailslot, LPDWORD lpMaxMessageSize,
                                    LPDWORD lpNextSize, LPDWORD lpMessageCount,
                                    LPDWORD lpReadTimeout) {
  auto obj = Object(hMailslot);
  if (!obj || obj->GetKind() != KernelObject::Kind::kMailslot)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto& slot = static_cast<MailslotObject&>(*obj);
  std::lock_guard lk(slot.mu);
  if (lpMaxMessageSize) *lpMaxMessageSize = slot.maxSize;
  if (lpNextSize)
    *lpNextSize = slot.datagrams.empty() ? MAILSLOT_NO_MESSAGE
                                         : static_cast<DWORD>(slot.datagrams.front().size());
  if (lpMessageCount) *lpMessageCount = static_cast<DWORD>(slot.datagrams.size());
  if (lpReadTimeout) *lpReadTimeout = slot.readTimeout;
  return TRUE;
}

BOOL ProcessKernel::CancelIo(HANDLE hFile) {
  auto obj = Object(hFile);
  if (!obj) return Fail(ERROR_INVALID_HANDLE, FALSE);
  // Only mailslot reads are ever pending here.
  if (obj->GetKind() != KernelObject::Kind::kMailslot) return TRUE;
  auto& slot = static_cast<MailslotObject&>(*obj);
  std::vector<std::shared_ptr<KernelObject>> toSignal;
  {
    std::lock_guard lk(slot.mu);
    for (const auto& r : slot.pending) {
      r.overlapped->Internal = kStatusCancelled;
      r.overlapped->InternalHigh = 0;
      if (r.event) toSignal.push_back(r.event);
    }
    slot.pending.clear();
  }
  for (const auto& e : toSignal) m_machine.Objects().SetEvent(e);
  return TRUE;
}

BOOL ProcessKernel::GetOverlappedResult(HANDLE hFile, OVERLAPPED* lpOverlapped,
                                        LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  if (!lpOverlapped || !lpNumberOfBytesTransferred) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto obj = Object(hFile);
  if (!obj) return Fail(ERROR_INVALID_HANDLE, FALSE);
  // The record is written under the mailslot's lock when a read completes.
  auto outcome = [&]() -> std::pair<ULONG_PTR, ULONG_PTR> {
    if (obj->GetKind() != KernelObject::Kind::kMailslot)
      return {lpOverlapped->Internal, lpOverlapped->InternalHigh};
    std::lock_guard lk(static_cast<MailslotObject&>(*obj).mu);
    return {lpOverlapped->Internal, lpOverlapped->InternalHigh};
  };
  auto [status, bytes] = outcome();
  if (status == kStatusPending) {
    if (!bWait) return Fail(ERROR_IO_INCOMPLETE, FALSE);
    if (!lpOverlapped->hEvent) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    WaitForSingleObject(lpOverlapped->hEvent, INFINITE);
    std::tie(status, bytes) = outcome();
  }
  *lpNumberOfBytesTransferred = static_cast<DWORD>(bytes);
  switch (status) {
    case kStatusSuccess:
      return TRUE;
    case kStatusBufferTooSmall:
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    case kStatusCancelled:
      return Fail(ERROR_OPERATION_ABORTED, FALSE);
    case kStatusPending:
      return Fail(ERROR_IO_INCOMPLETE, FALSE);
    default:
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
}

}  // namespace sim
