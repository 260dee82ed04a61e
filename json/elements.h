// The JSON element model: value handles that own one implementation each.
// Copying a handle deep-copies the tree below it; typed views test the
// implementation's tag at run time and throw json::Exception on a mismatch.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "json/node_pool.h"
#include "json/stable_sequence.h"

namespace json {

using ElementType = uint32_t;
enum : ElementType {
  kObjectType = 0,
  kArrayType = 1,
  kNumberType = 2,
  kStringType = 3,
  kBooleanType = 4,
  kNullType = 5,
};

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Zero-based position in a text; the column counts from the last line feed.
struct Location {
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t offset = 0;
};

class ScanException : public Exception {
 public:
  ScanException(const std::string& message, const Location& location)
      : Exception(message), m_location(location) {}
  const Location& location() const { return m_location; }

 private:
  Location m_location;
};

class ParseException : public Exception {
 public:
  ParseException(const std::string& message, const Location& begin, const Location& end)
      : Exception(message), m_begin(begin), m_end(end) {}
  const Location& locationBegin() const { return m_begin; }
  const Location& locationEnd() const { return m_end; }

 private:
  Location m_begin;
  Location m_end;
};

class Element;
class Object;
class Array;
class Null;
template <typename T, ElementType kTag>
class TrivialType_T;
using Number = TrivialType_T<double, kNumberType>;
using String = TrivialType_T<std::string, kStringType>;
using Boolean = TrivialType_T<bool, kBooleanType>;

class ConstVisitor {
 public:
  virtual ~ConstVisitor() = default;
  virtual void Visit(const Null& element) = 0;
  virtual void Visit(const Boolean& element) = 0;
  virtual void Visit(const String& element) = 0;
  virtual void Visit(const Number& element) = 0;
  virtual void Visit(const Object& element) = 0;
  virtual void Visit(const Array& element) = 0;
};

class ElementImp {
 public:
  virtual ~ElementImp() = default;
  // Implementations are small and many; they come from the node pool. The
  // virtual destructor hands the dynamic type's size to the sized delete.
  static void* operator new(size_t size) { return detail::AllocateNode(size); }
  static void operator delete(void* block, size_t size) noexcept { detail::FreeNode(block, size); }
  virtual ElementImp* Clone() const = 0;
  virtual ElementType Type() const = 0;
  virtual void Accept(const Element& element, ConstVisitor& visitor) const = 0;
  virtual bool Compare(const ElementImp& other) const = 0;
};

// The untyped handle. Its one field is never null: a Null is held by a shared,
// stateless NullImp that is never deleted, so Nulls (default elements, new
// members) cost no allocation and a moved-from handle is a valid Null.
class Element {
 public:
  Element() noexcept;
  Element(const Element& other) : m_imp(other.m_imp->Clone()) {}
  Element(Element&& other) noexcept;
  Element& operator=(const Element& other);
  Element& operator=(Element&& other) noexcept;
  ~Element();

  ElementType Type() const { return m_imp->Type(); }
  void Accept(ConstVisitor& visitor) const { m_imp->Accept(*this, visitor); }
  bool operator==(const Element& other) const { return m_imp->Compare(*other.m_imp); }
  bool operator!=(const Element& other) const { return !(*this == other); }

 protected:
  explicit Element(ElementImp* imp) noexcept : m_imp(imp) {}
  // The implementation after testing its tag against the handle's.
  template <typename ImpT>
  ImpT& CheckedImp() const {
    if (m_imp->Type() != ImpT::kTag) throw Exception("Type/ImpType mismatch");
    return static_cast<ImpT&>(*m_imp);
  }
  // Replaces the implementation; takes ownership.
  void Reset(ElementImp* imp) noexcept;

 private:
  friend class ReaderAccess;
  ElementImp* m_imp;
};

template <typename HandleT, typename ImpT, ElementType kTagV>
class ElementImp_T : public ElementImp {
 public:
  static constexpr ElementType kTag = kTagV;
  ElementImp* Clone() const override { return new ImpT(static_cast<const ImpT&>(*this)); }
  ElementType Type() const override { return kTag; }
  void Accept(const Element& element, ConstVisitor& visitor) const override {
    visitor.Visit(static_cast<const HandleT&>(element));
  }
};

class NullImp : public ElementImp_T<Null, NullImp, kNullType> {
 public:
  ElementImp* Clone() const override;
  bool Compare(const ElementImp& other) const override { return other.Type() == kTag; }
  static NullImp* Shared() noexcept;
};

template <typename T, ElementType kTagV>
class TrivialImpType_T : public ElementImp_T<TrivialType_T<T, kTagV>, TrivialImpType_T<T, kTagV>, kTagV> {
 public:
  TrivialImpType_T() = default;
  explicit TrivialImpType_T(T value) : m_value(std::move(value)) {}
  bool Compare(const ElementImp& other) const override {
    return other.Type() == kTagV && static_cast<const TrivialImpType_T&>(other).m_value == m_value;
  }
  T& value() { return m_value; }

 private:
  T m_value{};
};

struct Member;

class ObjectImp : public ElementImp_T<Object, ObjectImp, kObjectType> {
 public:
  using Members = StableSequence<Member>;
  ObjectImp() = default;
  ObjectImp(const ObjectImp& other);
  ObjectImp& operator=(const ObjectImp&) = delete;
  bool Compare(const ElementImp& other) const override;

