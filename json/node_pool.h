// Storage for element implementations. A parsed tree is hundreds of thousands
// of blocks of a few dozen bytes that live and die together; taking them from
// malloc one by one costs more than the parse (free lists, consolidation,
// heap trimming). Blocks are cut from 16 KiB slabs instead, one slab at a time
// per thread, and a slab goes back to the heap when its last block is freed,
// from whichever thread frees it.
#pragma once

#include <cstddef>

namespace json {
namespace detail {

// Blocks above this size come from operator new.
constexpr size_t kMaxPooledNode = 256;

void* AllocateNode(size_t size);
// size is the size that was asked of AllocateNode.
void FreeNode(void* block, size_t size) noexcept;

}  // namespace detail
}  // namespace json
