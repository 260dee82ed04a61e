#include "json/elements.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace {

using json::Element;
using json::json_cast;
using json::Member;
using json::Number;
using json::Object;

Element Read(const std::string& text) {
  Element element;
  json::Reader::Read(element, text);
  return element;
}

template <typename H>
bool Casts(Element& element) {
  try {
    json_cast<H&>(element);
    json_cast<const H&>(static_cast<const Element&>(element));
    return true;
  } catch (const json::Exception& e) {
    EXPECT_STREQ(e.what(), "Bad json_cast");
    return false;
  }
}

TEST(ElementModel, CastsSucceedExactlyForTheElementsOwnTag) {
  for (const char* text : {"{}", "[]", "2", "\"s\"", "true", "null"}) {
    Element e = Read(text);
    const json::ElementType t = e.Type();
    EXPECT_EQ(t == json::kObjectType, Casts<Object>(e)) << text;
    EXPECT_EQ(t == json::kArrayType, Casts<json::Array>(e)) << text;
    EXPECT_EQ(t == json::kNumberType, Casts<Number>(e)) << text;
    EXPECT_EQ(t == json::kStringType, Casts<json::String>(e)) << text;
    EXPECT_EQ(t == json::kBooleanType, Casts<json::Boolean>(e)) << text;
    EXPECT_EQ(t == json::kNullType, Casts<json::Null>(e)) << text;
  }
  // A typed handle that was handed another type refuses every typed operation.
  Object object;
  static_cast<Element&>(object) = json::String("x");
  EXPECT_THROW(object["a"], json::Exception);
  try {
    object.Size();
    FAIL();
  } catch (const json::Exception& e) {
    EXPECT_STREQ(e.what(), "Type/ImpType mismatch");
  }
}

TEST(ElementModel, MembersKeepTheirFirstPositionAndNamesStayUnique) {
  for (const size_t count : {3, 40}) {  // a linear search, then the position table
    SCOPED_TRACE(count);
    Object object;
    EXPECT_EQ(object["x"], json::Null());
    for (size_t i = 0; i < count; ++i) object["m" + std::to_string(i)] = json::String("first");
    EXPECT_EQ(json_cast<Number&>(object["m1"] = Number(7)).Value(), 7);
    EXPECT_EQ(object.Begin()[2].name, "m1");
    EXPECT_EQ(object.Begin()[2].element, Number(7));
    // Insert returns the copy; a name that exists is refused and changes nothing.
    const Object::iterator end = object.Insert(Member("end", Number(1)));
    EXPECT_EQ(end, object.End() - 1);
    const Object::iterator front = object.Insert(Member("front"), object.Begin());
    EXPECT_EQ(front, object.Begin());
    EXPECT_EQ(object["m0"] = Number(9), object.Begin()[2].element);
    try {
      object.Insert(Member("m0"));
      FAIL();
    } catch (const json::Exception& e) {
      EXPECT_STREQ(e.what(), "Object member already exists: m0");
    }
    EXPECT_EQ(object.Size(), count + 3);
    EXPECT_EQ(object.Find("absent"), object.End());
    EXPECT_EQ(object.Find("end"), object.End() - 1);
    object.Clear();
    EXPECT_TRUE(object.Empty());
    object["m1"] = json::Null();
    EXPECT_EQ(object.Size(), 1u);
  }
}

TEST(ElementModel, CopiesAreDeepAndMovesLeaveANull) {
  const Element source = Read("{\"list\":[\"one\"],\"inner\":{\"k\":true}}");
  const std::string written = json::Writer::ToString(source);
  Element copy = source;
  json::Array& list = json_cast<json::Array&>(json_cast<Object&>(copy)["list"]);
  list.Insert(json::String("two"), list.Begin());
  EXPECT_EQ(list[0], json::String("two"));
  EXPECT_THROW(list[2], json::Exception);
  json_cast<Object&>(json_cast<Object&>(copy)["inner"])["k"] = json::Boolean(false);
  EXPECT_NE(copy, source);
  EXPECT_EQ(json::Writer::ToString(source), written);
  Element moved = std::move(copy);
  EXPECT_EQ(copy, json::Null());
  copy = source;
  moved = std::move(copy);
  Element& self = moved;
  moved = self;
  moved = std::move(self);
  EXPECT_EQ(json::Writer::ToString(moved), written);
}