  Members& members() { return m_members; }
  const Members& members() const { return m_members; }
  // The position of the first member of that name, or members().size(). A
  // scan from the first member: names may be changed through an iterator at
  // any time, so nothing kept aside could be trusted to know them.
  size_t IndexOf(const std::string& name) const;
  // The same as an iterator: members().end() for none.
  Members::iterator Find(const std::string& name);
  Members::const_iterator Find(const std::string& name) const;
  // Appends without looking for the name first; the caller has. Throws, and
  // changes nothing, when there is no memory for it.
  Member& Append(Member&& member);
  void Reserve(size_t count);

 private:
  // Members never move while others are appended, so a reference to one
  // stays good while another is added (o["a"] = o["b"] with "a" new).
  Members m_members;
};

class ArrayImp : public ElementImp_T<Array, ArrayImp, kArrayType> {
 public:
  bool Compare(const ElementImp& other) const override;
  std::vector<Element>& elements() { return m_elements; }

 private:
  std::vector<Element> m_elements;
};

class Null : public Element {
 public:
  Null() noexcept = default;
};

template <typename T, ElementType kTagV>
class TrivialType_T : public Element {
 public:
  using ImpType = TrivialImpType_T<T, kTagV>;
  TrivialType_T() : Element(new ImpType()) {}
  TrivialType_T(const T& value) : Element(new ImpType()) { Value() = value; }  // NOLINT: implicit on purpose
  template <typename U = T, typename = std::enable_if_t<std::is_same<U, std::string>::value>>
  TrivialType_T(const char* value) : TrivialType_T(std::string(value)) {}  // NOLINT

  T& Value() { return CheckedImp<ImpType>().value(); }
  const T& Value() const { return CheckedImp<ImpType>().value(); }
};

class Object : public Element {
 public:
  using iterator = ObjectImp::Members::iterator;
  using const_iterator = ObjectImp::Members::const_iterator;

  Object();

  // The first member of that name; appends a Null member when there is none.
  // The reference stays valid while further members are appended (so one
  // member may be assigned another that is added on the left); an Insert
  // before it or Clear ends it.
  Element& operator[](const std::string& name);
  // A copy of the member before the position; throws when the name exists.
  iterator Insert(const Member& member, iterator position);
  iterator Insert(const Member& member);

  iterator Begin();
  iterator End();
  const_iterator Begin() const;
  const_iterator End() const;
  // The member of that name or End(), without adding one.
  const_iterator Find(const std::string& name) const;
  size_t Size() const;
  bool Empty() const;
  void Clear();
};

class Array : public Element {
 public:
  using iterator = std::vector<Element>::iterator;
  using const_iterator = std::vector<Element>::const_iterator;

  Array();
  iterator Insert(const Element& element, iterator position);
  iterator Insert(const Element& element);
  iterator Begin();
  iterator End();
  const_iterator Begin() const;
  const_iterator End() const;
  size_t Size() const;
  bool Empty() const;
  Element& operator[](size_t index);
  const Element& operator[](size_t index) const;
};

struct Member {
  Member() = default;
  Member(std::string memberName, Element memberElement = Null())
      : name(std::move(memberName)), element(std::move(memberElement)) {}
  bool operator==(const Member& other) const { return name == other.name && element == other.element; }
  std::string name;
  Element element;
};

// Handles add no data to Element, so an Element whose tag is T's may be viewed
// as T; that is what json_cast does.
static_assert(sizeof(Object) == sizeof(Element), "typed handles must have Element's layout");
static_assert(sizeof(Array) == sizeof(Element), "typed handles must have Element's layout");
static_assert(sizeof(String) == sizeof(Element), "typed handles must have Element's layout");
static_assert(sizeof(Number) == sizeof(Element), "typed handles must have Element's layout");
static_assert(sizeof(Boolean) == sizeof(Element), "typed handles must have Element's layout");
static_assert(sizeof(Null) == sizeof(Element), "typed handles must have Element's layout");
static_assert(std::is_nothrow_move_constructible<Element>::value,
              "containers must move elements, not clone them, when they grow");
static_assert(std::is_nothrow_move_constructible<Member>::value,
              "containers must move members, not clone them, when they grow");
static_assert(!std::is_polymorphic<Element>::value, "handles have no virtual functions");

namespace detail {
template <typename H>
struct HandleTag;
template <>
struct HandleTag<Object> : std::integral_constant<ElementType, kObjectType> {};
template <>
struct HandleTag<Array> : std::integral_constant<ElementType, kArrayType> {};
template <>
struct HandleTag<Number> : std::integral_constant<ElementType, kNumberType> {};
template <>
struct HandleTag<String> : std::integral_constant<ElementType, kStringType> {};
template <>
struct HandleTag<Boolean> : std::integral_constant<ElementType, kBooleanType> {};
template <>
struct HandleTag<Null> : std::integral_constant<ElementType, kNullType> {};
}  // namespace detail

// json_cast<Object&>(element), json_cast<const String&>(element), ...
template <typename RefT>
RefT json_cast(Element& element) {
  static_assert(std::is_reference<RefT>::value, "json_cast gives a reference");
  using H = std::remove_cv_t<std::remove_reference_t<RefT>>;
  if (element.Type() != detail::HandleTag<H>::value) throw Exception("Bad json_cast");
  return static_cast<RefT>(element);
}

template <typename RefT>
RefT json_cast(const Element& element) {
  static_assert(std::is_reference<RefT>::value, "json_cast gives a reference");
  using H = std::remove_cv_t<std::remove_reference_t<RefT>>;
  static_assert(std::is_const<std::remove_reference_t<RefT>>::value,
                "a const element casts to a const reference");
  if (element.Type() != detail::HandleTag<H>::value) throw Exception("Bad json_cast");
  return static_cast<RefT>(element);
}

}  // namespace json
