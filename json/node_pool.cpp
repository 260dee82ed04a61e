#include "json/node_pool.h"

#include <atomic>
#include <cstdint>
#include <new>

namespace json {
namespace detail {

namespace {

constexpr size_t kSlabSize = 16 * 1024;  // a power of two: a block finds its slab by masking
constexpr size_t kGrain = 8;

// The allocating thread holds kBudget references on its current slab and
// spends one per block without touching the counter; a free takes one back
// atomically. On leaving the slab the thread returns the budget it did not
// spend, so the counter then equals the live blocks. While the thread is on
// it the counter stays above zero (a slab holds fewer than kBudget blocks).
constexpr uint32_t kBudget = 1u << 30;

struct Slab {
  std::atomic<uint32_t> refs{kBudget};
};

constexpr size_t Rounded(size_t size) {
  return (size + kGrain - 1) & ~(kGrain - 1);
}

constexpr size_t kFirstBlock = Rounded(sizeof(Slab));
static_assert(kSlabSize / kGrain < kBudget, "a slab's blocks must not exhaust the budget");

Slab* SlabOf(void* block) {
  return reinterpret_cast<Slab*>(reinterpret_cast<uintptr_t>(block) & ~(uintptr_t(kSlabSize) - 1));
}

void Release(Slab* slab, uint32_t count) noexcept {
  if (slab->refs.fetch_sub(count, std::memory_order_acq_rel) == count) {
    slab->~Slab();
    ::operator delete(static_cast<void*>(slab), std::align_val_t(kSlabSize));
  }
}

struct ThreadSlab {
  Slab* slab = nullptr;
  size_t next = 0;     // offset of the next free byte
  uint32_t spent = 0;  // blocks handed out from the slab

  void Leave() noexcept {
    if (slab != nullptr) Release(slab, kBudget - spent);
    slab = nullptr;
  }
};

// The slab is left when the thread ends. The state itself is trivially
// destructible, so a block allocated during the thread's own teardown still
// finds a usable (if leaked) slab rather than a destroyed object.
thread_local ThreadSlab t_slab;
struct ThreadSlabLeaver {
  ~ThreadSlabLeaver() { t_slab.Leave(); }
};
thread_local ThreadSlabLeaver t_leaver;

}  // namespace

void* AllocateNode(size_t size) {
  size = Rounded(size);
  if (size > kMaxPooledNode) return ::operator new(size);
  ThreadSlab& state = t_slab;
  if (state.slab == nullptr || state.next + size > kSlabSize) {
    if (state.slab != nullptr && state.slab->refs.load(std::memory_order_acquire) == kBudget - state.spent) {
      // Every block of the full slab is free again: start it over.
      state.slab->refs.store(kBudget, std::memory_order_relaxed);
    } else {
      void* raw = ::operator new(kSlabSize, std::align_val_t(kSlabSize));
      (void)&t_leaver;  // registers the thread's leaver on first use
      state.Leave();
      state.slab = new (raw) Slab();
    }
    state.next = kFirstBlock;
    state.spent = 0;
  }
  void* block = reinterpret_cast<char*>(state.slab) + state.next;
  state.next += size;
  ++state.spent;
  return block;
}

void FreeNode(void* block, size_t size) noexcept {
  if (block == nullptr) return;
  if (Rounded(size) > kMaxPooledNode) {
    ::operator delete(block);
    return;
  }
  Release(SlabOf(block), 1);
}

}  // namespace detail
}  // namespace json
