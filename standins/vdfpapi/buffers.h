// The library's buffer heap: every record, string and array it hands out is one zero-filled
// block from here, released by VDFPBufferFree. Each block remembers which tracker (one per
// host installation) gave it out and for what, so a test can ask which blocks the caller
// never gave back.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace vdfp_standin {

class CBufferTracker {
 public:
  CBufferTracker() = default;
  // Blocks still out are released here: the library's heap goes with it.
  ~CBufferTracker();
  CBufferTracker(const CBufferTracker&) = delete;
  CBufferTracker& operator=(const CBufferTracker&) = delete;

  // A zero-filled block of cb bytes (at least 1), tagged with the operation that made it.
  LPVOID Alloc(SIZE_T cb, const char* tag);
  // VDFPBufferFree: releases a block of any tracker. Null is accepted (true); false for a
  // pointer that is no live block (a double free or a foreign pointer), which is left alone.
  static bool Free(LPVOID p);

  std::size_t Outstanding() const;
  // The tags of the blocks still out, in allocation order.
  std::vector<std::string> OutstandingTags() const;
  std::size_t TotalAllocations() const;
  std::size_t InvalidFrees() const;
  void NoteInvalidFree();

 private:
  mutable std::mutex m_mu;
  std::size_t m_total = 0;
  std::size_t m_invalidFrees = 0;
};

}  // namespace vdfp_standin
