// A counting global operator new/delete for the benchmarks: the live C++ heap
// (g_live) and its high-water mark (g_peak, reset by the benchmark). Blocks
// allocated while t_farmSide is set (a faked web farm's own work) are not
// counted. Include in one translation unit per program: it replaces the
// global allocation functions.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
thread_local int t_farmSide = 0;
constexpr size_t kHeader = 16;                  // keeps the block 16-byte aligned
constexpr size_t kUncounted = size_t(1) << 63;  // the size word's flag for a farm-side block

// Every block carries two words just before it: its size (with the
// farm-side flag) and the length of the header in front of it, which is 16
// bytes or, for an over-aligned block, its alignment.
void* CountedAlloc(size_t size, size_t align = kHeader) {
  const size_t a = align < kHeader ? kHeader : align;
  void* raw = a == kHeader ? std::malloc(size + a) : std::aligned_alloc(a, (size + a + a - 1) / a * a);
  if (raw == nullptr) throw std::bad_alloc();
  size_t* block = reinterpret_cast<size_t*>(static_cast<char*>(raw) + a);
  block[-1] = size | (t_farmSide ? kUncounted : 0);
  block[-2] = a;
  if (!t_farmSide) {
    // Relaxed: the figures are read between runs, and the cost stays small
    // next to the allocation it counts (the JSON figures include it).
    const int64_t live =
        g_live.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed) + static_cast<int64_t>(size);
    if (live > g_peak.load(std::memory_order_relaxed)) g_peak.store(live, std::memory_order_relaxed);
  }
  return block;
}

void CountedFree(void* p) {
  if (p == nullptr) return;
  const size_t word = static_cast<size_t*>(p)[-1];
  const size_t a = static_cast<size_t*>(p)[-2];
  if (!(word & kUncounted)) g_live.fetch_sub(static_cast<int64_t>(word), std::memory_order_relaxed);
  std::free(static_cast<char*>(p) - a);
}

}  // namespace

void* operator new(size_t size) {
  return CountedAlloc(size);
}
void* operator new[](size_t size) {
  return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
  CountedFree(p);
}
void operator delete[](void* p) noexcept {
  CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
  CountedFree(p);
}
void* operator new(size_t size, std::align_val_t align) {
  return CountedAlloc(size, static_cast<size_t>(align));
}
void* operator new[](size_t size, std::align_val_t align) {
  return CountedAlloc(size, static_cast<size_t>(align));
}
void operator delete(void* p, std::align_val_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  CountedFree(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  CountedFree(p);
}
