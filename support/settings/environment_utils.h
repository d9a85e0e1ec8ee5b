// Facts about the agent's environment that come from policy.
//
//   // the answer and its re-query mark live in the agent's per-process object
//   auto lib = GPO::PolicyLibrary(process.AuthLibrary());
//   if (!CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, process.SelfEnrollment))
//     ... "Self-enrollment is disabled" ...
#pragma once

#include "support/settings/policy_library.h"

// The process-wide answer to "may users enroll their own credentials?": allowed until a
// policy says otherwise, asked again until one query has succeeded.
struct CSelfEnrollmentState {
  bool allowed = true;
  bool requery = true;
};

class CEnvironmentUtils {
 public:
  // While the re-query mark is set, reads the policy "CredentialsSelfEnrollment" (a 32-bit
  // value of type 4; non-zero allows); a failed query leaves the mark set, a successful one
  // clears it for the life of the process. Returns the stored answer.
  static bool IsCredentialsSelfEnrollmentAllowed(GPO::IPolicyLibrary& lib,
                                                 CSelfEnrollmentState& state);
};
