// basics.h: what every part of pairsolve uses. The element index of a
// column-major matrix, the index that stands for no row or column, +Inf,
// the outcomes of a solve, and Scratch, the one owner of a solve's host
// memory.
//
// Every block a solve takes from the host (mxMalloc, mxCalloc) is taken
// through a Scratch and freed when that Scratch goes out of scope: on a
// normal return, and when an error (such as the host's out-of-memory error
// from inside mxMalloc) unwinds the call. Blocks are chained through a small
// header in front of each, so no routine keeps a list of what to free.
#ifndef PAIRSOLVE_BASICS_H
#define PAIRSOLVE_BASICS_H

#include <cstddef>
#include <cstdint>
#include <limits>

#include "mexapi.h"

namespace {

// No row or column (an index that is not one).
constexpr int kNone = -1;

constexpr double kInf = std::numeric_limits<double>::infinity();

// How a solve ends: complete (the stars are the pairs); stuck (the steps
// cannot complete: NaN or overflowed working costs); inexact (the exact
// engine cannot take these costs); refused (the costs were refused before
// anything was solved, with a failure saying why).
enum class SolveOutcome { complete, stuck, inexact, refused };

// Element (r, c) of an M-row column-major matrix.
inline std::int64_t at(int r, int c, int M) {
  return static_cast<std::int64_t>(r) + static_cast<std::int64_t>(M) * c;
}

// The host memory of one solve, or of one step of it: every block taken
// here is freed by the destructor, most recent first.
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  ~Scratch() {
    while (last_ != nullptr) {
      Header *previous = last_->previous;
      mxFree(last_);
      last_ = previous;
    }
  }

  // count elements of T, not initialised.
  template <class T>
  T *take(std::int64_t count) {
    return static_cast<T *>(block(sizeof(T) * static_cast<std::size_t>(count), false));
  }

  // count elements of T, all bytes zero.
  template <class T>
  T *takeZeroed(std::int64_t count) {
    return static_cast<T *>(block(sizeof(T) * static_cast<std::size_t>(count), true));
  }

 private:
  // In front of each block; its size keeps the block 16-byte aligned.
  struct alignas(16) Header {
    Header *previous;
  };

  void *block(std::size_t bytes, bool zeroed) {
    std::size_t total = sizeof(Header) + bytes;
    auto *header = static_cast<Header *>(zeroed ? mxCalloc(total, 1) : mxMalloc(total));
    header->previous = last_;
    last_ = header;
    return header + 1;
  }

  Header *last_ = nullptr;
};

}  // namespace

#endif
