#include "json/elements.h"

#include <cstring>

namespace json {

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
    // other may lie inside the tree this handle releases (a child moved into
    // its parent): take its implementation before anything is deleted.
    ElementImp* taken = other.m_imp;
    other.m_imp = NullImp::Shared();
    Reset(taken);
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

size_t ObjectImp::IndexOf(const std::string& name) const {
  return m_members.FindIf([&name](const Member& member) {
    return member.name.size() == name.size() &&
           std::memcmp(member.name.data(), name.data(), name.size()) == 0;
  });
}

ObjectImp::Members::iterator ObjectImp::Find(const std::string& name) {
  return m_members.begin() + static_cast<std::ptrdiff_t>(IndexOf(name));
}

ObjectImp::Members::const_iterator ObjectImp::Find(const std::string& name) const {
  return m_members.begin() + static_cast<std::ptrdiff_t>(IndexOf(name));
}

Member& ObjectImp::Append(Member&& member) {
  return m_members.PushBack(std::move(member));
}

void ObjectImp::Reserve(size_t count) {
  m_members.Reserve(count);
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
  const iterator found = imp.Find(name);
  if (found != imp.members().end()) return found->element;
  return imp.Append(Member(name)).element;
}

Object::iterator Object::Insert(const Member& member, iterator position) {
  ObjectImp& imp = CheckedImp<ObjectImp>();
  if (imp.Find(member.name) != imp.members().end()) {
    throw Exception("Object member already exists: " + member.name);
  }
  Member copy(member);  // copied before the list changes, so a throw leaves it whole
  return imp.members().Insert(position, std::move(copy));
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
  return CheckedImp<ObjectImp>().Find(name);
}

size_t Object::Size() const {
  return CheckedImp<ObjectImp>().members().size();
}
bool Object::Empty() const {
  return CheckedImp<ObjectImp>().members().empty();
}

void Object::Clear() {
  CheckedImp<ObjectImp>().members().Clear();
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
