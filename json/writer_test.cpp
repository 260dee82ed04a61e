#include "json/writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "json/reader.h"

namespace {

using json::Element;

std::string Write(const Element& element) {
  std::ostringstream stream;
  json::Writer::Write(element, stream);
  return stream.str();
}

TEST(Writer, LayoutOfNestedDocuments) {
  Element tree;
  json::Reader::Read(
      tree, "{\"a\":1,\"b\":[1,2],\"m\":{},\"e\":[],\"z\":[{},{\"t\":true,\"f\":false,\"n\":null}]}");
  EXPECT_EQ(
      Write(tree),
      "{\n\t\"a\" : 1,\n\t\"b\" : [\n\t\t1,\n\t\t2\n\t],\n\t\"m\" : {},\n\t\"e\" : [],\n\t\"z\" : [\n\t\t{},"
      "\n\t\t{\n\t\t\t\"t\" : true,\n\t\t\t\"f\" : false,\n\t\t\t\"n\" : null\n\t\t}\n\t]\n}");
}

TEST(Writer, StringEscapesAndUnescapedNames) {
  std::string lineFeeds;  // more than the writer grows its buffer by
  for (int i = 0; i < 3000; ++i) lineFeeds += "\\n";
  const std::pair<std::string, std::string> cases[] = {
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {"a/b\x01\x1f\x7f\xC3\xA9", "\"a/b\x01\x1f\x7f\xC3\xA9\""},
      {std::string("nul\0here", 8), std::string("\"nul\0here\"", 10)},
      {std::string(3000, '\n'), "\"" + lineFeeds + "\""},
  };
  for (const auto& c : cases) EXPECT_EQ(Write(json::String(c.first)), c.second);
  json::Object object;
  object["say \"hi\""] = json::String("say \"hi\"");
  EXPECT_EQ(Write(object), "{\n\t\"say \"hi\"\" : \"say \\\"hi\\\"\"\n}");
}

TEST(Writer, NumbersAreTruncatedToSigned32Bits) {
  json::Array numbers;
  json::Reader::Read(numbers,
                     "[0, 3.7, -2.5, 0.99, -0.5, -0, 1614556800, 2147483646.9, 2147483647, 2147483648, "
                     "1e999, -2147483647.9, -2147483648, -2147483649.5, -1e999]");
  numbers.Insert(json::Number(std::nan("")));
  std::string written;
  for (const char c : Write(numbers)) {
    if (c != '\n' && c != '\t') written += c;
  }
  EXPECT_EQ(written,
            "[0,3,-2,0,0,0,1614556800,2147483646,2147483647,2147483647,2147483647,-2147483647,-2147483648,"
            "-2147483648,-2147483648,0]");
}

// Random trees written and read back compare equal. Numbers are integers in
// range, since every number is written as one; names keep clear of quotes
// and backslashes, since names are written unescaped.
Element RandomTree(std::mt19937& random, int depth) {
  const auto pick = [&random](uint32_t n) { return random() % n; };
  switch (pick(depth > 4 ? 4 : 6)) {
    case 0:
      return json::Null();
    case 1:
      return json::Boolean(pick(2) == 1);
    case 2:
      return json::Number(static_cast<int32_t>(random()));
    case 3: {
      std::string text(pick(12), ' ');
      for (char& c : text) c = static_cast<char>(pick(256));
      return json::String(text);
    }
    case 4: {
      json::Object object;
      for (uint32_t i = pick(6); i > 0; --i)
        object[std::string(pick(3), 'a') + std::to_string(i)] = RandomTree(random, depth + 1);
      return object;
    }
    default: {
      json::Array array;
      for (uint32_t i = pick(6); i > 0; --i) array.Insert(RandomTree(random, depth + 1));
      return array;
    }
  }
}

TEST(Writer, RandomTreesRoundTrip) {
  std::mt19937 random(20261206);
  for (int i = 0; i < 500; ++i) {
    const Element tree = RandomTree(random, 0);
    const std::string text = Write(tree);
    Element back;
    ASSERT_NO_THROW(json::Reader::Read(back, text)) << text;
    ASSERT_EQ(back, tree) << text;
    EXPECT_EQ(Write(back), text);
  }
}

}  // namespace
