#include "base/values.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/logging.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

// A Value never holds NaN or an infinity: JSON cannot express them.
double FiniteOrZero(double value) {
  return std::isfinite(value) ? value : 0.0;
}

// Lower bound by byte-wise key order.
DictEntries::iterator LowerBound(DictEntries* entries, StringPiece key) {
  return std::lower_bound(entries->begin(), entries->end(), key,
                          [](const DictEntries::value_type& entry, StringPiece wanted) {
                            return StringPiece(entry.first).compare(wanted) < 0;
                          });
}

// Splits `path` at its first '.': `*segment` is the text before it, `*rest` after it.
// False when there is no '.'.
[[nodiscard]] bool SplitFirstSegment(StringPiece path, StringPiece* segment, StringPiece* rest) {
  size_t dot = path.find('.');
  if (dot == StringPiece::npos) return false;
  *segment = path.substr(0, dot);
  *rest = path.substr(dot + 1);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------- Value

Value::Value() : type_(Type::NONE), int_(0) {}

Value::Value(Type type) : type_(type) {
  switch (type) {
    case Type::NONE:
    case Type::INTEGER:
      int_ = 0;
      break;
    case Type::BOOLEAN:
      bool_ = false;
      break;
    case Type::DOUBLE:
      double_ = 0.0;
      break;
    case Type::STRING:
      new (&string_) std::string();
      break;
    case Type::BINARY:
      new (&binary_) BinaryBuffer();
      break;
    case Type::DICTIONARY:
      dict_ = new DictEntries();
      break;
    case Type::LIST:
      new (&list_) std::vector<Value>();
      break;
  }
}

Value::Value(bool value) : type_(Type::BOOLEAN), bool_(value) {}
Value::Value(int value) : type_(Type::INTEGER), int_(value) {}
Value::Value(double value) : type_(Type::DOUBLE), double_(FiniteOrZero(value)) {}
Value::Value(const char* utf8) : Value(StringPiece(utf8)) {}
Value::Value(const std::string& utf8) : type_(Type::STRING), string_(utf8) {}
Value::Value(std::string&& utf8) : type_(Type::STRING), string_(std::move(utf8)) {}
Value::Value(StringPiece utf8) : type_(Type::STRING), string_(utf8.as_string()) {}
Value::Value(const std::wstring& wide) : type_(Type::STRING), string_(WideToUTF8(wide)) {}
Value::Value(BinaryBuffer&& bytes) : type_(Type::BINARY), binary_(std::move(bytes)) {}

Value::Value(const Value& other) { InitFrom(other); }
Value::Value(Value&& other) noexcept { InitFrom(std::move(other)); }

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);  // before Destroy: `other` may live inside this value
    Destroy();
    InitFrom(std::move(copy));
  }
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    Value moved(std::move(other));
    Destroy();
    InitFrom(std::move(moved));
  }
  return *this;
}

Value::~Value() { Destroy(); }

void Value::InitScalarFrom(const Value& other) {
  type_ = other.type_;
  switch (type_) {
    case Type::BOOLEAN:
      bool_ = other.bool_;
      break;
    case Type::DOUBLE:
      double_ = other.double_;
      break;
    default:
      int_ = other.int_;
      break;
  }
}

void Value::InitFrom(const Value& other) {
  type_ = other.type_;
  switch (type_) {
    case Type::STRING:
      new (&string_) std::string(other.string_);
      break;
    case Type::BINARY:
      new (&binary_) BinaryBuffer(other.binary_);
      break;
    case Type::DICTIONARY:
      // Entries are copied in order, so the copy stays sorted.
      dict_ = new DictEntries();
      if (other.dict_) {
        dict_->reserve(other.dict_->size());
        for (const auto& entry : *other.dict_)
          dict_->emplace_back(entry.first, entry.second->CreateDeepCopy());
      }
      break;
    case Type::LIST:
      new (&list_) std::vector<Value>(other.list_);
      break;
    default:
      InitScalarFrom(other);
      break;
  }
}

