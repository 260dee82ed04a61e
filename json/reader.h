// Reads a JSON text into an element tree. Reading runs in two passes: the
// whole text is scanned first, so a lexical fault anywhere is reported as a
// ScanException before any structural fault; then the parser builds the tree.
// Failures are json::ScanException / json::ParseException with positions.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "json/elements.h"

namespace json {

// An object read from a text, or why there is none (Reader::ReadObject).
struct ObjectRead {
  bool ok = false;
  // The text is JSON, but its root is not an object.
  bool otherRoot = false;
  // The text's object when ok, else empty.
  Object object;
  // When not ok, the message of what ended the read.
  std::string error;
};

namespace detail {
template <typename HandleT>
constexpr bool kIsTypedHandle =
    std::is_base_of<Element, HandleT>::value && !std::is_same<Element, std::remove_cv_t<HandleT>>::value;
}  // namespace detail

class Reader {
 public:
  // Containers nested deeper than this fail with a ParseException at the
  // opening bracket instead of exhausting the stack (the monitor thread on
  // Windows runs on 1 MB).
  static constexpr unsigned kMaxDepth = 512;

  // Any root. A NUL-terminated text:
  static void Read(Element& element, const char* text);
  // the whole string, NUL bytes included:
  static void Read(Element& element, const std::string& text);
  static void Read(Element& element, const char* text, size_t size);

  // A typed handle (Object, Array, String, ...) takes only a root of its own
  // type: another root throws json::Exception "Type/ImpType mismatch", the
  // failure of every operation of a handle holding another type, before the
  // handle can hold it. On any failure the handle keeps what it held.
  template <typename HandleT, typename = std::enable_if_t<detail::kIsTypedHandle<HandleT>>>
  static void Read(HandleT& handle, const char* text) {
    ReadTyped(detail::HandleTag<HandleT>::value, handle, text, std::strlen(text));
  }
  template <typename HandleT, typename = std::enable_if_t<detail::kIsTypedHandle<HandleT>>>
  static void Read(HandleT& handle, const std::string& text) {
    ReadTyped(detail::HandleTag<HandleT>::value, handle, text.data(), text.size());
  }

  // For callers that report failures by result rather than by exception:
  // the text read into an Object as above, every failure caught. A
  // NUL-terminated text, or the whole string.
  static ObjectRead ReadObject(const char* text);
  static ObjectRead ReadObject(const std::string& text);

 private:
  static void ReadTyped(ElementType type, Element& element, const char* text, size_t size);
  // element takes the text's root and true is returned when the root's type
  // is type; otherwise false, element as it was.
  static bool ReadRoot(ElementType type, Element& element, const char* text, size_t size);
  static ObjectRead ReadObject(const char* text, size_t size);
};

// Line, column and offset of a position in a text, as the reader counts them:
// a line feed starts a new line, every other byte (CR is one) is a column.
Location LocationOf(const char* text, size_t offset);

}  // namespace json