TEST(ElementModel, EqualityIsStructuralAndOrdered) {
  // Every two of these differ.
  const Element all = Read(
      "[{\"a\":1,\"b\":2}, {\"b\":2,\"a\":1}, {\"a\":1}, {\"A\":1}, {\"a\":2}, [null], [false], "
      "[null,null], [], {}, null, true, false, 1, \"1\", \"a\", \"\"]");
  const json::Array& values = json_cast<const json::Array&>(all);
  for (auto a = values.Begin(); a != values.End(); ++a) {
    for (auto b = values.Begin(); b != values.End(); ++b) {
      EXPECT_EQ(*a == *b, a == b) << json::Writer::ToString(*a) << " " << json::Writer::ToString(*b);
      EXPECT_EQ(*a != *b, a != b);
    }
  }
  EXPECT_EQ(Read("0"), Read("-0"));
  EXPECT_NE(Element(Number(NAN)), Element(Number(NAN)));
}

// Implementations come from the node pool. On a fresh thread: a slab filled
// with blocks freed at once is started over; then live blocks of every size
// across many slabs, most of the first slab's freed again. No live block may
// be handed out twice, nor a slab be freed before its last block: heap blocks
// taken afterwards would overwrite it.
TEST(NodePool, LiveBlocksNeverOverlapWhileEmptiedSlabsAreReused) {
  std::thread([] {
    using json::detail::AllocateNode;
    using json::detail::FreeNode;
    for (int i = 0; i < 300; ++i) FreeNode(AllocateNode(64), 64);
    std::vector<std::pair<unsigned char*, size_t>> blocks(4000);
    const auto take = [&blocks](size_t i, size_t size) {
      blocks[i] = {static_cast<unsigned char*>(AllocateNode(size)), size};
      std::memset(blocks[i].first, static_cast<int>(i & 0xFF), size);
    };
    for (size_t i = 0; i < blocks.size(); ++i)
      take(i, i < 2000 ? 8 : 1 + i * 5 % (json::detail::kMaxPooledNode + 16));
    const size_t freed = 1500;
    for (size_t i = 0; i < freed; ++i) FreeNode(blocks[i].first, blocks[i].second);
    const std::vector<std::string> filler(64, std::string(4000, '\xEE'));  // takes what the heap got back
    for (size_t i = freed; i < blocks.size(); ++i) {
      for (size_t b = 0; b < blocks[i].second; ++b) ASSERT_EQ(blocks[i].first[b], i & 0xFF) << i;
      FreeNode(blocks[i].first, blocks[i].second);
    }
    FreeNode(nullptr, 8);
  }).join();
}

// Trees built on threads that end before the trees die, and destroyed on
// another thread while it builds too (the service hands answers between its
// threads).
TEST(NodePool, TreesOutliveTheirThreadAndDieElsewhere) {
  const std::string text = "[{\"a\":1,\"b\":\"a string longer than a short string\",\"c\":[true,null]}]";
  std::vector<Element> trees(32);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&trees, &text, t] {
      for (size_t i = t; i < trees.size(); i += 4) trees[i] = Read(text);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::thread destroyer([&trees, &text] {
    for (size_t i = 0; i < trees.size(); i += 2) trees[i] = Read(text);
  });
  for (size_t i = 1; i < trees.size(); i += 2) trees[i] = Element(trees[i]);
  destroyer.join();
  for (const Element& tree : trees) EXPECT_EQ(tree, Read(text));
}

}  // namespace
