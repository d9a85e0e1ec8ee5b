// The logon policy of one user, asked from the authentication library (user information
// class 4).
//
//   CPolicy policy = FetchUserPolicy(process.AuthLibrary(), user);
//   if (policy.Shape() == kPolicyNotInitialized) ...     // the library did not answer
//
// Every call asks the library; the policy handler reuses its current policy for one minute
// before it calls this, so callers that want that reuse go through the handler.
#pragma once

#include "auth/user.h"
#include "policy/policy.h"
#include "support/vdfp/vdfp_api.h"

// The user's policy, or the empty policy (no rules, shape 0) when the library fails or
// answers without a buffer. Traced under "CPolicyHandler<class CVdAgentMain>::FetchUserPolicy".
CPolicy FetchUserPolicy(CVDFPApi& api, const CUser& user);
