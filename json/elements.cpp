#include "json/elements.h"

#include <cstring>
#include <functional>
#include <limits>
#include <string_view>

namespace json {

namespace {

// Objects up to this many members are searched linearly, as the protocol's
// small answers are; bigger ones get the position table.
constexpr size_t kIndexThreshold = 16;

size_t HashName(const char* name, size_t size) {
  return std::hash<std::string_view>()(std::string_view(name, size));
}

}  // namespace

// ---- Element --------------------------------------------------------------

NullImp* NullImp::Shared() noexcept {
  // Stateless and never deleted (Element skips it), so one serves every thread.
  // An allocation failure this early ends the process, as noexcept says.
  static NullImp* const shared = new NullImp();  // NOLINT(bugprone-unhandled-exception-at-new)
  return shared;
}

ElementImp* NullImp::Clone() const {
  return Shared();
}

Element::Element() noexcept : m_imp(NullImp::Shared()) {}

Element::Element(Element&& other) noexcept : m_imp(other.m_imp) {
  other.m_imp = NullImp::Shared();
}

Element& Element::operator=(const Element& other) {
  if (this != &other) {
    ElementImp* copy = other.m_imp->Clone();  // may throw: the element stays as it was
    Reset(copy);
  }
  return *this;
}

Element& Element::operator=(Element&& other) noexcept {
  if (this != &other) {
    Reset(other.m_imp);
    other.m_imp = NullImp::Shared();
  }
  return *this;
}

Element::~Element() {
  if (m_imp != NullImp::Shared()) delete m_imp;
}

void Element::Reset(ElementImp* imp) noexcept {
  if (m_imp != NullImp::Shared()) delete m_imp;
  m_imp = imp;
}

// ---- ObjectImp ------------------------------------------------------------

ObjectImp::ObjectImp(const ObjectImp& other) : ElementImp_T(other), m_members(other.m_members) {}

bool ObjectImp::Compare(const ElementImp& other) const {
  if (other.Type() != kTag) return false;
  return m_members == static_cast<const ObjectImp&>(other).m_members;
}

size_t ObjectImp::Find(const char* name, size_t size) const {
  const size_t count = m_members.size();
  if (count <= kIndexThreshold) {
    for (size_t i = 0; i < count; ++i) {
      const std::string& candidate = m_members[i].name;
      if (candidate.size() == size && std::memcmp(candidate.data(), name, size) == 0) return i;
    }
    return count;
  }
  if (!m_index) BuildIndex();  // fills it: a power of two above the member count
  // cppcheck-suppress nullPointerRedundantCheck ; BuildIndex has just made it
  const std::vector<uint32_t>& index = *m_index;
  const size_t mask = index.size() - 1;
  for (size_t slot = HashName(name, size) & mask;; slot = (slot + 1) & mask) {
    // cppcheck-suppress containerOutOfBounds ; BuildIndex never leaves the table empty
    const uint32_t entry = index[slot];
    if (entry == 0) return count;
    const std::string& candidate = m_members[entry - 1].name;
    // The table holds the first member of each name only, so the first match wins.
    if (candidate.size() == size && std::memcmp(candidate.data(), name, size) == 0) return entry - 1;
  }
}

void ObjectImp::BuildIndex() const {
  size_t slots = 64;
  while (slots < m_members.size() * 2) slots *= 2;
  m_index = std::make_unique<std::vector<uint32_t>>(slots, 0);
  for (size_t i = 0; i < m_members.size(); ++i) IndexInsert(i);
}

void ObjectImp::IndexInsert(size_t position) const {
  const std::string& name = m_members[position].name;
  std::vector<uint32_t>& index = *m_index;
  const size_t mask = index.size() - 1;
  for (size_t slot = HashName(name.data(), name.size()) & mask;; slot = (slot + 1) & mask) {
    uint32_t& entry = index[slot];
    if (entry == 0) {
      entry = static_cast<uint32_t>(position + 1);
      return;
    }
    if (m_members[entry - 1].name == name) return;  // an earlier member keeps the name
  }
}

Member& ObjectImp::Append(Member&& member) {
  if (m_members.size() >= std::numeric_limits<uint32_t>::max() - 1)
    throw std::length_error("json object too large");
  m_members.push_back(std::move(member));
  if (m_index) {
    if (m_members.size() * 2 > m_index->size()) {
      BuildIndex();
    } else {
      IndexInsert(m_members.size() - 1);
    }
  }
  return m_members.back();
}

void ObjectImp::Reserve(size_t count) {
  m_members.reserve(count);
}

// ---- ArrayImp -------------------------------------------------------------

bool ArrayImp::Compare(const ElementImp& other) const {
  if (other.Type() != kTag) return false;
  return m_elements == static_cast<const ArrayImp&>(other).m_elements;
}

// ---- Object ---------------------------------------------------------------

Object::Object() : Element(new ObjectImp()) {}

Element& Object::operator[](const std::string& name) {
  ObjectImp& imp = CheckedImp<ObjectImp>();
  const size_t position = imp.Find(name);
  if (position != imp.members().size()) return imp.members()[position].element;
  return imp.Append(Member(name)).element;
}

Object::iterator Object::Insert(const Member& member, iterator position) {
  ObjectImp& imp = CheckedImp<ObjectImp>();
  if (imp.Find(member.name) != imp.members().size()) {
    throw Exception("Object member already exists: " + member.name);
  }
  if (position == imp.members().end()) {
    imp.Append(Member(member));
    return imp.members().end() - 1;
  }
  Member copy(member);  // copied before the list changes, so a throw leaves it whole
  iterator inserted = imp.members().insert(position, std::move(copy));
  imp.InvalidateIndex();
  return inserted;
}

Object::iterator Object::Insert(const Member& member) {
  return Insert(member, End());
}

Object::iterator Object::Begin() {
  return CheckedImp<ObjectImp>().members().begin();
}
Object::iterator Object::End() {
  return CheckedImp<ObjectImp>().members().end();
}
Object::const_iterator Object::Begin() const {
  return CheckedImp<ObjectImp>().members().begin();
}
Object::const_iterator Object::End() const {
  return CheckedImp<ObjectImp>().members().end();
}

Object::const_iterator Object::Find(const std::string& name) const {
  ObjectImp& imp = CheckedImp<ObjectImp>();
  return imp.members().begin() + static_cast<std::ptrdiff_t>(imp.Find(name));
}

size_t Object::Size() const {
  return CheckedImp<ObjectImp>().members().size();
}
bool Object::Empty() const {
  return CheckedImp<ObjectImp>().members().empty();
}

void Object::Clear() {
  ObjectImp& imp = CheckedImp<ObjectImp>();
  imp.members().clear();
  imp.InvalidateIndex();
}

// ---- Array ----------------------------------------------------------------

Array::Array() : Element(new ArrayImp()) {}

Array::iterator Array::Insert(const Element& element, iterator position) {
  return CheckedImp<ArrayImp>().elements().insert(position, element);
}

Array::iterator Array::Insert(const Element& element) {
  return Insert(element, End());
}

Array::iterator Array::Begin() {
  return CheckedImp<ArrayImp>().elements().begin();
}
Array::iterator Array::End() {
  return CheckedImp<ArrayImp>().elements().end();
}
Array::const_iterator Array::Begin() const {
  return CheckedImp<ArrayImp>().elements().begin();
}
Array::const_iterator Array::End() const {
  return CheckedImp<ArrayImp>().elements().end();
}
size_t Array::Size() const {
  return CheckedImp<ArrayImp>().elements().size();
}
bool Array::Empty() const {
  return CheckedImp<ArrayImp>().elements().empty();
}

Element& Array::operator[](size_t index) {
  std::vector<Element>& elements = CheckedImp<ArrayImp>().elements();
  if (index >= elements.size()) throw Exception("Array index out of range");
  return elements[index];
}

const Element& Array::operator[](size_t index) const {
  std::vector<Element>& elements = CheckedImp<ArrayImp>().elements();
  if (index >= elements.size()) throw Exception("Array index out of range");
  return elements[index];
}

}  // namespace json
