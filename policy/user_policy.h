// The logon policy of one user, asked from the authentication library (user information
// class 4).
//
//   CPolicy policy;
//   if (SUCCEEDED(FetchUserPolicy(process.AuthLibrary(), user, policy))) ...
//   CPolicy any = FetchUserPolicy(process.AuthLibrary(), user);   // empty when it failed
//
// Every call asks the library; the policy logic reuses a fetched policy for one minute
// before it calls this, so callers that want that reuse go through CPolicyLogic.
#pragma once

#include "auth/user.h"
#include "policy/policy.h"
#include "support/vdfp/vdfp_api.h"

// More rules than this is no policy a library could mean: the count is taken as damage
// rather than read past, and the fetch fails.
inline constexpr DWORD kMaxPolicyRules = 65536;

// The policy held by a user-information buffer, or a failure (ERROR_INVALID_DATA as an
// HRESULT) when its rule count is above kMaxPolicyRules; `out` is left empty then.
HRESULT PolicyFromUserInfo(const VDFP_USER_INFO_4& info, CPolicy& out);

// The user's policy into `out`. On any failure (library error, no buffer, a damaged rule
// count) `out` is the empty policy (no rules, shape 0) and the result is negative. Traced
// under "CPolicyHandler<class CVdAgentMain>::FetchUserPolicy".
HRESULT FetchUserPolicy(CVDFPApi& api, const CUser& user, CPolicy& out);
// The same, empty on failure.
CPolicy FetchUserPolicy(CVDFPApi& api, const CUser& user);
