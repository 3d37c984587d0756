#include "base/values.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

std::vector<std::string> Keys(const Dictionary& dictionary) {
  std::vector<std::string> keys;
  for (Dictionary::Iterator it(dictionary); !it.IsAtEnd(); it.Advance())
    keys.push_back(it.key());
  return keys;
}

TEST(ValuesTest, PathSetCreatesAndReplacesIntermediateDictionaries) {
  Dictionary dictionary;
  dictionary.SetInteger("a.b", 1);
  const Dictionary* a = nullptr;
  const Value* found = nullptr;
  ASSERT_TRUE(dictionary.Get("a", &found));
  ASSERT_TRUE(found->GetAsDictionary(&a));
  EXPECT_EQ(std::vector<std::string>{"b"}, Keys(*a));

  Dictionary replaced;
  replaced.SetInteger("a", 5);
  replaced.SetInteger("a.b", 2);
  int value = 0;
  EXPECT_TRUE(replaced.GetInteger("a.b", &value));
  EXPECT_EQ(2, value);
  EXPECT_FALSE(replaced.GetInteger("a", &value));

  // Empty segments are keys like any other.
  Dictionary empties;
  empties.SetInteger("", 1);
  empties.SetInteger("x.", 2);
  empties.SetInteger(".y", 3);
  EXPECT_EQ((std::vector<std::string>{"", "x"}), Keys(empties));
  EXPECT_TRUE(empties.GetInteger("x.", &value));
  EXPECT_EQ(2, value);
  EXPECT_TRUE(empties.GetInteger(".y", &value));
  EXPECT_EQ(3, value);
  // The empty key now names the dictionary that holds y, which replaced the 1.
  EXPECT_FALSE(empties.GetInteger("", &value));
}

TEST(ValuesTest, PathGetters) {
  Dictionary dictionary;
  dictionary.SetInteger("a.b.c", 1);
  dictionary.Set("list", MakeListValue());
  dictionary.SetString("text", "caf\xC3\xA9");
  dictionary.SetString("ascii", "plain");
  dictionary.Set("flag", MakeBoolValue(true));
  dictionary.SetWithoutPathExpansion("dotted.key", MakeIntegerValue(7));
  dictionary.SetInteger("", 9);

  struct GetCase {
    const char* path;
    bool found;
    int integer;  // when found and an integer
  };
  const GetCase cases[] = {
      {"a.b.c", true, 1},  {"a.b", true, -1},       {"a.b.c.d", false, 0},
      {"a.x", false, 0},   {"list.0", false, 0},    {"dotted.key", false, 0},
      {"", true, 9},       {".", false, 0},          {"a..c", false, 0},
      {"text", true, -1},
  };
  for (const GetCase& c : cases) {
    const Value* value = nullptr;
    EXPECT_EQ(c.found, dictionary.Get(c.path, &value)) << c.path;
    if (c.found && c.integer >= 0) {
      int integer = -1;
      EXPECT_TRUE(value->GetAsInteger(&integer)) << c.path;
      EXPECT_EQ(c.integer, integer) << c.path;
    }
  }

  // The dotted key exists as one key, visible to iteration.
  std::vector<std::string> keys = Keys(dictionary);
  EXPECT_EQ(1, std::count(keys.begin(), keys.end(), "dotted.key"));

  // Typed getters demand the exact type and leave the output untouched otherwise.
  int integer = 42;
  EXPECT_FALSE(dictionary.GetInteger("flag", &integer));
  EXPECT_EQ(42, integer);
  std::string narrow = "untouched";
  EXPECT_FALSE(dictionary.GetStringASCII("text", &narrow));
  EXPECT_EQ("untouched", narrow);
  EXPECT_TRUE(dictionary.GetStringASCII("ascii", &narrow));
  EXPECT_EQ("plain", narrow);
  std::wstring wide;
  EXPECT_TRUE(dictionary.GetString("text", &wide));
  EXPECT_EQ(L"caf\x00E9", wide);
  const List* list = nullptr;
  EXPECT_TRUE(dictionary.GetList("list", &list));
  EXPECT_FALSE(dictionary.GetList("a", &list));
}

TEST(ValuesTest, RemoveKeepsParentsRemovePathDropsEmptyOnes) {
  Dictionary removed;
  removed.SetInteger("a.b", 1);
  std::unique_ptr<Value> out;
  EXPECT_TRUE(removed.Remove("a.b", &out));
  int value = 0;
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->GetAsInteger(&value));
  EXPECT_EQ(1, value);
  const Value* a = nullptr;
  ASSERT_TRUE(removed.Get("a", &a));
  EXPECT_TRUE(a->is_dictionary());
  EXPECT_EQ(1u, removed.size());

  Dictionary pruned;
  pruned.SetInteger("a.b", 1);
  EXPECT_TRUE(pruned.RemovePath("a.b", nullptr));
  EXPECT_TRUE(pruned.empty());

  // Three segments: both emptied dictionaries go, a non-empty one stays.
  Dictionary deep;
  deep.SetInteger("x.y.z", 1);
  deep.SetInteger("x.keep", 2);
  EXPECT_TRUE(deep.RemovePath("x.y.z", nullptr));
  EXPECT_FALSE(deep.Get("x.y", nullptr));
  EXPECT_TRUE(deep.GetInteger("x.keep", &value));

  // Misses change nothing.
  EXPECT_FALSE(deep.Remove("x.nothing", nullptr));
  EXPECT_FALSE(deep.RemovePath("x.keep.deeper", nullptr));
  EXPECT_FALSE(deep.Remove("missing.key", nullptr));
  EXPECT_FALSE(deep.RemoveWithoutPathExpansion("x.keep", nullptr));
  EXPECT_EQ(1u, deep.size());
}

