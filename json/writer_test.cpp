#include "json/writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "json/reader.h"

namespace {

using json::Array;
using json::Boolean;
using json::Element;
using json::Null;
using json::Number;
using json::Object;
using json::String;
using json::Writer;

std::string Write(const Element& element) {
  std::ostringstream stream;
  Writer::Write(element, stream);
  EXPECT_TRUE(stream.good());
  return stream.str();
}

TEST(Writer, LayoutOfNestedDocuments) {
  Object object;
  object["a"] = Number(1);
  object["b"] = String("x");
  EXPECT_EQ(Write(object), "{\n\t\"a\" : 1,\n\t\"b\" : \"x\"\n}");

  Array numbers;
  numbers.Insert(Number(1));
  numbers.Insert(Number(2));
  object["b"] = numbers;
  object["m"] = Object();
  object["e"] = Array();
  Array nested;
  nested.Insert(Object());
  Object inner;
  inner["t"] = Boolean(true);
  inner["n"] = Null();
  nested.Insert(inner);
  object["z"] = nested;
  EXPECT_EQ(Write(object),
            "{\n\t\"a\" : 1,\n\t\"b\" : [\n\t\t1,\n\t\t2\n\t],\n\t\"m\" : {},\n\t\"e\" : [],\n"
            "\t\"z\" : [\n\t\t{},\n\t\t{\n\t\t\t\"t\" : true,\n\t\t\t\"n\" : null\n\t\t}\n\t]\n}");
  EXPECT_EQ(Write(object), Write(object));  // the same tree, the same bytes

  EXPECT_EQ(Write(Object()), "{}");
  EXPECT_EQ(Write(Array()), "[]");
  EXPECT_EQ(Write(Null()), "null");
  EXPECT_EQ(Write(Boolean(false)), "false");
}

TEST(Writer, StringEscapesAndUnescapedNames) {
  const struct {
    std::string value;
    std::string written;
  } cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {"a/b\x01\x1f\x7f\xC3\xA9", "\"a/b\x01\x1f\x7f\xC3\xA9\""},
      {std::string("nul\0here", 8), std::string("\"nul\0here\"", 10)},
  };
  for (const auto& c : cases) EXPECT_EQ(Write(String(c.value)), c.written);

  Object object;
  object["say \"hi\""] = String("say \"hi\"");
  EXPECT_EQ(Write(object), "{\n\t\"say \"hi\"\" : \"say \\\"hi\\\"\"\n}");
}

TEST(Writer, NumbersAreTruncatedToSigned32Bits) {
  const struct {
    double value;
    const char* written;
  } cases[] = {
      {0, "0"},
      {3.7, "3"},
      {-2.5, "-2"},
      {0.99, "0"},
      {-0.5, "0"},
      {-0.0, "0"},
      {1614556800, "1614556800"},
      {2147483647.9, "2147483647"},
      {2147483648.0, "2147483647"},
      {1e300, "2147483647"},
      {std::numeric_limits<double>::infinity(), "2147483647"},
      {-2147483648.0, "-2147483648"},
      {-2147483649.5, "-2147483648"},
      {-std::numeric_limits<double>::infinity(), "-2147483648"},
      {std::nan(""), "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Write(Number(c.value)), c.written) << c.value;
}

TEST(Writer, FailedStreamKeepsItsState) {
  std::ostringstream stream;
  stream.setstate(std::ios::badbit);
  Writer::Write(Object(), stream);
  EXPECT_TRUE(stream.bad());
}

// Random trees written then read back compare equal. Numbers are integers
// in range, since the writer sends every number as one.
class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : m_random(seed) {}

  Element Make(int depth) {
    const int kind = Pick(depth > 4 ? 4 : 6);
    switch (kind) {
      case 0:
        return Null();
      case 1:
        return Boolean(Pick(2) == 1);
      case 2:
        return Number(static_cast<double>(static_cast<int32_t>(m_random())));
      case 3:
        return String(Text());
      case 4: {
        Object object;
        const int count = Pick(6);
        for (int i = 0; i < count; ++i) object[Name() + std::to_string(i)] = Make(depth + 1);
        return object;
      }
      default: {
        Array array;
        const int count = Pick(6);
        for (int i = 0; i < count; ++i) array.Insert(Make(depth + 1));
        return array;
      }
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(m_random() % static_cast<uint32_t>(n)); }
  std::string Text() {
    std::string text;
    const int size = Pick(12);
    for (int i = 0; i < size; ++i) text.push_back(static_cast<char>(Pick(256)));
    return text;
  }
  // Names are written unescaped, so they keep clear of quotes and backslashes.
  std::string Name() {
    std::string name;
    const int size = Pick(5);
    for (int i = 0; i < size; ++i) name.push_back(static_cast<char>('a' + Pick(26)));
    return name;
  }
  std::mt19937 m_random;
};

TEST(Writer, RandomTreesRoundTrip) {
  TreeMaker maker(20261206);
  for (int i = 0; i < 500; ++i) {
    const Element tree = maker.Make(0);
    const std::string text = Write(tree);
    Element back;
    ASSERT_NO_THROW(json::Reader::Read(back, text)) << text;
    ASSERT_EQ(back, tree) << text;
    EXPECT_EQ(Write(back), text);
  }
}

}  // namespace
