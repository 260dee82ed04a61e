#include "json/writer.h"

#include <gtest/gtest.h>

#include <cmath>
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

// Numbers are truncated to signed 32 bits.
TEST(Writer, LayoutOfNestedDocumentsAndNumbers) {
  Element tree;
  json::Reader::Read(
      tree,
      "{\"a\":[0, 3.7, -2.5, 0.99, -0.5, -0, 1614556800, 2147483646.9, 2147483647, 2147483648, "
      "1e999, -2147483647.9, -2147483648, -2147483649.5, -1e999],\"m\":{},\"e\":[],"
      "\"z\":[{},{\"t\":true,\"f\":false,\"n\":null}]}");
  json::json_cast<json::Object&>(tree)["nan"] = json::Number(std::nan(""));
  std::string numbers = "\n\t\t";
  for (const char c : std::string("0,3,-2,0,0,0,1614556800,2147483646,2147483647,2147483647,2147483647,"
                                  "-2147483647,-2147483648,-2147483648,-2147483648"))
    numbers += c == ',' ? std::string(",\n\t\t") : std::string(1, c);
  EXPECT_EQ(Write(tree),
            "{\n\t\"a\" : [" + numbers +
                "\n\t],\n\t\"m\" : {},\n\t\"e\" : [],\n\t\"z\" : [\n\t\t{},\n\t\t{\n\t\t\t\"t\" : "
                "true,\n\t\t\t\"f\" : false,\n\t\t\t\"n\" : null\n\t\t}\n\t],\n\t\"nan\" : 0\n}");
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

}  // namespace
