#include "policy/user_policy.h"

#include "support/trace/trace.h"

CPolicy FetchUserPolicy(CVDFPApi& api, const CUser& user) {
  VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::FetchUserPolicy");
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
    return {};
  }
  if (!info) {
    ts.Result("No UserInfo", E_POINTER);
    return {};
  }
  ts.Msg("%d rules", static_cast<int>(info->cRules));
  CPolicy policy;
  policy.Init(VDFPUserInfoRules(info.get()), info->cRules);
  return policy;
}
