// ICrypt of one simulated process: our own DER codec for the shapes the agent uses.
#pragma once

#include "platform/crypt.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessCrypt : public platform::ICrypt {
 public:
  explicit ProcessCrypt(Process& p) : m_process(p) {}
  BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                         BYTE* pbEncoded, DWORD* pcbEncoded) override;
  BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                         DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo,
                         DWORD* pcbStructInfo) override;

 private:
  Process& m_process;
};

}  // namespace sim