void Value::InitFrom(Value&& other) {
  type_ = other.type_;
  switch (type_) {
    case Type::STRING:
      new (&string_) std::string(std::move(other.string_));
      break;
    case Type::BINARY:
      new (&binary_) BinaryBuffer(std::move(other.binary_));
      break;
    case Type::DICTIONARY:
      dict_ = other.dict_;
      other.dict_ = nullptr;
      break;
    case Type::LIST:
      new (&list_) std::vector<Value>(std::move(other.list_));
      break;
    default:
      InitScalarFrom(other);
      break;
  }
}

void Value::Destroy() {
  switch (type_) {
    case Type::STRING:
      string_.~basic_string();
      break;
    case Type::BINARY:
      binary_.~vector();
      break;
    case Type::DICTIONARY:
      delete dict_;
      dict_ = nullptr;
      break;
    case Type::LIST:
      list_.~vector();
      break;
    default:
      break;
  }
  type_ = Type::NONE;
  int_ = 0;
}

DictEntries* Value::EnsureDictStorage() {
  DCHECK(type_ == Type::DICTIONARY);
  if (!dict_) dict_ = new DictEntries();
  return dict_;
}

std::unique_ptr<Value> Value::CreateDeepCopy() const {
  return std::make_unique<Value>(*this);
}

bool Value::GetAsBoolean(bool* out) const {
  if (type_ != Type::BOOLEAN) return false;
  if (out) *out = bool_;
  return true;
}

bool Value::GetAsInteger(int* out) const {
  if (type_ != Type::INTEGER) return false;
  if (out) *out = int_;
  return true;
}

bool Value::GetAsString(std::string* out) const {
  if (type_ != Type::STRING) return false;
  if (out) *out = string_;
  return true;
}

bool Value::GetAsString(std::wstring* out) const {
  if (type_ != Type::STRING) return false;
  if (out) *out = UTF8ToWide(string_);
  return true;
}

bool Value::GetAsList(List** out) {
  if (type_ != Type::LIST) return false;
  if (out) *out = static_cast<List*>(this);
  return true;
}

bool Value::GetAsList(const List** out) const {
  if (type_ != Type::LIST) return false;
  if (out) *out = static_cast<const List*>(this);
  return true;
}

bool Value::GetAsDictionary(Dictionary** out) {
  if (type_ != Type::DICTIONARY) return false;
  if (out) *out = static_cast<Dictionary*>(this);
  return true;
}

bool Value::GetAsDictionary(const Dictionary** out) const {
  if (type_ != Type::DICTIONARY) return false;
  if (out) *out = static_cast<const Dictionary*>(this);
  return true;
}

double Value::double_value() const {
  CHECK(type_ == Type::DOUBLE);
  return double_;
}

const std::string& Value::string_value() const {
  CHECK(type_ == Type::STRING);
  return string_;
}

const Value::BinaryBuffer& Value::binary_value() const {
  CHECK(type_ == Type::BINARY);
  return binary_;
}

bool Value::Equals(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case Type::NONE:
      return true;
    case Type::BOOLEAN:
      return bool_ == other.bool_;
    case Type::INTEGER:
      return int_ == other.int_;
    case Type::DOUBLE:
      return double_ == other.double_;
    case Type::STRING:
      return string_ == other.string_;
    case Type::BINARY:
      return binary_ == other.binary_;
    case Type::DICTIONARY: {
      size_t size = dict_ ? dict_->size() : 0;
      size_t other_size = other.dict_ ? other.dict_->size() : 0;
      if (size != other_size) return false;
      // Both are sorted, so equal dictionaries pair up entry by entry.
      for (size_t i = 0; i < size; ++i) {
        const auto& a = (*dict_)[i];
        const auto& b = (*other.dict_)[i];
        if (a.first != b.first || !a.second->Equals(*b.second)) return false;
      }
      return true;
    }
    case Type::LIST: {
      if (list_.size() != other.list_.size()) return false;
      for (size_t i = 0; i < list_.size(); ++i)
        if (!list_[i].Equals(other.list_[i])) return false;
      return true;
    }
  }
  return false;
}

// ------------------------------------------------------------------------ Dictionary

Dictionary::Dictionary() : Value(Type::DICTIONARY) {}

Dictionary::Dictionary(DictEntries&& sorted_entries) : Value(Type::DICTIONARY) {
  *dict_storage() = std::move(sorted_entries);
}

