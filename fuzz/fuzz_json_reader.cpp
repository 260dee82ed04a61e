// Any input either reads or throws a json::Exception; what reads, written and
// read again, gives an equal tree (numbers compared as the writer sends them).
// ReadObject agrees with the read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json/reader.h"
#include "json/writer.h"

namespace {

// The writer sends numbers as 32-bit integers, and member names unescaped,
// so the tree is brought to what survives a write before comparing.
bool Normalise(json::Element& element) {
  switch (element.Type()) {
    case json::kNumberType: {
      double& value = json::json_cast<json::Number&>(element).Value();
      value = json::Writer::ToInt32(value);
      return true;
    }
    case json::kObjectType: {
      json::Object& object = json::json_cast<json::Object&>(element);
      for (auto it = object.Begin(); it != object.End(); ++it) {
        if (it->name.find_first_of("\"\\") != std::string::npos) return false;
        if (!Normalise(it->element)) return false;
      }
      return true;
    }
    case json::kArrayType: {
      json::Array& array = json::json_cast<json::Array&>(element);
      for (auto it = array.Begin(); it != array.End(); ++it) {
        if (!Normalise(*it)) return false;
      }
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // ReadObject says what reading into an element and taking its root as an
  // object would: the object, the message that ended the read, or another root.
  const json::ObjectRead read = json::Reader::ReadObject(text);
  json::Element element;
  try {
    json::Reader::Read(element, text);
  } catch (const json::Exception& e) {
    if (read.ok || read.otherRoot || read.error != e.what()) std::abort();
    return 0;
  }
  const bool object = element.Type() == json::kObjectType;
  if (read.ok != object || read.otherRoot == object ||
      !(read.ok ? read.object == element : !read.error.empty()))
    std::abort();
  if (!Normalise(element)) return 0;
  const std::string written = json::Writer::ToString(element);
  json::Element again;
  try {
    json::Reader::Read(again, written);
  } catch (const json::Exception&) {
    std::abort();
  }
  if (!(again == element) || json::Writer::ToString(again) != written) std::abort();
  return 0;
}
