#include "json/elements.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace {

using json::Element;
using json::json_cast;
using json::Number;
using json::Object;

Element Read(const std::string& text) {
  Element element;
  json::Reader::Read(element, text);
  return element;
}

Element& M(Element& element, const std::string& name) {
  return json_cast<Object&>(element)[name];
}

// While set, every allocation of the C++ heap fails.
bool g_failAllocations = false;

TEST(ElementModel, CopiesAreDeepMovesLeaveANullAndEqualityIsStructural) {
  const Element source = Read("{\"list\":[\"one\"],\"inner\":{\"k\":true}}");
  const std::string written = json::Writer::ToString(source);
  Element copy = source;
  json::Array& list = json_cast<json::Array&>(json_cast<Object&>(copy)["list"]);
  list.Insert(json::String("two"), list.Begin());
  EXPECT_EQ(list[0], json::String("two"));
  EXPECT_THROW(list[2], json::Exception);
  json_cast<Object&>(json_cast<Object&>(copy)["inner"])["k"] = json::Boolean(false);
  EXPECT_EQ(json::Writer::ToString(source), written);
  Element moved = std::move(copy);
  EXPECT_EQ(copy, json::Null());
  copy = source;
  moved = std::move(copy);
  Element& self = moved;
  moved = self;
  moved = std::move(self);
  EXPECT_EQ(json::Writer::ToString(moved), written);
  // Every two of these differ.
  const Element all = Read(
      "[{\"a\":1,\"b\":2}, {\"b\":2,\"a\":1}, {\"a\":1}, {\"A\":1}, {\"a\":2}, [null], [false], "
      "[null,null], [], {}, null, true, false, 1, \"1\", \"a\", \"\"]");
  const json::Array& values = json_cast<const json::Array&>(all);
  for (auto a = values.Begin(); a != values.End(); ++a) {
    for (auto b = values.Begin(); b != values.End(); ++b) EXPECT_EQ(*a == *b, a == b);
  }
  EXPECT_THROW(values[values.Size()], json::Exception);
  EXPECT_EQ(Read("0"), Read("-0"));
  EXPECT_NE(Element(Number(NAN)), Element(Number(NAN)));
}

// A tree assigned one of its own parts, or a member another member of its
// object while the left one is added (the right side is evaluated first).
TEST(ElementModel, AssignmentsBetweenATreeAndItsOwnPartsAreSafe) {
  const struct {
    const char* before;
    void (*assign)(Element&);
    const char* after;
  } cases[] = {
      {R"({"n":{"x":[1]},"m":2})", [](Element& e) { e = std::move(M(e, "n")); }, R"({"x":[1]})"},
      {R"([[1,{"k":"longer than a word"}],3])",
       [](Element& e) { e = std::move(json_cast<json::Array&>(e)[0]); }, R"([1,{"k":"longer than a word"}])"},
      {R"({"b":[true]})", [](Element& e) { M(e, "a") = M(e, "b"); }, R"({"b":[true],"a":[true]})"},
      {R"({"b":[true]})", [](Element& e) { M(e, "a") = std::move(M(e, "b")); }, R"({"b":null,"a":[true]})"},
      {"{}", [](Element& e) { M(e, "a") = M(e, "c"); }, R"({"c":null,"a":null})"},
  };
  for (const auto& c : cases) {
    Element e = Read(c.before);
    c.assign(e);
    EXPECT_EQ(json::Writer::ToString(Read(c.after)), json::Writer::ToString(e)) << c.before << " " << c.after;
  }
  Element built = Object();  // members added one by one, across every growth of their storage
  std::string expected = "{";
  for (int n = 0; n < 70; ++n) {
    const std::string name = "k" + std::to_string(n);
    M(built, name) = M(built, "k" + std::to_string(n / 2));
    M(built, name) = Number(n);
    expected += (n ? ",\"" : "\"") + name + "\":" + std::to_string(n);
    ASSERT_EQ(json::Writer::ToString(Read(expected + "}")), json::Writer::ToString(built)) << n;
  }
}

