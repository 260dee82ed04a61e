#include "json/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <tuple>

#include "json/writer.h"

namespace {

using json::json_cast;

// An answer with every kind of token, a CR LF between tokens and a line feed
// inside a string. Lines 1 and 2 begin at offsets 22 and 31.
const std::string kText = "{\"a\":[-1,true,null],\r\n\"b\":\"x\\\"\ny\"}";

std::string At(const json::Location& l) {
  return std::to_string(l.line) + ":" + std::to_string(l.column) + "@" + std::to_string(l.offset);
}

// "scan line:column@offset message" or "parse line:column@offset-endOffset message".
std::string Fault(const std::string& text) {
  json::Element element;
  try {
    json::Reader::Read(element, text);
    return "none";
  } catch (const json::ScanException& e) {
    return "scan " + At(e.location()) + " " + e.what();
  } catch (const json::ParseException& e) {
    return "parse " + At(e.locationBegin()) + "-" + std::to_string(e.locationEnd().offset) + " " + e.what();
  }
}

TEST(Reader, EveryCutOfTheTextFailsWithTheFaultAtItsEnd) {
  const char *end = "Unexpected end of token stream", *End = "Unexpected End of token stream";
  const char *quote = "Expected string: \"", *t = "Expected string: true", *n = "Expected string: null";
  const struct {
    size_t upTo;  // cut lengths from the row before
    bool scan;    // the fault is at the cut, else at zero
    const char* message;
  } cases[] = {{0, false, end},   {1, false, End},  {3, true, quote},  {4, false, End},  {5, false, end},
               {8, false, End},   {9, false, end},  {12, true, t},     {13, false, End}, {14, false, end},
               {17, true, n},     {22, false, End}, {24, true, quote}, {25, false, End}, {26, false, end},
               {32, true, quote}, {33, false, End}};
  size_t cut = 0;
  for (const auto& c : cases) {
    for (; cut <= c.upTo; ++cut) {
      json::Location l;
      l.offset = c.scan ? static_cast<uint32_t>(cut) : 0;
      l.line = l.offset >= 31 ? 2 : l.offset >= 22 ? 1 : 0;
      l.column = l.offset - (l.line == 2 ? 31 : l.line == 1 ? 22 : 0);
      const std::string where = c.scan ? "scan " + At(l) : "parse 0:0@0-0";
      EXPECT_EQ(Fault(kText.substr(0, cut)), where + " " + c.message) << cut;
    }
  }
  EXPECT_EQ(Fault(kText.substr(0, cut)), "none");
}

TEST(Reader, OneCorruptByteFailsWithMessageAndPosition) {
  const struct {
    size_t at;
    char with;
    const char* fault;
  } cases[] = {
      {21, '#', "scan 0:21@21 Unexpected character in stream: #"},  // CR is a column
      {22, '1', "scan 1:1@23 Unexpected character in stream: b"},   // after the number 1
      {11, 'x', "scan 0:12@12 Expected string: true"},
      {16, 'L', "scan 0:17@17 Expected string: null"},
      {29, 'u', "scan 1:8@30 Unrecognized escape sequence found in string: \\u"},
      {32, ' ', "scan 2:3@34 Expected string: \""},
      // The whole text is scanned first: the stray letter wins over the early end.
      {1, '}', "scan 0:2@2 Unexpected character in stream: a"},
      {4, ',', "parse 0:4@4-5 Unexpected token: "},
      {6, '{', "parse 0:7@7-8 Unexpected token: 1"},
      {8, ' ', "parse 0:9@9-13 Unexpected token: true"},
      {25, ' ', "parse 1:4@26-33 Unexpected token: x\"\ny"},
      {23, 'a', "parse 1:0@22-25 Duplicate object member token: a"},
      {19, '}', "parse 1:0@22-25 Expected End of token stream; found b"},
      {33, ',', "parse 0:0@0-0 Unexpected End of token stream"},
  };
  for (const auto& c : cases) {
    std::string text = kText;
    text[c.at] = c.with;
    EXPECT_EQ(Fault(text), c.fault) << c.at;
  }
}

// Read and written back: layout, escapes, unescaped names, numbers truncated to
// signed 32 bits, a text longer than the writer's first buffer.
TEST(Reader, ValuesAndWhiteSpaceAsTheWriterLaysThemOut) {
  std::string lineFeeds = "\"";
  for (int i = 0; i < 3000; ++i) lineFeeds += "\\n";
  const std::pair<std::string, std::string> cases[] = {
      {kText, "{\n\t\"a\" : [\n\t\t-1,\n\t\ttrue,\n\t\tnull\n\t],\n\t\"b\" : \"x\\\"\\ny\"\n}"},
      {" \t\v\f{ \"b\" :[ ] ,\"a\":{} ,\"c\" :[{},{\"f\":false}]}\r\n",
       "{\n\t\"b\" : [],\n\t\"a\" : {},\n\t\"c\" : [\n\t\t{},\n\t\t{\n\t\t\t\"f\" : false\n\t\t}\n\t]\n}"},
      {"\"q\\\" s\\/ b\\\\ \\b\\f\\n\\r\\t\x01\x7f\xC3\xA9\"",
       "\"q\\\" s/ b\\\\ \\b\\f\\n\\r\\t\x01\x7f\xC3\xA9\""},
      {std::string("\"a\0b\"", 5), std::string("\"a\0b\"", 5)},  // a string read whole keeps NUL bytes
      {"{\"say \\\"hi\\\"\":0}", "{\n\t\"say \"hi\"\" : 0\n}"},
      {"[3.7,-2.5,2147483648,-1e999]", "[\n\t3,\n\t-2,\n\t2147483647,\n\t-2147483648\n]"},
      {lineFeeds + "\"", lineFeeds + "\""},
  };
  json::Element element;
  for (const auto& c : cases) {
    json::Reader::Read(element, c.first);
    EXPECT_EQ(json::Writer::ToString(element), c.second);
  }
  std::ostringstream stream;
  json::Writer::Write(json::Number(std::nan("")), stream);
  EXPECT_EQ(stream.str(), "0");
  EXPECT_THROW(json::Reader::Read(element, "\"a\0b\""), json::ScanException);  // NUL-terminated
  EXPECT_EQ(Fault(" \t\r\n\v\f"), "parse 0:0@0-0 Unexpected end of token stream");
}

// A value that fails to read is not left in its container; what was read
// before it stays. A typed handle takes only a root of its own type and keeps
// what it held; ReadObject tells why there is no object.
TEST(Reader, NeitherAFailedValueNorAnotherRootIsLeftBehind) {
  const std::pair<const char*, const char*> cases[] = {
      {"[1, }", "[1]"}, {"[[1,2],[3,}", "[[1,2]]"}, {"[{\"a\":1},{\"b\":}", "[{\"a\":1}]"}};
  for (const auto& c : cases) {
    json::Element element, expected;
    EXPECT_THROW(json::Reader::Read(element, c.first), json::ParseException) << c.first;
    json::Reader::Read(expected, c.second);
    EXPECT_EQ(json::Writer::ToString(expected), json::Writer::ToString(element)) << c.first;
    json::Object object = json::Reader::ReadObject("{\"kept\":[1]}").object;
    EXPECT_THROW(json::Reader::Read(object, c.first), json::ParseException) << c.first;
    EXPECT_THROW(json::Reader::Read(object, c.second), json::Exception) << c.second;
    EXPECT_EQ(json::Reader::ReadObject("{\"kept\":[1]}").object, object);
  }
  const std::tuple<const char*, bool, bool, const char*> reads[] = {
      {"[1, }", false, false, "Unexpected token: "},
      {"[1]", false, true, "Type/ImpType mismatch"},
      {"{\"a\":1}", true, false, ""}};
  for (const auto& [text, ok, otherRoot, error] : reads) {
    const json::ObjectRead read = json::Reader::ReadObject(text);
    EXPECT_EQ(std::make_tuple(ok, otherRoot, std::string(error), ok ? 1u : 0u),
              std::make_tuple(read.ok, read.otherRoot, read.error, read.object.Size()));
  }
}

TEST(Reader, NestingLimitAndBigObjects) {
  const unsigned limit = json::Reader::kMaxDepth;
  EXPECT_EQ(Fault(std::string(limit, '[') + std::string(limit, ']')), "none");
  EXPECT_EQ(Fault(std::string(limit + 1, '[') + std::string(limit + 1, ']')),
            "parse 0:512@512-513 Nesting too deep: more than 512 levels");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(Fault(objects), "parse 0:2560@2560-2561 Nesting too deep: more than 512 levels");

  std::string text = "{";  // big enough for the object's position table
  for (int i = 0; i < 40; ++i) text += "\"k" + std::to_string(i) + "\":0,";
  for (int i = 0; i < 40; ++i) {  // every name, also those whose slots in the name table collided
    const std::string name = "k" + std::to_string(i), at = std::to_string(text.size());
    EXPECT_EQ(Fault(text + "\"" + name + "\":0}"), "parse 0:" + at + "@" + at + "-" +
                                                       std::to_string(text.size() + name.size() + 2) +
                                                       " Duplicate object member token: " + name);
  }
}

}  // namespace
