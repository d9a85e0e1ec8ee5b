// Security attributes with a null DACL: everyone may open the object. Used for the host
// service's readiness event, which a service in another logon session signals.
#pragma once

#include "platform/win_types.h"

namespace platform {

class CNullDaclAttributes {
 public:
  CNullDaclAttributes() {
#ifdef _WIN32
    ::InitializeSecurityDescriptor(&m_sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&m_sd, TRUE, nullptr, FALSE);
    m_sa.lpSecurityDescriptor = &m_sd;
#endif
  }
  CNullDaclAttributes(const CNullDaclAttributes&) = delete;
  CNullDaclAttributes& operator=(const CNullDaclAttributes&) = delete;
  SECURITY_ATTRIBUTES* get() { return &m_sa; }

 private:
#ifdef _WIN32
  SECURITY_DESCRIPTOR m_sd{};
#endif
  SECURITY_ATTRIBUTES m_sa{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

}  // namespace platform