// Appends that run out of memory, at any size, leave the object as it was
// (one that needed no memory has added its member); then, in the big object,
// the first member of a name is found whatever names were changed through an
// iterator, a member inserted first moves the others on, and Clear empties it.
TEST(ElementModel, AppendsOutOfMemoryRenamesAndInsertsInABigObject) {
  std::string text = "{\"m0\":0";  // read: its member storage holds exactly these
  for (int i = 1; i < 40; ++i) text += ",\"m" + std::to_string(i) + "\":" + std::to_string(i);
  Element e = Read(text + "}");
  Object& o = json_cast<Object&>(e);
  for (size_t n = 40; n < 300; ++n) {
    const std::string before = json::Writer::ToString(e), name = "m" + std::to_string(n);
    bool threw = false;
    g_failAllocations = true;
    try {
      o[name];
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    g_failAllocations = false;
    ASSERT_EQ(threw ? before : name, threw ? json::Writer::ToString(e) : (o.End() - 1)->name) << n;
    o[name] = Number(static_cast<double>(n));
    ASSERT_EQ(Number(static_cast<double>(n)), (o.End() - 1)->element) << n;
  }
  o.Begin()->name = "m299";
  (o.Begin() + 1)->name = "renamed";
  EXPECT_EQ(Number(0), o["m299"]);
  EXPECT_EQ(Number(1), o["renamed"]);
  EXPECT_EQ(300u, o.Size());
  EXPECT_EQ(Element(), o["m1"]);  // now a new member at the end
  EXPECT_EQ(o.End() - 1, o.Find("m1"));
  o.Begin()->name = "m0";
  EXPECT_EQ(Number(299), o["m299"]);
  EXPECT_EQ(o.Begin(), o.Insert(json::Member("first", Number(-1)), o.Begin()));
  EXPECT_THROW(o.Insert(json::Member("m7")), json::Exception);
  EXPECT_EQ("first m0 renamed m2 302", o.Begin()->name + " " + (o.Begin() + 1)->name + " " +
                                           (o.Begin() + 2)->name + " " + (o.Begin() + 3)->name + " " +
                                           std::to_string(o.Size()));
  EXPECT_EQ(Number(299), (o.End() - 2)->element);
  o.Clear();
  EXPECT_EQ(Element(), o["m7"]);
  EXPECT_EQ(o.Begin(), o.Find("m7"));
  EXPECT_EQ(1u, o.Size());
}

// Slabs are the only allocations aligned to their own 16 KiB size: count them.
std::atomic<int> g_slabs{0};

// On a fresh thread a slab whose blocks are all freed is started over; blocks
// freed by another thread after that one ended keep their slab alive until the
// last of them, and then no slab is left.
TEST(NodePool, LiveBlocksNeverOverlapEmptiedSlabsAreReusedAndNoSlabLeaks) {
  using json::detail::AllocateNode;
  using json::detail::FreeNode;
  std::vector<std::pair<unsigned char*, size_t>> blocks(4000);
  const size_t freed = 1500;
  const int before = g_slabs;
  std::thread([&blocks] {
    void* first = AllocateNode(64);
    FreeNode(first, 64);
    for (int i = 0; i < 1000; ++i) {
      void* block = AllocateNode(64);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) >> 14, reinterpret_cast<uintptr_t>(first) >> 14) << i;
      FreeNode(block, 64);
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
      const size_t size = i < 2000 ? 8 : 1 + i * 5 % (json::detail::kMaxPooledNode + 16);
      blocks[i] = {static_cast<unsigned char*>(AllocateNode(size)), size};
      std::memset(blocks[i].first, static_cast<int>(i & 0xFF), size);
    }
    for (size_t i = 0; i < freed; ++i) FreeNode(blocks[i].first, blocks[i].second);
  }).join();
  EXPECT_GT(g_slabs - before, 2);
  const std::vector<std::string> filler(64, std::string(4000, '\xEE'));  // takes what the heap got back
  for (size_t i = freed; i < blocks.size(); ++i) {
    for (size_t b = 0; b < blocks[i].second; ++b) ASSERT_EQ(blocks[i].first[b], i & 0xFF) << i;
    FreeNode(blocks[i].first, blocks[i].second);
  }
  FreeNode(nullptr, 8);
#ifndef _WIN32  // mingw's emulated TLS hands the ending thread's leaver a fresh slab state: its slab stays
  EXPECT_EQ(g_slabs, before);
#endif
}

}  // namespace

namespace {

// Every form over one aligned allocator, which fails on request; slabs are
// counted.
void* Allocate(size_t size, size_t align) {
  if (g_failAllocations) throw std::bad_alloc();
  g_slabs += align == 16384;
#ifdef _WIN32
  void* p = _aligned_malloc(size ? size : 1, align);
#else
  void* p = std::aligned_alloc(align, ((size ? size : 1) + align - 1) & ~(align - 1));
#endif
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void Free(void* p, size_t align) noexcept {
  if (p == nullptr) return;
  g_slabs -= align == 16384;
#ifdef _WIN32
  _aligned_free(p);
#else
  std::free(p);
#endif
}

}  // namespace

void* operator new(size_t size) {
  return Allocate(size, 16);
}
void operator delete(void* p) noexcept {
  Free(p, 16);
}
void operator delete(void* p, size_t) noexcept {
  Free(p, 16);
}
void* operator new(size_t size, std::align_val_t align) {
  return Allocate(size, static_cast<size_t>(align));
}
void operator delete(void* p, std::align_val_t align) noexcept {
  Free(p, static_cast<size_t>(align));
}
void operator delete(void* p, size_t, std::align_val_t align) noexcept {
  Free(p, static_cast<size_t>(align));
}