// static
std::unique_ptr<Dictionary> Dictionary::From(std::unique_ptr<Value> value) {
  if (!value || !value->is_dictionary()) return nullptr;
  return std::unique_ptr<Dictionary>(static_cast<Dictionary*>(value.release()));
}

size_t Dictionary::size() const {
  return dict_storage() ? dict_storage()->size() : 0;
}

Value* Dictionary::FindKey(StringPiece key) const {
  DictEntries* entries = dict_storage();
  if (!entries) return nullptr;
  auto it = LowerBound(entries, key);
  if (it == entries->end() || StringPiece(it->first) != key) return nullptr;
  return it->second.get();
}

void Dictionary::Set(StringPiece path, std::unique_ptr<Value> value) {
  if (!value) return;
  Dictionary* current = this;
  StringPiece segment;
  while (SplitFirstSegment(path, &segment, &path)) {
    Value* child = current->FindKey(segment);
    if (!child || !child->is_dictionary()) {
      child = new Dictionary();
      current->SetWithoutPathExpansion(segment, std::unique_ptr<Value>(child));
    }
    current = static_cast<Dictionary*>(child);
  }
  current->SetWithoutPathExpansion(path, std::move(value));
}

void Dictionary::SetInteger(StringPiece path, int value) {
  Set(path, std::make_unique<Value>(value));
}

void Dictionary::SetString(StringPiece path, StringPiece utf8) {
  Set(path, std::make_unique<Value>(utf8));
}

void Dictionary::SetWithoutPathExpansion(StringPiece key, std::unique_ptr<Value> value) {
  if (!value) return;
  DictEntries* entries = EnsureDictStorage();
  auto it = LowerBound(entries, key);
  if (it != entries->end() && StringPiece(it->first) == key) {
    it->second = std::move(value);
    return;
  }
  // Appending and rotating keeps the array sorted with one move of the tail.
  size_t position = it - entries->begin();
  entries->emplace_back(key.as_string(), std::move(value));
  std::rotate(entries->begin() + position, entries->end() - 1, entries->end());
}

void Dictionary::SetDoubleWithoutPathExpansion(StringPiece key, double value) {
  SetWithoutPathExpansion(key, std::make_unique<Value>(value));
}

void Dictionary::SetStringWithoutPathExpansion(StringPiece key, StringPiece utf8) {
  SetWithoutPathExpansion(key, std::make_unique<Value>(utf8));
}

bool Dictionary::ResolveParent(StringPiece path, const Dictionary** parent,
                               StringPiece* last) const {
  const Dictionary* current = this;
  StringPiece segment;
  while (SplitFirstSegment(path, &segment, &path)) {
    const Value* child = current->FindKey(segment);
    if (!child || !child->GetAsDictionary(&current)) return false;
  }
  *parent = current;
  *last = path;
  return true;
}

bool Dictionary::Get(StringPiece path, const Value** out) const {
  const Dictionary* parent = nullptr;
  StringPiece last;
  if (!ResolveParent(path, &parent, &last)) return false;
  const Value* found = parent->FindKey(last);
  if (!found) return false;
  if (out) *out = found;
  return true;
}

bool Dictionary::Get(StringPiece path, Value** out) {
  const Value* found = nullptr;
  if (!static_cast<const Dictionary*>(this)->Get(path, &found)) return false;
  if (out) *out = const_cast<Value*>(found);
  return true;
}

bool Dictionary::GetBoolean(StringPiece path, bool* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsBoolean(out);
}

bool Dictionary::GetInteger(StringPiece path, int* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsInteger(out);
}

bool Dictionary::GetString(StringPiece path, std::string* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsString(out);
}

bool Dictionary::GetString(StringPiece path, std::wstring* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsString(out);
}

bool Dictionary::GetStringASCII(StringPiece path, std::string* out) const {
  std::string text;
  if (!GetString(path, &text) || !IsStringASCII(text)) return false;
  if (out) out->swap(text);
  return true;
}

bool Dictionary::GetList(StringPiece path, const List** out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsList(out);
}

bool Dictionary::GetList(StringPiece path, List** out) {
  Value* value = nullptr;
  return Get(path, &value) && value->GetAsList(out);
}

