#include "ext/launcher_impl.h"

#include <exception>
#include <sstream>
#include <utility>

#include "ext/process_starter.h"
#include "support/guid_string.h"
#include "support/result_error.h"
#include "support/suite_components.h"
#include "support/trace/trace.h"

namespace {

// The shell's "open" verb; a result of 32 or less is an SE_ERR_ code, which for the common
// failures is the Win32 error itself.
HRESULT ShellOpen(platform::IPlatform& plat, const std::wstring& file) {
  VDTraceNS::CScope ts("ShellOpen");
  const auto h = reinterpret_cast<INT_PTR>(
      plat.Shell().ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (h > 32) return S_OK;
  return ts.Result("ShellExecuteW", h > 0 ? HRESULT_FROM_WIN32(static_cast<DWORD>(h)) : E_FAIL);
}

// A program path, not a document: the text ends in ".exe", compared as Windows compares file
// names (without regard to case). "x.exe.d\a.txt" is a document.
bool IsProgramPath(platform::IPlatform& plat, const std::wstring& text) {
  if (text.size() < 4) return false;
  return plat.Kernel().CompareStringOrdinal(text.c_str() + text.size() - 4, 4, L".exe", 4, TRUE) ==
         CSTR_EQUAL;
}

// One command-line argument in quotation marks, read back by CommandLineToArgvW as the text
// itself: backslashes in front of the closing mark are doubled so that they stay
// backslashes. The text holds no quotation mark (the caller refuses those).
std::wstring QuotedArgument(const std::wstring& text) {
  size_t trailing = 0;
  while (trailing < text.size() && text[text.size() - 1 - trailing] == L'\\') ++trailing;
  return L"\"" + text + std::wstring(trailing, L'\\') + L"\"";
}

bool IsSafeUrl(const std::wstring& url) {
  if (url.empty()) return false;
  for (wchar_t c : url) {
    if (c == L'"' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::wstring ReadText(platform::IPlatform& plat, CVDSequenceBlob& record) {
  return CVDWStrBlob(record.Next()).Value(plat);
}

}  // namespace

// ---- CLauncherImpl ---------------------------------------------------------------------------

CLauncherImpl::CLauncherImpl(platform::IPlatform& plat, const GUID& typeId)
    : m_plat(plat), m_typeId(typeId), m_hThread(plat.Kernel()) {}

CLauncherImpl::~CLauncherImpl() = default;

void CLauncherImpl::Serialize(CVDSequenceBlob& record) const {
  record.Append(CVDGUIDBlob(m_plat, m_typeId));
}

void CLauncherImpl::Unserialize(CVDSequenceBlob& record) {
  VDTraceNS::CScope ts("CLauncherImpl::Unserialize");
  const GUID type = CVDGUIDBlob(record.Next()).Value(m_plat);
  if (!(type == m_typeId)) {
    ts.Msg(L"Type %ls is not %ls", support::GuidToString(type).c_str(),
           support::GuidToString(m_typeId).c_str());
    throw CResultError(ts.Result("Decode error", CRYPT_E_ASN1_CORRUPT));
  }
}

void CLauncherImpl::Print(std::wostream& out) const { out << support::GuidToString(m_typeId); }

std::wstring CLauncherImpl::Description() const {
  std::wostringstream out;
  Print(out);
  return out.str();
}

bool CLauncherImpl::IsRunning() const {
  std::lock_guard lk(m_mu);
  return m_bRunning;
}

void CLauncherImpl::PerformAction() {
  VDTraceNS::CScope ts("CLauncherImpl::PerformAction");
  std::lock_guard lk(m_mu);
  if (m_bRunning) {
    ts.Msg(L"Still running, skipped: %ls", Description().c_str());
    return;
  }
  // The worker's own reference: the launcher outlives the table while its action runs.
  auto* self = new std::shared_ptr<CLauncherImpl>(shared_from_this());
  m_bRunning = true;
  platform::IKernel& k = m_plat.Kernel();
  HANDLE h = k.CreateThread(nullptr, 0, &CLauncherImpl::ThreadMain, self, 0, nullptr);
  if (!h) {
    const HRESULT hr = HRESULT_FROM_WIN32(k.GetLastError());
    m_bRunning = false;
    delete self;
    ts.Result("CreateThread", FAILED(hr) ? hr : E_FAIL);
    return;
  }
  // The previous action's thread has ended (m_bRunning was clear): its handle goes now.
  m_hThread.reset(h);
}

DWORD WINAPI CLauncherImpl::ThreadMain(LPVOID param) {
  std::unique_ptr<std::shared_ptr<CLauncherImpl>> self(
      static_cast<std::shared_ptr<CLauncherImpl>*>(param));
  (*self)->RunAction();
  // Dropping the reference may destroy the launcher here, on its own worker.
  return 0;
}

void CLauncherImpl::RunAction() {
  VDTraceNS::CScope ts("CLauncherImpl::RunAction");
  try {
    ts.Result("OnAction", OnAction());
  } catch (const CResultError& e) {
    ts.Result("OnAction", e.Result());
  } catch (const std::exception& e) {
    ts.Msg("OnAction: %s", e.what());
  } catch (...) {
    ts.Result("OnAction", E_UNEXPECTED);
  }
  std::lock_guard lk(m_mu);
  m_bRunning = false;
}

// ---- CAppLauncher ----------------------------------------------------------------------------

CAppLauncher::CAppLauncher(platform::IPlatform& plat, std::wstring path)
    : CLauncherImpl(plat, kAppLauncherType), m_sPath(std::move(path)) {}

void CAppLauncher::Serialize(CVDSequenceBlob& record) const {
  CLauncherImpl::Serialize(record);
  record.Append(CVDWStrBlob(m_plat, m_sPath));
}

void CAppLauncher::Unserialize(CVDSequenceBlob& record) {
  CLauncherImpl::Unserialize(record);
  m_sPath = ReadText(m_plat, record);
}

void CAppLauncher::Print(std::wostream& out) const { out << L"App \"" << m_sPath << L"\""; }

HRESULT CAppLauncher::OnAction() {
  VDTraceNS::CScope ts("CAppLauncher::OnAction");
  if (IsProgramPath(m_plat, m_sPath)) return ProcessStarter(m_plat, m_sPath.c_str(), nullptr);
  return ShellOpen(m_plat, m_sPath);
}

// ---- CWebLinkLauncher ------------------------------------------------------------------------

CWebLinkLauncher::CWebLinkLauncher(platform::IPlatform& plat, std::wstring url)
    : CLauncherImpl(plat, kWebLinkLauncherType), m_sUrl(std::move(url)) {}

void CWebLinkLauncher::Serialize(CVDSequenceBlob& record) const {
  CLauncherImpl::Serialize(record);
  record.Append(CVDWStrBlob(m_plat, m_sUrl));
}

void CWebLinkLauncher::Unserialize(CVDSequenceBlob& record) {
  CLauncherImpl::Unserialize(record);
  m_sUrl = ReadText(m_plat, record);
}

void CWebLinkLauncher::Print(std::wostream& out) const { out << L"WebLink \"" << m_sUrl << L"\""; }

HRESULT CWebLinkLauncher::OnAction() {
  VDTraceNS::CScope ts("CWebLinkLauncher::OnAction");
  if (!IsSafeUrl(m_sUrl)) return ts.Result("Refused URL", E_INVALIDARG);

  platform::ICom& com = m_plat.Com();
  const bool comUp = SUCCEEDED(com.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  WCHAR program[MAX_PATH] = {};
  DWORD cch = MAX_PATH;
  const HRESULT assoc = m_plat.Shell().AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_EXECUTABLE,
                                                         L"http", L"open", program, &cch);
  HRESULT hr;
  if (SUCCEEDED(assoc) && program[0] != L'\0') {
    hr = ProcessStarter(m_plat, program, QuotedArgument(m_sUrl).c_str());
  } else {
    ts.Result("AssocQueryStringW", assoc);
    hr = ShellOpen(m_plat, m_sUrl);
  }
  if (comUp) com.CoUninitialize();
  return hr;
}

// ---- CPwdManagerLauncher ---------------------------------------------------------------------

CPwdManagerLauncher::CPwdManagerLauncher(platform::IPlatform& plat, std::wstring label,
                                         std::wstring entryId, LONG number)
    : CLauncherImpl(plat, kPwdManagerLauncherType),
      m_sLabel(std::move(label)),
      m_sEntryId(std::move(entryId)),
      m_nNumber(number) {}

void CPwdManagerLauncher::Serialize(CVDSequenceBlob& record) const {
  CLauncherImpl::Serialize(record);
  record.Append(CVDWStrBlob(m_plat, m_sLabel));
  record.Append(CVDWStrBlob(m_plat, m_sEntryId));
  record.Append(CVDIntBlob(m_plat, m_nNumber));
}

void CPwdManagerLauncher::Unserialize(CVDSequenceBlob& record) {
  CLauncherImpl::Unserialize(record);
  std::wstring label = ReadText(m_plat, record);
  std::wstring entryId = ReadText(m_plat, record);
  const LONG number = CVDIntBlob(record.Next()).Value(m_plat);
  m_sLabel = std::move(label);
  m_sEntryId = std::move(entryId);
  m_nNumber = number;
}

void CPwdManagerLauncher::Print(std::wostream& out) const {
  out << L"PwdManager \"" << m_sLabel << L"\" entry \"" << m_sEntryId << L"\" number " << m_nNumber;
}

HRESULT CPwdManagerLauncher::OnAction() {
  VDTraceNS::CScope ts("CPwdManagerLauncher::OnAction");
  platform::IKernel& k = m_plat.Kernel();
  platform::IModules& modules = m_plat.Modules();
  const auto lastError = [&k] {
    const HRESULT hr = HRESULT_FROM_WIN32(k.GetLastError());
    return FAILED(hr) ? hr : E_FAIL;
  };
  platform::UniqueModule library(modules,
                                 modules.LoadLibraryExW(kVdMiniOnlineIdsLibrary, nullptr, 0));
  if (!library) return ts.Result("LoadLibraryW", lastError());
  FARPROC proc = modules.GetProcAddress(library.get(), kLaunchQuickLinkExport);
  if (!proc) return ts.Result("GetProcAddress", lastError());

  auto launch = reinterpret_cast<PFN_LaunchQuickLink>(reinterpret_cast<void (*)()>(proc));
  platform::ICom& com = m_plat.Com();
  BSTR entryId = com.SysAllocString(m_sEntryId.c_str());
  if (!entryId) return ts.Result("SysAllocString", E_OUTOFMEMORY);
  HRESULT hr = E_UNEXPECTED;
  try {
    hr = launch(entryId, m_nNumber);
  } catch (...) {
    com.SysFreeString(entryId);
    throw;
  }
  com.SysFreeString(entryId);
  return ts.Result("LaunchQuickLink", hr);
}
