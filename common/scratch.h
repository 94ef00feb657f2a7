// scratch.h: the one way the plug-ins hold memory within a call.
//
// Every block a routine needs beyond the host's arrays comes from a Scratch
// and is released when that Scratch goes out of scope: on a normal return,
// and when an error unwinds the call. Blocks are chained through a small
// header in front of each, so no routine keeps a list of what to free.
//
// Where blocks come from is the Scratch's allocator, a table of functions
// passed in, as CSparse passes its allocator. The plug-ins pass the host's
// (hostAllocator, hostbridge.h): mxMalloc and mxCalloc, which raise the
// host's out-of-memory error themselves when memory runs out, in every
// plug-in alike, and whose blocks the host reclaims after any error and can
// be told to fail (the allocation-failure tests). Code that runs without a
// host, pairsolve's solver in its tests and benchmarks, passes the C
// library's (systemAllocator); a block it cannot get throws std::bad_alloc.
#ifndef TOOLBOX_SCRATCH_H
#define TOOLBOX_SCRATCH_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

// Where a Scratch takes its blocks. allocate and allocateZeroed may return
// null when memory runs out; outOfMemory is then called with the bytes
// asked for: it raises an error or throws, and does not return.
struct ScratchAllocator {
  void *(*allocate)(std::size_t bytes);
  void *(*allocateZeroed)(std::size_t bytes);
  void (*release)(void *block);
  void (*outOfMemory)(std::size_t bytes);
};

// The C library's allocator; running out of memory throws std::bad_alloc.
inline ScratchAllocator systemAllocator() {
  return {[](std::size_t bytes) { return std::malloc(bytes); },
          [](std::size_t bytes) { return std::calloc(bytes, 1); },
          [](void *block) { std::free(block); },
          [](std::size_t) -> void { throw std::bad_alloc(); }};
}

// The memory of one call, or of one part of it: every block taken here is
// released by the destructor, most recent first.
class Scratch {
 public:
  explicit Scratch(const ScratchAllocator &allocator) : allocator_(allocator) {}
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  ~Scratch() {
    while (last_ != nullptr) {
      Header *previous = last_->previous;
      allocator_.release(last_);
      last_ = previous;
    }
  }

  // count elements of T, not initialised.
  template <class T>
  T *take(std::int64_t count) {
    return static_cast<T *>(block(bytesFor<T>(count), false));
  }

  // count elements of T, all bytes zero.
  template <class T>
  T *takeZeroed(std::int64_t count) {
    return static_cast<T *>(block(bytesFor<T>(count), true));
  }

  // Where this Scratch takes its blocks (for a Scratch of a part of the call).
  const ScratchAllocator &allocator() const { return allocator_; }

 private:
  // In front of each block; its size keeps the block 16-byte aligned.
  struct alignas(16) Header {
    Header *previous;
  };
  static constexpr std::size_t kLargest = std::numeric_limits<std::size_t>::max() - sizeof(Header);

  // Memory ran out (or was asked for beyond every size): the allocator's
  // error. It does not return; should it, the call ends in bad_alloc.
  [[noreturn]] void outOfMemory(std::size_t bytes) const {
    allocator_.outOfMemory(bytes);
    throw std::bad_alloc();
  }

  template <class T>
  std::size_t bytesFor(std::int64_t count) const {
    if (count < 0 || static_cast<std::uint64_t>(count) > kLargest / sizeof(T))
      outOfMemory(kLargest);
    return sizeof(T) * static_cast<std::size_t>(count);
  }

  void *block(std::size_t bytes, bool zeroed) {
    std::size_t total = sizeof(Header) + bytes;
    void *raw = zeroed ? allocator_.allocateZeroed(total) : allocator_.allocate(total);
    if (raw == nullptr) outOfMemory(total);
    auto *header = static_cast<Header *>(raw);
    header->previous = last_;
    last_ = header;
    return header + 1;
  }

  ScratchAllocator allocator_;
  Header *last_ = nullptr;
};

}  // namespace

#endif