bool Dictionary::Remove(StringPiece path, std::unique_ptr<Value>* out) {
  size_t dot = path.rfind('.');
  if (dot == StringPiece::npos) return RemoveWithoutPathExpansion(path, out);
  Value* parent = nullptr;
  Dictionary* parent_dictionary = nullptr;
  if (!Get(path.substr(0, dot), &parent) || !parent->GetAsDictionary(&parent_dictionary))
    return false;
  return parent_dictionary->RemoveWithoutPathExpansion(path.substr(dot + 1), out);
}

bool Dictionary::RemoveWithoutPathExpansion(StringPiece key, std::unique_ptr<Value>* out) {
  DictEntries* entries = dict_storage();
  if (!entries) return false;
  auto it = LowerBound(entries, key);
  if (it == entries->end() || StringPiece(it->first) != key) return false;
  std::unique_ptr<Value> removed = std::move(it->second);
  entries->erase(it);
  if (out) *out = std::move(removed);
  return true;
}

bool Dictionary::RemovePath(StringPiece path, std::unique_ptr<Value>* out) {
  StringPiece segment;
  StringPiece rest;
  if (!SplitFirstSegment(path, &segment, &rest)) return RemoveWithoutPathExpansion(path, out);
  Value* child = FindKey(segment);
  Dictionary* child_dictionary = nullptr;
  if (!child || !child->GetAsDictionary(&child_dictionary)) return false;
  if (!child_dictionary->RemovePath(rest, out)) return false;
  if (child_dictionary->empty()) (void)RemoveWithoutPathExpansion(segment, nullptr);  // found above
  return true;
}

Dictionary::Iterator::Iterator(const Dictionary& dictionary)
    : entries_(dictionary.dict_storage()), index_(0) {}

bool Dictionary::Iterator::IsAtEnd() const {
  return !entries_ || index_ >= entries_->size();
}

const std::string& Dictionary::Iterator::key() const {
  return (*entries_)[index_].first;
}

const Value& Dictionary::Iterator::value() const {
  return *(*entries_)[index_].second;
}

// ------------------------------------------------------------------------------ List

List::List() : Value(Type::LIST) {}

bool List::Set(size_t index, std::unique_ptr<Value> value) {
  if (!value) return false;
  std::vector<Value>& elements = list_storage();
  if (index < elements.size()) {
    elements[index] = std::move(*value);
    return true;
  }
  elements.resize(index);  // pads with none values
  elements.push_back(std::move(*value));
  return true;
}

bool List::Get(size_t index, const Value** out) const {
  if (index >= list_storage().size()) return false;
  if (out) *out = &list_storage()[index];
  return true;
}

bool List::Get(size_t index, Value** out) {
  if (index >= list_storage().size()) return false;
  if (out) *out = &list_storage()[index];
  return true;
}

bool List::GetDictionary(size_t index, const Dictionary** out) const {
  const Value* value = nullptr;
  return Get(index, &value) && value->GetAsDictionary(out);
}

bool List::GetDictionary(size_t index, Dictionary** out) {
  Value* value = nullptr;
  return Get(index, &value) && value->GetAsDictionary(out);
}

void List::Append(std::unique_ptr<Value> value) {
  if (value) list_storage().push_back(std::move(*value));
}

void List::AppendBoolean(bool value) { list_storage().emplace_back(value); }
void List::AppendInteger(int value) { list_storage().emplace_back(value); }
void List::AppendDouble(double value) { list_storage().emplace_back(value); }
void List::AppendString(StringPiece utf8) { list_storage().emplace_back(utf8); }

// --------------------------------------------------------------------------- makers

std::unique_ptr<Value> MakeBoolValue(bool value) { return std::make_unique<Value>(value); }
std::unique_ptr<Value> MakeIntegerValue(int value) { return std::make_unique<Value>(value); }
std::unique_ptr<Value> MakeStringValue(const std::wstring& wide) {
  return std::make_unique<Value>(wide);
}
std::unique_ptr<Dictionary> MakeDictionaryValue() { return std::make_unique<Dictionary>(); }
std::unique_ptr<List> MakeListValue() { return std::make_unique<List>(); }

}  // namespace base
