#include "json/elements.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using json::Array;
using json::Boolean;
using json::Element;
using json::json_cast;
using json::Member;
using json::Null;
using json::Number;
using json::Object;
using json::String;

std::string MessageOf(void (*operation)()) {
  try {
    operation();
  } catch (const json::Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST(ElementModel, DefaultElementIsNullAndCastsOnlyToNull) {
  Element element;
  EXPECT_EQ(element, Null());
  EXPECT_EQ(element.Type(), json::kNullType);
  EXPECT_NO_THROW(json_cast<Null&>(element));
  EXPECT_STREQ(MessageOf([] {
                 Element e;
                 json_cast<String&>(e);
               }).c_str(),
               "Bad json_cast");
  const Element& constant = element;
  EXPECT_NO_THROW(json_cast<const Null&>(constant));
  EXPECT_THROW(json_cast<const Object&>(constant), json::Exception);
}

TEST(ElementModel, CastsAndTypedAccessTestTheTag) {
  struct Case {
    Element element;
    json::ElementType type;
  };
  const Case cases[] = {{Object(), json::kObjectType},       {Array(), json::kArrayType},
                        {Number(2), json::kNumberType},      {String("s"), json::kStringType},
                        {Boolean(true), json::kBooleanType}, {Null(), json::kNullType}};
  for (const Case& c : cases) {
    Element e = c.element;
    EXPECT_EQ(e.Type(), c.type);
    EXPECT_EQ(e.Type() == json::kObjectType, [&] {
      try {
        json_cast<Object&>(e);
        return true;
      } catch (const json::Exception&) {
        return false;
      }
    }());
    EXPECT_EQ(e.Type() == json::kArrayType, [&] {
      try {
        json_cast<Array&>(e);
        return true;
      } catch (const json::Exception&) {
        return false;
      }
    }());
    EXPECT_EQ(e.Type() == json::kNumberType, [&] {
      try {
        json_cast<Number&>(e);
        return true;
      } catch (const json::Exception&) {
        return false;
      }
    }());
    EXPECT_EQ(e.Type() == json::kStringType, [&] {
      try {
        json_cast<String&>(e);
        return true;
      } catch (const json::Exception&) {
        return false;
      }
    }());
    EXPECT_EQ(e.Type() == json::kBooleanType, [&] {
      try {
        json_cast<Boolean&>(e);
        return true;
      } catch (const json::Exception&) {
        return false;
      }
    }());
  }
  // A typed handle that was handed another type (through Element's assignment)
  // refuses every typed operation.
  Object object;
  static_cast<Element&>(object) = String("x");
  EXPECT_STREQ(MessageOf([] {
                 Object o;
                 static_cast<Element&>(o) = Number(1);
                 o.Size();
               }).c_str(),
               "Type/ImpType mismatch");
  EXPECT_THROW(object["a"], json::Exception);
}

TEST(ElementModel, SubscriptAppendsNullAndAssignmentKeepsPosition) {
  Object object;
  Element& missing = object["x"];
  EXPECT_EQ(object.Size(), 1u);
  EXPECT_EQ(missing, Null());
  EXPECT_THROW(json_cast<String&>(object["x"]), json::Exception);

  object["a"] = String("first");
  object["b"] = Number(2);
  object["a"] = Number(7);
  ASSERT_EQ(object.Size(), 3u);
  auto it = object.Begin();
  EXPECT_EQ(it->name, "x");
  ++it;
  EXPECT_EQ(it->name, "a");
  EXPECT_EQ(json_cast<Number&>(it->element).Value(), 7);
  ++it;
  EXPECT_EQ(it->name, "b");
}

TEST(ElementModel, InsertRefusesDuplicatesAndKeepsTheObject) {
  Object object;
  object.Insert(Member("b", Number(1)));
  object.Insert(Member("a", Number(2)), object.Begin());
  EXPECT_EQ(object.Begin()->name, "a");
  try {
    object.Insert(Member("b", String("again")));
    FAIL() << "no exception";
  } catch (const json::Exception& e) {
    EXPECT_STREQ(e.what(), "Object member already exists: b");
  }
  EXPECT_EQ(object.Size(), 2u);
  EXPECT_EQ(json_cast<Number&>(object["b"]).Value(), 1);
}

TEST(ElementModel, CopiesAreDeepAndIndependent) {
  Object source;
  source["list"] = Array();
  json_cast<Array&>(source["list"]).Insert(String("one"));
  source["inner"] = Object();
  json_cast<Object&>(source["inner"])["k"] = Boolean(true);

  Object copy = source;
  EXPECT_EQ(copy, source);
  json_cast<Array&>(copy["list"]).Insert(String("two"));
  json_cast<Boolean&>(json_cast<Object&>(copy["inner"])["k"]).Value() = false;
  EXPECT_NE(copy, source);
  EXPECT_EQ(json_cast<Array&>(source["list"]).Size(), 1u);
  EXPECT_TRUE(json_cast<Boolean&>(json_cast<Object&>(source["inner"])["k"]).Value());

  Element moved = std::move(copy);
  EXPECT_EQ(moved.Type(), json::kObjectType);
  EXPECT_EQ(static_cast<Element&>(copy), Null());  // a moved-from handle is a valid Null
  copy = source;
  EXPECT_EQ(copy, source);
  copy = copy;  // self-assignment leaves it whole
  EXPECT_EQ(copy, source);
}

TEST(ElementModel, EqualityIsStructuralAndOrdered) {
  Object ab, ba;
  ab["a"] = Number(1);
  ab["b"] = Number(2);
  ba["b"] = Number(2);
  ba["a"] = Number(1);
  EXPECT_NE(ab, ba);
  EXPECT_NE(Element(Number(NAN)), Element(Number(NAN)));
  EXPECT_EQ(Element(Number(0.0)), Element(Number(-0.0)));
  EXPECT_NE(Element(String("1")), Element(Number(1)));
  EXPECT_EQ(Element(String(std::string("a\0b", 3))), Element(String(std::string("a\0b", 3))));
  EXPECT_NE(Element(String(std::string("a\0b", 3))), Element(String(std::string("a\0c", 3))));
  Array one, two;
  one.Insert(Null());
  EXPECT_NE(one, two);
  two.Insert(Null());
  EXPECT_EQ(one, two);
}

TEST(ElementModel, LargeObjectsFindTheFirstMemberOfEachName) {
  Object object;
  for (int i = 0; i < 5000; ++i) object["m" + std::to_string(i)] = Number(i);
  EXPECT_EQ(object.Size(), 5000u);
  EXPECT_EQ(json_cast<Number&>(object["m4321"]).Value(), 4321);
  EXPECT_EQ(object.Size(), 5000u);
  object.Insert(Member("front", Number(-1)), object.Begin());
  EXPECT_EQ(json_cast<Number&>(object["m0"]).Value(), 0);
  EXPECT_EQ(json_cast<Number&>(object["front"]).Value(), -1);
  EXPECT_THROW(object.Insert(Member("m77")), json::Exception);
  EXPECT_EQ(object.Find("absent"), object.End());
  Object copy = object;
  EXPECT_EQ(json_cast<Number&>(copy["m4999"]).Value(), 4999);
  object.Clear();
  EXPECT_TRUE(object.Empty());
  object["m1"] = Null();
  EXPECT_EQ(object.Size(), 1u);
}

}  // namespace
