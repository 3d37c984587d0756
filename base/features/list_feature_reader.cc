#include "base/features/list_feature_reader.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/values.h"

namespace base {

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
  const std::vector<StringPiece> parts =
      SplitStringPiece(text, '@', TRIM_WHITESPACE, SPLIT_WANT_ALL);
  if (parts.size() != 2) return false;
  int32_t value = 0;
  if (!StringToInt(parts[1], &value)) return false;
  if (value != 1 && value != 2) return false;
  state->name = parts[0].as_string();
  state->enabled = value == 1;
  return true;
}

}  // namespace base
