#include "json/writer.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace json {

namespace {

// The seven bytes written as two-character escapes; every other byte,
// control characters and bytes of 0x80 and above included, goes out as is.
inline char EscapeOf(unsigned char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '\b':
      return 'b';
    case '\f':
      return 'f';
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case '\t':
      return 't';
    default:
      return 0;
  }
}

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
  return out;
}

void Writer::Indent() {
  m_out.append(m_depth, '\t');
}

void Writer::Visit(const Null&) {
  m_out += "null";
}

void Writer::Visit(const Boolean& element) {
  m_out += element.Value() ? "true" : "false";
}

void Writer::Visit(const Number& element) {
  char buffer[16];
  const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, ToInt32(element.Value()));
  m_out.append(buffer, result.ptr);
}

void Writer::Visit(const String& element) {
  const std::string& value = element.Value();
  m_out.reserve(m_out.size() + value.size() + 2);
  m_out.push_back('"');
  const char* p = value.data();
  const char* end = p + value.size();
  while (p < end) {
    const char* run = p;
    while (p < end && EscapeOf(static_cast<unsigned char>(*p)) == 0) ++p;
    m_out.append(run, p);
    if (p < end) {
      m_out.push_back('\\');
      m_out.push_back(EscapeOf(static_cast<unsigned char>(*p)));
      ++p;
    }
  }
  m_out.push_back('"');
}

void Writer::Visit(const Object& element) {
  if (element.Empty()) {
    m_out += "{}";
    return;
  }
  m_out += "{\n";
  ++m_depth;
  const Object::const_iterator end = element.End();
  for (Object::const_iterator member = element.Begin(); member != end; ++member) {
    Indent();
    m_out.push_back('"');
    m_out += member->name;  // names are written as they are, unescaped
    m_out += "\" : ";
    member->element.Accept(*this);
    if (member + 1 != end) m_out.push_back(',');
    m_out.push_back('\n');
  }
  --m_depth;
  Indent();
  m_out.push_back('}');
}

void Writer::Visit(const Array& element) {
  if (element.Empty()) {
    m_out += "[]";
    return;
  }
  m_out += "[\n";
  ++m_depth;
  const Array::const_iterator end = element.End();
  for (Array::const_iterator item = element.Begin(); item != end; ++item) {
    Indent();
    item->Accept(*this);
    if (item + 1 != end) m_out.push_back(',');
    m_out.push_back('\n');
  }
  --m_depth;
  Indent();
  m_out.push_back(']');
}

}  // namespace json
