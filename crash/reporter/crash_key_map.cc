#include "crash/reporter/crash_key_map.h"

#include <stdint.h>

#include <utility>

#include "base/strings/string_number_conversions.h"
#include "crash/reporter/crash_client_custom_info.h"

namespace crash_reporter {

namespace {

constexpr size_t kMaxNameLength = kCustomInfoTextLength - 1;

// The length of |text| when a NUL ends it within the array, else -1.
int TerminatedLength(const wchar_t (&text)[kCustomInfoTextLength]) {
  for (size_t i = 0; i < kCustomInfoTextLength; ++i) {
    if (text[i] == L'\0') return static_cast<int>(i);
  }
  return -1;
}

bool IsNameCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'.' || c == L'-' || c == L'_';
}

bool IsValidName(const std::wstring& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (wchar_t c : name) {
    if (!IsNameCharacter(c)) return false;
  }
  return name != kUnspecifiedCrashKeyName;
}

// Splits "<base>-<digits>" into its base (not empty) and index.
[[nodiscard]] bool ParseChunkName(const std::wstring& name, std::wstring* base, uint32_t* index) {
  const size_t dash = name.rfind(L'-');
  if (dash == std::wstring::npos || dash == 0 || dash + 1 == name.size()) return false;
  for (size_t i = dash + 1; i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
  }
  if (!base::StringToUint(base::StringPiece16(name).substr(dash + 1), index)) return false;
  *base = name.substr(0, dash);
  return true;
}

}  // namespace

CrashKeyMap::CrashKeyMap() = default;
CrashKeyMap::CrashKeyMap(Map values) : values_(std::move(values)) {}
CrashKeyMap::CrashKeyMap(CrashKeyMap&& other) = default;
CrashKeyMap& CrashKeyMap::operator=(CrashKeyMap&& other) = default;
CrashKeyMap::~CrashKeyMap() = default;

std::wstring CrashKeyMap::Get(const std::wstring& key) const {
  auto it = values_.find(key);
  return it == values_.end() ? std::wstring() : it->second;
}

CrashKeyMap BuildCrashKeyMap(const CustomInfoEntry* entries, size_t count) {
  CrashKeyMap::Map plain;
  std::map<std::wstring, std::map<uint32_t, std::wstring>> chunks;
  for (size_t i = 0; i < count; ++i) {
    const int name_length = TerminatedLength(entries[i].name);
    const int value_length = TerminatedLength(entries[i].value);
    if (name_length < 0 || value_length < 0) continue;
    const std::wstring name(entries[i].name, static_cast<size_t>(name_length));
    if (!IsValidName(name)) continue;
    const std::wstring value(entries[i].value, static_cast<size_t>(value_length));

    std::wstring base_name;
    uint32_t index = 0;
    if (ParseChunkName(name, &base_name, &index)) {
      if (plain.count(base_name)) continue;
      chunks[base_name].insert(std::make_pair(index, value));
      continue;
    }
    if (!plain.count(name) && !chunks.count(name)) plain[name] = value;
  }
  for (const auto& chunked : chunks) {
    std::wstring joined;
    for (const auto& piece : chunked.second) joined += piece.second;
    plain[chunked.first] = joined;
  }
  return CrashKeyMap(std::move(plain));
}

}  // namespace crash_reporter
