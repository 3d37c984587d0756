// The in-memory tree of JSON-like data: none, boolean, integer, double, string, binary,
// dictionary and list values. Text inside a Value is always UTF-8.
//
// Containers own their children. Set/Append take owner pointers and consume them; Get
// hands out borrowed pointers that stay valid until the container changes; Remove hands
// ownership back when an out parameter is given.
//
//   std::unique_ptr<Dictionary> settings = MakeDictionaryValue();
//   settings->SetInteger("window.width", 640);   // creates the "window" dictionary
//   int width = 0;
//   settings->GetInteger("window.width", &width);
#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class Dictionary;
class List;

// Dictionary entries: kept sorted by key (byte-wise, unsigned) without duplicates.
typedef std::vector<std::pair<std::string, std::unique_ptr<class Value>>> DictEntries;

class Value {
 public:
  // The numbers are part of the type's contract (callers switch on them).
  enum class Type : int {
    NONE = 0,
    BOOLEAN = 1,
    INTEGER = 2,
    DOUBLE = 3,
    STRING = 4,
    BINARY = 5,
    DICTIONARY = 6,
    LIST = 7,
  };
  typedef std::vector<char> BinaryBuffer;

  Value();  // none
  explicit Value(Type type);  // the empty or zero value of that type
  explicit Value(bool value);
  explicit Value(int value);
  explicit Value(double value);  // NaN and infinities are stored as 0.0
  explicit Value(const char* utf8);
  explicit Value(const std::string& utf8);
  explicit Value(std::string&& utf8);
  explicit Value(StringPiece utf8);
  explicit Value(const std::wstring& wide);  // converted to UTF-8
  explicit Value(BinaryBuffer&& bytes);
  Value(const Value& other);  // deep copy
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value();

  Type type() const { return type_; }
  bool is_dictionary() const { return type_ == Type::DICTIONARY; }
  bool is_list() const { return type_ == Type::LIST; }

  std::unique_ptr<Value> CreateDeepCopy() const;

  // Type queries: true only when the tag matches exactly (no conversions). A null out
  // parameter only asks the question.
  [[nodiscard]] bool GetAsBoolean(bool* out) const;
  [[nodiscard]] bool GetAsInteger(int* out) const;
  [[nodiscard]] bool GetAsString(std::string* out) const;
  [[nodiscard]] bool GetAsString(std::wstring* out) const;
  [[nodiscard]] bool GetAsList(List** out);
  [[nodiscard]] bool GetAsList(const List** out) const;
  [[nodiscard]] bool GetAsDictionary(Dictionary** out);
  [[nodiscard]] bool GetAsDictionary(const Dictionary** out) const;

  // Raw payload access for serializers; each must only be called on its own type.
  double double_value() const;
  const std::string& string_value() const;
  const BinaryBuffer& binary_value() const;

  bool Equals(const Value& other) const;

 protected:
  // Entry storage of a dictionary; null only in a dictionary that was moved from.
  DictEntries* dict_storage() const { return dict_; }
  DictEntries* EnsureDictStorage();
  std::vector<Value>& list_storage() { return list_; }
  const std::vector<Value>& list_storage() const { return list_; }

 private:
  void InitScalarFrom(const Value& other);  // none, boolean, integer, double
  void InitFrom(const Value& other);
  void InitFrom(Value&& other);
  void Destroy();

  Type type_;
  union {
    bool bool_;
    int int_;
    double double_;
    std::string string_;
    BinaryBuffer binary_;
    DictEntries* dict_;
    std::vector<Value> list_;
  };
};

// A Value whose type is DICTIONARY; it adds no fields, so any dictionary-typed Value can
// be viewed as one.
class Dictionary : public Value {
 public:
  Dictionary();
  // Takes entries that are already sorted by key and free of duplicates.
  explicit Dictionary(DictEntries&& sorted_entries);

  // Yields `value` as a dictionary when it is one; otherwise destroys it and yields null.
  static std::unique_ptr<Dictionary> From(std::unique_ptr<Value> value);

  size_t size() const;
  bool empty() const { return size() == 0; }

