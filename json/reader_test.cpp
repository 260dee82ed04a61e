#include "json/reader.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <string>

#include "json/writer.h"

namespace {

using json::Element;
using json::json_cast;

struct Failure {
  const char* name;
  std::string text;
  bool scan;  // ScanException, else ParseException
  std::string message;
  uint32_t line, column, offset;  // the scan location, or the token's begin
  uint32_t endOffset;             // the token's end (parse faults)
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const Failure& c, std::ostream* os) {
  *os << c.name;
}

class ReaderFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(ReaderFailure, MessageAndPosition) {
  const Failure& f = GetParam();
  Element element;
  try {
    json::Reader::Read(element, f.text);
    FAIL() << "no exception for " << f.name;
  } catch (const json::ScanException& e) {
    ASSERT_TRUE(f.scan) << e.what();
    EXPECT_EQ(e.what(), f.message);
    EXPECT_EQ(e.location().line, f.line);
    EXPECT_EQ(e.location().column, f.column);
    EXPECT_EQ(e.location().offset, f.offset);
  } catch (const json::ParseException& e) {
    ASSERT_FALSE(f.scan) << e.what();
    EXPECT_EQ(e.what(), f.message);
    EXPECT_EQ(e.locationBegin().line, f.line);
    EXPECT_EQ(e.locationBegin().column, f.column);
    EXPECT_EQ(e.locationBegin().offset, f.offset);
    EXPECT_EQ(e.locationEnd().offset, f.endOffset);
  }
}

const Failure kFailures[] = {
    {"BadCharacter", "{\"a\" : @}", true, "Unexpected character in stream: @", 0, 7, 7, 0},
    {"BadCharacterSecondLine", "[1,\r\n x]", true, "Unexpected character in stream: x", 1, 1, 6, 0},
    {"MisspeltNull", "nul", true, "Expected string: null", 0, 3, 3, 0},
    {"MisspeltTrue", "tx", true, "Expected string: true", 0, 2, 2, 0},
    {"CutFalse", "[fals", true, "Expected string: false", 0, 5, 5, 0},
    {"OpenString", "\"abc", true, "Expected string: \"", 0, 4, 4, 0},
    {"BackslashAtEnd", "\"abc\\", true, "Expected string: \"", 0, 5, 5, 0},
    {"UnicodeEscape", "\"a\\u0041\"", true, "Unrecognized escape sequence found in string: \\u", 0, 4, 4, 0},
    {"LetterAfterNumber", "12abc", true, "Unexpected character in stream: a", 0, 2, 2, 0},
    // The whole text is scanned before parsing: a lexical fault late wins
    // over a structural fault early.
    {"ScanBeforeParse", "}} @", true, "Unexpected character in stream: @", 0, 3, 3, 0},
    {"Empty", "", false, "Unexpected end of token stream", 0, 0, 0, 0},
    {"WhiteOnly", " \t\r\n\v\f", false, "Unexpected end of token stream", 0, 0, 0, 0},
    {"ObjectCutAfterBrace", "{", false, "Unexpected End of token stream", 0, 0, 0, 0},
    {"ObjectCutAfterName", "{\"a\"", false, "Unexpected End of token stream", 0, 0, 0, 0},
    {"ObjectCutAfterColon", "{\"a\":", false, "Unexpected end of token stream", 0, 0, 0, 0},
    {"ObjectCutAfterComma", "{\"a\":1,", false, "Unexpected End of token stream", 0, 0, 0, 0},
    {"ArrayCutAfterComma", "[1,", false, "Unexpected end of token stream", 0, 0, 0, 0},
    {"ArrayTrailingComma", "[1,2,]", false, "Unexpected token: ", 0, 5, 5, 6},
    {"ObjectTrailingComma", "{\"a\":1,}", false, "Unexpected token: ", 0, 7, 7, 8},
    {"NameNotString", "{1:2}", false, "Unexpected token: 1", 0, 1, 1, 2},
    {"MissingColon", "{\"a\" 1}", false, "Unexpected token: 1", 0, 5, 5, 6},
    {"ColonAsValue", "[:]", false, "Unexpected token: ", 0, 1, 1, 2},
    {"MissingComma", "[1 2]", false, "Unexpected token: 2", 0, 3, 3, 4},
    {"Duplicate", "{\"a\":1,\n \"a\":2}", false, "Duplicate object member token: a", 1, 1, 9, 12},
    {"TrailingToken", "\"s\" 42", false, "Expected End of token stream; found 42", 0, 4, 4, 6},
    {"TrailingString", "{}\"x\\ty\"", false, "Expected End of token stream; found x\ty", 0, 2, 2, 8},
    {"UnexpectedStringToken", "{\"a\":1 \"b\"}", false, "Unexpected token: b", 0, 7, 7, 10},
};

INSTANTIATE_TEST_SUITE_P(Table, ReaderFailure, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

TEST(Reader, ValuesWhiteSpaceAndOrder) {
  json::Object object;
  json::Reader::Read(
      object, " \r\n\t{ \"b\" :[ ] ,\"a\":{}, \"t\" : true,\"f\":false , \"n\" : null ,\"s\":\"x\" } \n");
  ASSERT_EQ(object.Size(), 6u);
  auto it = object.Begin();
  EXPECT_EQ(it->name, "b");
  EXPECT_TRUE(json_cast<json::Array&>(it->element).Empty());
  EXPECT_EQ((++it)->name, "a");
  EXPECT_TRUE(json_cast<json::Object&>(it->element).Empty());
  EXPECT_TRUE(json_cast<json::Boolean&>(object["t"]).Value());
  EXPECT_FALSE(json_cast<json::Boolean&>(object["f"]).Value());
  EXPECT_EQ(object["n"], json::Null());
  EXPECT_EQ(json_cast<json::String&>(object["s"]).Value(), "x");
  EXPECT_EQ(object.Size(), 6u);

  Element scalar;
  json::Reader::Read(scalar, "  7 ");
  EXPECT_EQ(json_cast<json::Number&>(scalar).Value(), 7);
}

TEST(Reader, StringEscapesAndRawBytes) {
  Element element;
  static const char kText[] = "\"q\\\" s\\/ b\\\\ \\b\\f\\n\\r\\t raw\x01\xC3\xA9\nend\"";
  json::Reader::Read(element, std::string(kText, sizeof kText - 1));
  EXPECT_EQ(json_cast<json::String&>(element).Value(), "q\" s/ b\\ \b\f\n\r\t raw\x01\xC3\xA9\nend");

  // NUL bytes stay in a string read whole; a NUL-terminated text stops there.
  json::Reader::Read(element, std::string("\"a\0b\"", 5));
  EXPECT_EQ(json_cast<json::String&>(element).Value(), std::string("a\0b", 3));
  EXPECT_THROW(json::Reader::Read(element, "\"a\0b\""), json::ScanException);
}

// Strings are searched eight bytes at a time: put an escape, a closing quote
// and the bytes next to '"' and '\\' (and high bytes, whose borrow could
// fake a match) at every offset across two words.
TEST(Reader, StringsAreCutRightAtEveryWordOffset) {
  const std::string kNeighbours = std::string("!#[]\x01\x80\xA2\xDC\xFF") + '\0';
  for (size_t length = 0; length <= 24; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      std::string plain(length, 'a');
      for (size_t i = 0; i < length; ++i) plain[i] = kNeighbours[(i + at) % kNeighbours.size()];
      std::string escaped = plain;
      std::string expected = plain;
      if (at < length) {
        escaped.replace(at, 1, "\\\"");  // an escaped quote in place of one byte
        expected[at] = '"';
      }
      const std::string text = "[\"" + escaped + "\",\"" + plain + "\"]";
      Element element;
      json::Reader::Read(element, text);
      const auto& array = json_cast<const json::Array&>(element);
      ASSERT_EQ(array.Size(), 2u) << text;
      EXPECT_EQ(json_cast<const json::String&>(array[0]).Value(), expected)
          << "length " << length << " at " << at;
      EXPECT_EQ(json_cast<const json::String&>(array[1]).Value(), plain)
          << "length " << length << " at " << at;
    }
  }
}

TEST(Reader, LineFeedInsideStringCountsALine) {
  Element element;
  try {
    json::Reader::Read(element, "[\"a\nb\", @]");
    FAIL();
  } catch (const json::ScanException& e) {
    EXPECT_EQ(e.location().line, 1u);
    EXPECT_EQ(e.location().column, 4u);
    EXPECT_EQ(e.location().offset, 8u);
  }
}

TEST(Reader, NumbersTakeTheLongestPrefixStrtodAccepts) {
  const struct {
    const char* text;
    double value;
  } cases[] = {{"0", 0},
               {"-12", -12},
               {"3.25", 3.25},
               {"1e3", 1000},
               {"2E-2", 0.02},
               {"1.2.3", 1.2},
               {"-", 0},
               {"--1", 0},
               {"1e", 1},
               {"7e+", 7},
               {"-0.5", -0.5},
               {"1-2", 1},
               {"1e999", HUGE_VAL},
               {"-1e999", -HUGE_VAL},
               {"4294967296", 4294967296.0},
               {"-.5", -0.5},
               {"12345678901234567890", 12345678901234567890.0}};
  for (const auto& c : cases) {
    Element element;
    json::Reader::Read(element, std::string("[") + c.text + "]");
    const json::Array& array = json_cast<json::Array&>(element);
    EXPECT_EQ(json_cast<const json::Number&>(array[0]).Value(), c.value) << c.text;
  }
}

TEST(Reader, NestingLimit) {
  const unsigned limit = json::Reader::kMaxDepth;
  Element element;
  const std::string deepest = std::string(limit, '[') + std::string(limit, ']');
  EXPECT_NO_THROW(json::Reader::Read(element, deepest));
  const std::string tooDeep = std::string(limit + 1, '[') + std::string(limit + 1, ']');
  try {
    json::Reader::Read(element, tooDeep);
    FAIL();
  } catch (const json::ParseException& e) {
    EXPECT_EQ(std::string(e.what()), "Nesting too deep: more than 512 levels");
    EXPECT_EQ(e.locationBegin().offset, limit);
  }
  // A megabyte of open brackets fails cleanly instead of exhausting the stack.
  EXPECT_THROW(json::Reader::Read(element, std::string(1 << 20, '[')), json::ParseException);
  EXPECT_THROW(json::Reader::Read(element, std::string(1 << 19, '{')), json::ParseException);
}

TEST(Reader, EveryCutOfAnAnswerFailsWithAJsonException) {
  const std::string answer =
      "{\"code\":\"0\",\"msg\":\"ok\",\"mv_url\":\"http://h/Teko/metadata/"
      "1-0-7\",\"n\":[1,2.5,-3],\"b\":true}";
  for (size_t cut = 0; cut < answer.size(); ++cut) {
    json::Object object;
    EXPECT_THROW(json::Reader::Read(object, answer.substr(0, cut)), json::Exception) << cut;
  }
  json::Object object;
  EXPECT_NO_THROW(json::Reader::Read(object, answer));
  EXPECT_EQ(object.Size(), 5u);
}

TEST(Reader, RootOfAnotherTypeIsRefusedByTheObjectHandle) {
  json::Object object;
  json::Reader::Read(object, "[1]");
  json::Element& root = object;
  EXPECT_THROW(json_cast<json::Object&>(root), json::Exception);
  EXPECT_THROW(object.Size(), json::Exception);
}

TEST(Reader, ObjectWithManyMembersAndADuplicateAtTheEnd) {
  std::string text = "{";
  for (int i = 0; i < 100000; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  json::Object object;
  json::Reader::Read(object, text + "\"last\":0}");
  EXPECT_EQ(object.Size(), 100001u);
  EXPECT_EQ(json_cast<json::Number&>(object["k99999"]).Value(), 99999);
  try {
    json::Reader::Read(object, text + "\"k5\":0}");
    FAIL();
  } catch (const json::ParseException& e) {
    EXPECT_EQ(std::string(e.what()), "Duplicate object member token: k5");
  }
}

}  // namespace
