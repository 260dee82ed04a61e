#include "json/writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace json {

namespace {

// The seven bytes written as two-character escapes, by the character after
// the backslash; every other byte, control characters and bytes of 0x80 and
// above included, goes out as is.
struct EscapeTable {
  char table[256] = {};
  constexpr EscapeTable() {
    table[static_cast<unsigned char>('"')] = '"';
    table[static_cast<unsigned char>('\\')] = '\\';
    table[static_cast<unsigned char>('\b')] = 'b';
    table[static_cast<unsigned char>('\f')] = 'f';
    table[static_cast<unsigned char>('\n')] = 'n';
    table[static_cast<unsigned char>('\r')] = 'r';
    table[static_cast<unsigned char>('\t')] = 't';
  }
  char operator[](unsigned char c) const { return table[c]; }
};
constexpr EscapeTable kEscapes;

}  // namespace

int32_t Writer::ToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);  // truncation toward zero
}

void Writer::Write(const Element& element, std::ostream& stream) {
  // The text is built in memory and handed over once; the bytes are those a
  // line-by-line write with a flush after every line feed would give.
  const std::string text = ToString(element);
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  stream.flush();
}

std::string Writer::ToString(const Element& element) {
  std::string out;
  Writer writer(out);
  element.Accept(writer);
  out.resize(writer.m_used);
  return out;
}

void Writer::Grow(size_t count) {
  m_out.resize(std::max(m_out.size() * 2, m_used + count + 256));
}

void Writer::Put(const char* bytes, size_t count) {
  std::memcpy(Room(count), bytes, count);
  m_used += count;
}

void Writer::Indent() {
  std::memset(Room(m_depth), '\t', m_depth);
  m_used += m_depth;
}

void Writer::Visit(const Null&) {
  Put("null", 4);
}

void Writer::Visit(const Boolean& element) {
  if (element.Value()) {
    Put("true", 4);
  } else {
    Put("false", 5);
  }
}

void Writer::Visit(const Number& element) {
  char* at = Room(11);  // "-2147483648"
  const std::to_chars_result result = std::to_chars(at, at + 11, ToInt32(element.Value()));
  m_used += static_cast<size_t>(result.ptr - at);
}

void Writer::Visit(const String& element) {
  const std::string& value = element.Value();
  // At worst every byte is escaped: two out for one in, and the quotes.
  char* out = Room(2 * value.size() + 2);
  char* const begin = out;
  *out++ = '"';
  for (const char c : value) {
    const char escape = kEscapes[static_cast<unsigned char>(c)];
    if (escape == 0) {
      *out++ = c;
    } else {
      *out++ = '\\';
      *out++ = escape;
    }
  }
  *out++ = '"';
  m_used += static_cast<size_t>(out - begin);
}

void Writer::Visit(const Object& element) {
  if (element.Empty()) {
    Put("{}", 2);
    return;
  }
  Put("{\n", 2);
  ++m_depth;
  const Object::const_iterator end = element.End();
  for (Object::const_iterator member = element.Begin(); member != end; ++member) {
    Indent();
    Put('"');
    Put(member->name.data(), member->name.size());  // names are written as they are, unescaped
    Put("\" : ", 4);
    member->element.Accept(*this);
    if (member + 1 != end) Put(',');
    Put('\n');
  }
  --m_depth;
  Indent();
  Put('}');
}

void Writer::Visit(const Array& element) {
  if (element.Empty()) {
    Put("[]", 2);
    return;
  }
  Put("[\n", 2);
  ++m_depth;
  const Array::const_iterator end = element.End();
  for (Array::const_iterator item = element.Begin(); item != end; ++item) {
    Indent();
    item->Accept(*this);
    if (item + 1 != end) Put(',');
    Put('\n');
  }
  --m_depth;
  Indent();
  Put(']');
}

}  // namespace json
