// scratch.h: the one way the plug-ins hold memory within a call.
//
// Every block a routine needs beyond the host's arrays comes from a Scratch
// and is released when that Scratch goes out of scope: on a normal return,
// and when an error unwinds the call. Blocks are carved from a few large
// chunks, chained through a small header in front of each, so no routine
// keeps a list of what to free and a call makes few host allocations.
//
// Where chunks come from is the Scratch's allocator, a table of functions
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
#include <cstring>
#include <limits>
#include <new>

namespace {

// Where a Scratch takes its chunks. allocate may return null when memory
// runs out; outOfMemory is then called with the bytes asked for: it raises
// an error or throws, and does not return.
struct ScratchAllocator {
  void *(*allocate)(std::size_t bytes);
  void (*release)(void *block);
  void (*outOfMemory)(std::size_t bytes);
};

// The C library's allocator; running out of memory throws std::bad_alloc.
inline ScratchAllocator systemAllocator() {
  return {[](std::size_t bytes) { return std::malloc(bytes); },
          [](void *block) { std::free(block); },
          [](std::size_t) -> void { throw std::bad_alloc(); }};
}

// The memory of one call: every block taken here is released by the
// destructor. Blocks are carved from chunks, each one host allocation: the
// first of chunkBytes (or of the first block's size when chunkBytes is 0),
// each further one at least twice the one before, so that a call makes few
// allocations however many blocks it takes. A Scratch may start on a
// buffer of the caller's (on its stack): blocks come from there until it is
// full, and only then from the allocator, so that a small call makes no
// allocation at all. A ScratchScope gives back, when it ends, the blocks a
// part of the call took.
class Scratch {
 public:
  explicit Scratch(const ScratchAllocator &allocator, std::size_t chunkBytes = 0)
      : allocator_(allocator), nextChunk_(chunkBytes) {}
  // Starts on buffer (bufferBytes bytes, 16-byte aligned, outliving the
  // Scratch), then takes chunks of chunkBytes and more as above.
  Scratch(const ScratchAllocator &allocator, std::size_t chunkBytes, void *buffer,
          std::size_t bufferBytes)
      : Scratch(allocator, chunkBytes) {
    if (buffer != nullptr && bufferBytes > sizeof(Chunk)) {
      borrowed_ = static_cast<Chunk *>(buffer);
      borrowed_->previous = nullptr;
      borrowed_->size = (bufferBytes - sizeof(Chunk)) / kAlignment * kAlignment;
      borrowed_->used = 0;
      last_ = borrowed_;
    }
  }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  ~Scratch() { releaseAfter(nullptr); }

  // count elements of T, not initialised.
  template <class T>
  T *take(std::int64_t count) {
    return static_cast<T *>(carve(bytesFor<T>(count)));
  }

  // count elements of T, all bytes zero.
  template <class T>
  T *takeZeroed(std::int64_t count) {
    std::size_t bytes = bytesFor<T>(count);
    void *block = carve(bytes);
    std::memset(block, 0, bytes);
    return static_cast<T *>(block);
  }

  // Where this Scratch takes its blocks (for a Scratch of its own).
  const ScratchAllocator &allocator() const { return allocator_; }

  // A part of the call about to take about bytes more: a chunk made from
  // now on holds at least that, so that it takes them in one allocation.
  void reserve(std::size_t bytes) {
    if (bytes > nextChunk_ && bytes < kLargest) nextChunk_ = bytes;
  }

  // How far the blocks taken so far reach; rewind(mark) gives back every
  // block taken since mark() (and the chunks made for them).
  struct Mark {
    void *chunk;
    std::size_t used;
  };
  Mark mark() const { return {last_, last_ != nullptr ? last_->used : 0}; }
  void rewind(const Mark &mark) {
    releaseAfter(static_cast<Chunk *>(mark.chunk));
    if (last_ != nullptr) last_->used = mark.used;
  }

 private:
  // In front of each chunk; its size keeps every block 16-byte aligned.
  struct alignas(16) Chunk {
    Chunk *previous;
    std::size_t size;  // bytes after the header
    std::size_t used;
  };
  static constexpr std::size_t kAlignment = 16;
  static constexpr std::size_t kLargest =
      std::numeric_limits<std::size_t>::max() / 2 - sizeof(Chunk) - kAlignment;

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

  void *carve(std::size_t bytes) {
    bytes = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    if (last_ == nullptr || last_->size - last_->used < bytes) newChunk(bytes);
    void *block = reinterpret_cast<unsigned char *>(last_ + 1) + last_->used;
    last_->used += bytes;
    return block;
  }

  void newChunk(std::size_t bytes) {
    std::size_t size = bytes > nextChunk_ ? bytes : nextChunk_;
    void *raw = allocator_.allocate(sizeof(Chunk) + size);
    if (raw == nullptr) outOfMemory(sizeof(Chunk) + size);
    auto *chunk = static_cast<Chunk *>(raw);
    chunk->previous = last_;
    chunk->size = size;
    chunk->used = 0;
    last_ = chunk;
    nextChunk_ = size < kLargest / 2 ? 2 * size : size;
  }

  // Releases every chunk made after chunk (every one for null); the
  // caller's buffer is not the allocator's to release.
  void releaseAfter(Chunk *chunk) {
    while (last_ != nullptr && last_ != chunk) {
      Chunk *previous = last_->previous;
      if (last_ != borrowed_) allocator_.release(last_);
      last_ = previous;
    }
  }

  ScratchAllocator allocator_;
  std::size_t nextChunk_;
  Chunk *last_ = nullptr;
  Chunk *borrowed_ = nullptr;  // the caller's buffer, when the Scratch starts on one
};

// A part of a call (a routine's temporary blocks, an engine tried in its
// turn): the blocks taken from scratch while it lasts are given back when
// it ends.
class ScratchScope {
 public:
  explicit ScratchScope(Scratch &scratch) : scratch_(scratch), mark_(scratch.mark()) {}
  ScratchScope(const ScratchScope &) = delete;
  ScratchScope &operator=(const ScratchScope &) = delete;
  ~ScratchScope() { scratch_.rewind(mark_); }

 private:
  Scratch &scratch_;
  Scratch::Mark mark_;
};

}  // namespace

#endif
