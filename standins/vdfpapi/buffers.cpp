#include "standins/vdfpapi/buffers.h"

#include <cstdlib>
#include <map>

namespace vdfp_standin {

namespace {

struct Block {
  CBufferTracker* owner;
  std::string tag;
  unsigned long long serial;
};

// Every live block of every tracker. One registry for the process: VDFPBufferFree gets a bare
// pointer and must find its owner without touching memory that may not be a block.
struct Registry {
  std::mutex mu;
  std::map<void*, Block> blocks;
  unsigned long long serial = 0;
};
Registry& TheRegistry() {
  static Registry r;
  return r;
}

}  // namespace

CBufferTracker::~CBufferTracker() {
  Registry& r = TheRegistry();
  std::lock_guard lk(r.mu);
  for (auto it = r.blocks.begin(); it != r.blocks.end();) {
    if (it->second.owner == this) {
      std::free(it->first);
      it = r.blocks.erase(it);
    } else {
      ++it;
    }
  }
}

LPVOID CBufferTracker::Alloc(SIZE_T cb, const char* tag) {
  void* p = std::calloc(cb ? cb : 1, 1);
  if (!p) return nullptr;
  {
    std::lock_guard lk(m_mu);
    ++m_total;
  }
  Registry& r = TheRegistry();
  std::lock_guard lk(r.mu);
  r.blocks[p] = Block{this, tag ? tag : "", ++r.serial};
  return p;
}

bool CBufferTracker::Free(LPVOID p) {
  if (!p) return true;
  Registry& r = TheRegistry();
  std::lock_guard lk(r.mu);
  auto it = r.blocks.find(p);
  if (it == r.blocks.end()) return false;
  r.blocks.erase(it);
  std::free(p);
  return true;
}

std::size_t CBufferTracker::Outstanding() const {
  Registry& r = TheRegistry();
  std::lock_guard lk(r.mu);
  std::size_t n = 0;
  for (const auto& [p, b] : r.blocks) n += b.owner == this;
  return n;
}

std::vector<std::string> CBufferTracker::OutstandingTags() const {
  Registry& r = TheRegistry();
  std::map<unsigned long long, std::string> bySerial;
  {
    std::lock_guard lk(r.mu);
    for (const auto& [p, b] : r.blocks)
      if (b.owner == this) bySerial.emplace(b.serial, b.tag);
  }
  std::vector<std::string> tags;
  for (auto& [s, t] : bySerial) tags.push_back(std::move(t));
  return tags;
}

std::size_t CBufferTracker::TotalAllocations() const {
  std::lock_guard lk(m_mu);
  return m_total;
}

std::size_t CBufferTracker::InvalidFrees() const {
  std::lock_guard lk(m_mu);
  return m_invalidFrees;
}

void CBufferTracker::NoteInvalidFree() {
  std::lock_guard lk(m_mu);
  ++m_invalidFrees;
}

}  // namespace vdfp_standin
