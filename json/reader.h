// Reads a JSON text into an element tree. Reading runs in two passes: the
// whole text is scanned first, so a lexical fault anywhere is reported as a
// ScanException before any structural fault; then the parser builds the tree.
// Failures are json::ScanException / json::ParseException with positions.
#pragma once

#include <cstddef>
#include <string>

#include "json/elements.h"

namespace json {

class Reader {
 public:
  // Containers nested deeper than this fail with a ParseException at the
  // opening bracket instead of exhausting the stack (the monitor thread on
  // Windows runs on 1 MB).
  static constexpr unsigned kMaxDepth = 512;

  // A NUL-terminated text.
  static void Read(Element& element, const char* text);
  // The whole string, NUL bytes included.
  static void Read(Element& element, const std::string& text);
  static void Read(Element& element, const char* text, size_t size);
};

// Line, column and offset of a position in a text, as the reader counts them:
// a line feed starts a new line, every other byte (CR included) is a column.
Location LocationOf(const char* text, size_t offset);

}  // namespace json
