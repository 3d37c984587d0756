#include "base/features/list_feature_reader.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/values.h"

namespace base {

namespace {

StringPiece TrimAsciiWhitespace(StringPiece text) {
  const char kWhitespace[] = " \t\n\v\f\r";
  const size_t begin = text.find_first_not_of(kWhitespace);
  if (begin == StringPiece::npos) return StringPiece();
  const size_t end = text.find_last_not_of(kWhitespace);
  return text.substr(begin, end - begin + 1);
}

}  // namespace

ListFeatureReader::ListFeatureReader(const List& list) : list_(list) {}

ListFeatureReader::~ListFeatureReader() {}

void ListFeatureReader::Read(std::vector<FeatureState>* results) {
  for (size_t i = 0; i < list_.size(); ++i) {
    const Value* element = nullptr;
    std::string text;
    if (!list_.Get(i, &element) || !element->GetAsString(&text)) continue;
    FeatureState state;
    if (ParseFeatureListEntry(text, &state)) results->push_back(state);
  }
}

bool ParseFeatureListEntry(StringPiece text, FeatureState* state) {
  const size_t separator = text.find('@');
  // Exactly two parts: one '@' and no second one.
  if (separator == StringPiece::npos ||
      text.find('@', separator + 1) != StringPiece::npos) {
    return false;
  }
  const StringPiece name = TrimAsciiWhitespace(text.substr(0, separator));
  const StringPiece number = TrimAsciiWhitespace(text.substr(separator + 1));
  int32_t value = 0;
  if (!StringToInt(number, &value)) return false;
  if (value != 1 && value != 2) return false;
  state->name = name.as_string();
  state->enabled = value == 1;
  return true;
}

}  // namespace base