TEST(ValuesTest, ListSetPadsWithNullAndDoublesAreFinite) {
  List list;
  EXPECT_TRUE(list.Set(3, MakeIntegerValue(4)));
  ASSERT_EQ(4u, list.size());
  const Value* element = nullptr;
  ASSERT_TRUE(list.Get(2, &element));
  EXPECT_EQ(Value::Type::NONE, element->type());
  EXPECT_FALSE(list.Set(0, nullptr));
  EXPECT_FALSE(list.Get(4, nullptr));

  // Non-finite doubles are stored as zero, whichever way they come in.
  list.AppendDouble(std::nan(""));
  list.AppendDouble(-std::numeric_limits<double>::infinity());
  Dictionary dictionary;
  dictionary.SetDoubleWithoutPathExpansion("inf", std::numeric_limits<double>::infinity());
  const Value* stored[3] = {};
  ASSERT_TRUE(list.Get(4, &stored[0]) && list.Get(5, &stored[1]) &&
              dictionary.Get("inf", &stored[2]));
  for (const Value* value : stored) EXPECT_EQ(0.0, value->double_value());
  EXPECT_EQ(0.0, Value(std::nan("")).double_value());
}

TEST(ValuesTest, Equality) {
  Dictionary one;
  one.SetInteger("a", 1);
  one.SetString("b.c", "x");
  Dictionary other;
  other.SetString("b.c", "x");
  other.SetInteger("a", 1);
  EXPECT_TRUE(one.Equals(other));
  other.SetInteger("a", 2);
  EXPECT_FALSE(one.Equals(other));

  struct EqualCase {
    Value a;
    Value b;
    bool equal;
  };
  const EqualCase cases[] = {
      {Value(1), Value(1.0), false},
      {Value(1), Value(1), true},
      {Value(), Value(), true},
      {Value(true), Value(false), false},
      {Value(std::string("a\0b", 3)), Value(std::string("a\0c", 3)), false},
      {Value(Value::BinaryBuffer{1, 2}), Value(Value::BinaryBuffer{1, 2}), true},
      {Value(Value::BinaryBuffer{1, 2}), Value(Value::BinaryBuffer{1}), false},
      {Value(Value::Type::LIST), Value(Value::Type::DICTIONARY), false},
      {Value(Value::Type::DICTIONARY), Dictionary(), true},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    EXPECT_EQ(cases[i].equal, cases[i].a.Equals(cases[i].b)) << "case " << i;

  List long_list;
  long_list.AppendInteger(1);
  long_list.AppendInteger(2);
  List short_list;
  short_list.AppendInteger(1);
  EXPECT_FALSE(long_list.Equals(short_list));
  EXPECT_FALSE(short_list.Equals(long_list));
}

TEST(ValuesTest, CopiesAreDeepAndMovesTransfer) {
  Dictionary original;
  original.SetString("a.b", "text");
  std::unique_ptr<List> list = MakeListValue();
  list->AppendInteger(1);
  original.Set("list", std::move(list));

  std::unique_ptr<Value> copy = original.CreateDeepCopy();
  EXPECT_TRUE(copy->Equals(original));
  original.SetString("a.b", "changed");
  EXPECT_FALSE(copy->Equals(original));

  Dictionary moved(std::move(original));
  EXPECT_EQ(2u, moved.size());
  // The emptied source is still a usable dictionary.
  EXPECT_EQ(0u, original.size());  // NOLINT(bugprone-use-after-move)
  original.SetInteger("again", 1);
  EXPECT_EQ(1u, original.size());

  // Assigning a value from inside itself copies before releasing.
  Value holder(Value::Type::LIST);
  List* holder_list = nullptr;
  ASSERT_TRUE(holder.GetAsList(&holder_list));
  holder_list->AppendString("inner");
  const Value* inner = nullptr;
  ASSERT_TRUE(holder_list->Get(0, &inner));
  holder = *inner;
  std::string text;
  EXPECT_TRUE(holder.GetAsString(&text));
  EXPECT_EQ("inner", text);
}

TEST(ValuesTest, DictionaryFromValue) {
  EXPECT_TRUE(Dictionary::From(std::make_unique<Value>(Value::Type::DICTIONARY)));
  EXPECT_FALSE(Dictionary::From(MakeIntegerValue(1)));
  EXPECT_FALSE(Dictionary::From(nullptr));
}

}  // namespace
}  // namespace base
