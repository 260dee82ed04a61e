// Writes an element tree as JSON text in the fixed layout the web farm
// compares literally: tab indentation, one member or element per line,
// " : " between name and value, no line feed after the root.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "json/elements.h"

namespace json {

class Writer : public ConstVisitor {
 public:
  static void Write(const Element& element, std::ostream& stream);
  // The same bytes, as a string.
  static std::string ToString(const Element& element);

  void Visit(const Null& element) override;
  void Visit(const Boolean& element) override;
  void Visit(const String& element) override;
  void Visit(const Number& element) override;
  void Visit(const Object& element) override;
  void Visit(const Array& element) override;

  // Numbers are written as signed 32-bit integers, truncated toward zero;
  // beyond the range they saturate, and NaN is written as 0.
  static int32_t ToInt32(double value);

 private:
  explicit Writer(std::string& out) : m_out(out) {}
  // Room for count more bytes at the write position. The string is grown
  // ahead in large steps and written through a pointer; ToString cuts it to
  // the bytes written.
  char* Room(size_t count) {
    if (m_out.size() - m_used < count) Grow(count);
    return &m_out[m_used];
  }
  void Grow(size_t count);
  void Put(const char* bytes, size_t count);
  void Put(char c) {
    *Room(1) = c;
    ++m_used;
  }
  void Indent();

  std::string& m_out;
  size_t m_used = 0;
  uint32_t m_depth = 0;
};

}  // namespace json
