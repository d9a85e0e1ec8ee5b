#include "support/settings/environment_utils.h"

#include "support/settings/policy_settings.h"
#include "support/settings/settings_names.h"
#include "support/trace/trace.h"

bool CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(GPO::IPolicyLibrary& lib,
                                                           CSelfEnrollmentState& state) {
  VDTraceNS::CScope ts("CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed");
  if (state.requery) {
    const wchar_t* name = SettingNames::Policies::kCredentialsSelfEnrollment;
    GPO::CPolicySettings batch(lib);
    HRESULT hr = batch.Add(name) ? batch.GetEx() : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
      const VDFP_POLICY_ITEM* item = batch[name];
      if (item && item->Value.VarType == VDVAR_UINT32) {
        state.allowed = item->Value.ulVal != 0;
        ts.Msg("%ls = %d", name, state.allowed ? 1 : 0);
      }
    }
    state.requery = FAILED(hr);
    ts.Result(name, hr);
  }
  return state.allowed;
}
