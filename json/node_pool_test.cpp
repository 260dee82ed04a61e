#include "json/node_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "json/elements.h"
#include "json/reader.h"
#include "json/writer.h"

namespace {

// Blocks of every pooled size, written whole, never overlap, and come back
// freed in any order; sizes above the pool go to operator new. Run under the
// sanitizers, a slab freed early or twice shows as a use after free.
TEST(NodePool, BlocksOfEverySizeAreDistinctAndFreeInAnyOrder) {
  struct Block {
    unsigned char* p;
    size_t size;
  };
  std::vector<Block> blocks;
  for (int round = 0; round < 300; ++round) {
    for (size_t size = 1; size <= json::detail::kMaxPooledNode + 64; size += 7) {
      auto* p = static_cast<unsigned char*>(json::detail::AllocateNode(size));
      ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u) << size;
      std::memset(p, static_cast<int>(blocks.size() & 0xFF), size);
      blocks.push_back({p, size});
    }
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    const unsigned char expected = static_cast<unsigned char>(i & 0xFF);
    for (size_t b = 0; b < blocks[i].size; ++b) ASSERT_EQ(blocks[i].p[b], expected) << "block " << i;
  }
  // Odd ones first, then the even ones backwards: slabs empty out of order.
  for (size_t i = 1; i < blocks.size(); i += 2) json::detail::FreeNode(blocks[i].p, blocks[i].size);
  for (size_t i = blocks.size() & ~size_t(1); i-- > 0;) {
    if (i % 2 == 0) json::detail::FreeNode(blocks[i].p, blocks[i].size);
  }
  json::detail::FreeNode(nullptr, 8);
}

// Trees built on one thread and destroyed on another (the service hands
// answers between its threads), while both threads keep allocating; the
// building threads end before the trees die.
TEST(NodePool, TreesOutliveTheThreadThatBuiltThemAndDieElsewhere) {
  const std::string text =
      "[{\"a\":1,\"b\":\"a string longer than the short-string buffer\",\"c\":[true,false,null]},"
      "{\"d\":{\"e\":2.5}}]";
  json::Element reference;
  json::Reader::Read(reference, text);
  const std::string expected = json::Writer::ToString(reference);
  std::vector<json::Element> trees(64);
  std::vector<std::thread> builders;
  for (int t = 0; t < 4; ++t) {
    builders.emplace_back([&trees, &text, t] {
      for (size_t i = static_cast<size_t>(t); i < trees.size(); i += 4) {
        json::Element scratch;  // a tree that dies at once, on this thread
        json::Reader::Read(scratch, text);
        json::Reader::Read(trees[i], text);
      }
    });
  }
  for (std::thread& builder : builders) builder.join();

  std::thread destroyer([&trees, &text, &expected] {
    for (size_t i = 0; i < trees.size(); i += 2) {
      EXPECT_EQ(json::Writer::ToString(trees[i]), expected);
      trees[i] = json::Element();
      json::Reader::Read(trees[i], text);  // and new ones built here
    }
  });
  for (size_t i = 1; i < trees.size(); i += 2) trees[i] = json::Element(trees[i]);  // copies, on this thread
  destroyer.join();
  for (const json::Element& tree : trees) EXPECT_EQ(json::Writer::ToString(tree), expected);
  trees.clear();
}

}  // namespace
