#include "policy/user_policy.h"

#include "support/trace/trace.h"

HRESULT PolicyFromUserInfo(const VDFP_USER_INFO_4& info, CPolicy& out) {
  out = CPolicy();
  if (info.cRules > kMaxPolicyRules) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  out.Init(VDFPUserInfoRules(&info), info.cRules);
  return S_OK;
}

HRESULT FetchUserPolicy(CVDFPApi& api, const CUser& user, CPolicy& out) {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::FetchUserPolicy");
  out = CPolicy();
  // The user as the library knows it: the account name in its format, or else the SID.
  std::wstring name = user.AccountName();
  DWORD format = user.NameFormat();
  if (name.empty() || format == VDFP_NAME_NONE) {
    name = user.Sid();
    format = VDFP_NAME_SID;
  }
  CVDFPBuffer<VDFP_USER_INFO_4> info(api);
  const HRESULT hr =
      api.VDFPGetUserInfo(name.c_str(), format, VDFP_USER_INFO_POLICY_CLASS, info.put());
  if (FAILED(hr)) {
    ts.Result("VDFPGetUserInfo failed", hr);
    return hr;
  }
  if (!info) {
    ts.Result("No UserInfo", E_POINTER);
    return E_POINTER;
  }
  ts.Msg("%d rules", static_cast<int>(info->cRules));
  const HRESULT parsed = PolicyFromUserInfo(*info.get(), out);
  if (FAILED(parsed)) ts.Result("Too many rules", parsed);
  return parsed;
}

CPolicy FetchUserPolicy(CVDFPApi& api, const CUser& user) {
  CPolicy policy;
  FetchUserPolicy(api, user, policy);
  return policy;
}