  // Path operations split `path` at '.'; missing or non-dictionary intermediate entries
  // are replaced by new empty dictionaries. A null value is ignored.
  void Set(StringPiece path, std::unique_ptr<Value> value);
  void SetInteger(StringPiece path, int value);
  void SetString(StringPiece path, StringPiece utf8);

  // The whole `key` is one key, dots included.
  void SetWithoutPathExpansion(StringPiece key, std::unique_ptr<Value> value);
  void SetDoubleWithoutPathExpansion(StringPiece key, double value);
  void SetStringWithoutPathExpansion(StringPiece key, StringPiece utf8);

  // Path getters; false when a segment is missing or an intermediate value is not a
  // dictionary. Typed getters also fail on another type and leave `out` untouched.
  [[nodiscard]] bool Get(StringPiece path, const Value** out) const;
  [[nodiscard]] bool Get(StringPiece path, Value** out);
  [[nodiscard]] bool GetBoolean(StringPiece path, bool* out) const;
  [[nodiscard]] bool GetInteger(StringPiece path, int* out) const;
  [[nodiscard]] bool GetString(StringPiece path, std::string* out) const;
  [[nodiscard]] bool GetString(StringPiece path, std::wstring* out) const;
  [[nodiscard]] bool GetStringASCII(StringPiece path, std::string* out) const;
  [[nodiscard]] bool GetList(StringPiece path, const List** out) const;
  [[nodiscard]] bool GetList(StringPiece path, List** out);

  // Removes the value at `path`; the dictionaries on the way stay, even when empty.
  [[nodiscard]] bool Remove(StringPiece path, std::unique_ptr<Value>* out);
  [[nodiscard]] bool RemoveWithoutPathExpansion(StringPiece key, std::unique_ptr<Value>* out);
  // As Remove, and also removes the dictionaries on the way that it leaves empty.
  [[nodiscard]] bool RemovePath(StringPiece path, std::unique_ptr<Value>* out);

  // Visits the entries in ascending key order.
  //   for (Dictionary::Iterator it(dict); !it.IsAtEnd(); it.Advance()) ...
  class Iterator {
   public:
    explicit Iterator(const Dictionary& dictionary);
    bool IsAtEnd() const;
    void Advance() { ++index_; }
    const std::string& key() const;
    const Value& value() const;

   private:
    const DictEntries* entries_;
    size_t index_;
  };

 private:
  // The entry with exactly `key`, or null.
  Value* FindKey(StringPiece key) const;
  // The dictionary that holds the last segment of `path`; `*last` receives that segment.
  [[nodiscard]] bool ResolveParent(StringPiece path, const Dictionary** parent,
                                   StringPiece* last) const;
};

// A Value whose type is LIST; the elements are held by value.
class List : public Value {
 public:
  List();

  size_t size() const { return list_storage().size(); }
  bool empty() const { return list_storage().empty(); }

  // Replaces the element at `index`, or pads with none values up to `index` and appends.
  // Refuses a null value.
  [[nodiscard]] bool Set(size_t index, std::unique_ptr<Value> value);
  [[nodiscard]] bool Get(size_t index, const Value** out) const;
  [[nodiscard]] bool Get(size_t index, Value** out);
  [[nodiscard]] bool GetDictionary(size_t index, const Dictionary** out) const;
  [[nodiscard]] bool GetDictionary(size_t index, Dictionary** out);

  // A null value is ignored.
  void Append(std::unique_ptr<Value> value);
  void AppendBoolean(bool value);
  void AppendInteger(int value);
  void AppendDouble(double value);  // NaN and infinities are stored as 0.0
  void AppendString(StringPiece utf8);
};

std::unique_ptr<Value> MakeBoolValue(bool value);
std::unique_ptr<Value> MakeIntegerValue(int value);
std::unique_ptr<Value> MakeStringValue(const std::wstring& wide);
std::unique_ptr<Dictionary> MakeDictionaryValue();
std::unique_ptr<List> MakeListValue();

}  // namespace base

#endif  // BASE_VALUES_H_
