#include "auth/tokens.h"

#include "support/trace/trace.h"

std::vector<GUID> EnumTokens(CVDFPApi& api) {
  VDTraceNS::CScope ts("EnumTokens");
  DWORD count = 0;
  CVDFPBuffer<GUID> tokens(api);  // given back on every path, also after a failure
  const HRESULT hr = api.VDFPTokenEnum(&count, tokens.put());
  if (FAILED(hr)) {
    ts.Result("VDFPTokenEnum failed", hr);
    return {};
  }
  if (!tokens) {
    ts.Msg("No tokens found.");
    return {};
  }
  // The array carries no size of its own: a count far beyond any suite's token types is a
  // corrupt answer, and reading that far would run past the array.
  if (count > kMaxTokenTypes) {
    ts.Result("VDFPTokenEnum: implausible count", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    return {};
  }
  std::vector<GUID> out(tokens.get(), tokens.get() + count);
  ts.Msg("%d tokens found", static_cast<int>(count));
  return out;
}
