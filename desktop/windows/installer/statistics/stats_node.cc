#include "desktop/windows/installer/statistics/stats_node.h"

#include <algorithm>
#include <utility>

#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace installer {

std::string FormatStatsTime(base::Time time) {
  base::Time::Exploded exploded;
  time.UTCExplode(&exploded);
  return base::StringPrintf("%02d-%02d-%02d %02d:%02d:%02d.%03d", exploded.year,
                            exploded.month, exploded.day_of_month, exploded.hour,
                            exploded.minute, exploded.second, exploded.millisecond);
}

const char kServerTextCutMark[] = "...[cut]";

int32_t SaturatedByteCount(uint64_t bytes) {
  return static_cast<int32_t>(std::min<uint64_t>(bytes, INT32_MAX));
}

std::string BoundServerText(const std::string& text) {
  // Each ill-formed sequence becomes one U+FFFD, as the JSON writer would write it.
  std::string valid;
  valid.reserve(std::min(text.size(), kMaxServerTextLength + 4));
  for (size_t index = 0; index < text.size() && valid.size() <= kMaxServerTextLength;) {
    const int32_t code_point = base::Utf8NextChar(text.data(), text.size(), &index);
    base::WriteUnicodeCharacter(code_point < 0 ? 0xFFFDu : static_cast<uint32_t>(code_point),
                                &valid);
  }
  if (valid.size() <= kMaxServerTextLength) return valid;
  // The mark counts in the bound; the cut goes back to the start of the sequence it splits.
  size_t end = kMaxServerTextLength - (sizeof(kServerTextCutMark) - 1);
  while (end > 0 && (static_cast<unsigned char>(valid[end]) & 0xC0) == 0x80) --end;
  valid.resize(end);
  return valid + kServerTextCutMark;
}

template <typename String>
String UrlWithoutUserinfoAndFragment(const String& url) {
  using Char = typename String::value_type;
  String result = url.substr(0, url.find(static_cast<Char>('#')));
  // An authority follows "scheme://" only where nothing before it ends a scheme.
  const size_t scheme_end = result.find(static_cast<Char>(':'));
  if (scheme_end == String::npos || scheme_end + 3 > result.size() ||
      result[scheme_end + 1] != '/' || result[scheme_end + 2] != '/') {
    return result;
  }
  for (size_t i = 0; i < scheme_end; ++i) {
    if (result[i] == '/' || result[i] == '?' || result[i] == '\\') return result;
  }
  // A "\" does not end it: WinINet reads one as part of the authority for most spellings
  // of the scheme, and what it then takes as userinfo must not be kept either.
  const size_t start = scheme_end + 3;
  size_t end = start;
  while (end < result.size() && result[end] != '/' && result[end] != '?') ++end;
  const size_t at = result.rfind(static_cast<Char>('@'), end == start ? start : end - 1);
  if (at != String::npos && at >= start) result.erase(start, at + 1 - start);
  return result;
}

template std::string UrlWithoutUserinfoAndFragment(const std::string& url);
template std::wstring UrlWithoutUserinfoAndFragment(const std::wstring& url);

StatsNode::StatsNode(base::Dictionary* root, base::Lock* lock, base::TimeTicks start_ticks)
    : root_(root), lock_(lock), start_ticks_(start_ticks) {}

StatsNode::StatsNode(const std::vector<Step>& path, base::Dictionary* root, base::Lock* lock,
                     base::TimeTicks start_ticks)
    : path_(path), root_(root), lock_(lock), start_ticks_(start_ticks) {}

base::Dictionary* StatsNode::GetDictionary() const {
  base::Dictionary* dictionary = root_;
  for (const Step& step : path_) {
    base::List* list = nullptr;
    if (!dictionary->GetList(step.list_key, &list) ||
        !list->GetDictionary(static_cast<size_t>(step.index), &dictionary)) {
      return nullptr;
    }
  }
  return dictionary;
}

std::unique_ptr<StatsNode> StatsNode::AppendDictionaryToList(const std::string& key) {
  std::vector<Step> path = path_;
  {
    base::AutoLock hold(*lock_);
    base::Dictionary* dictionary = GetDictionary();
    base::List* list = nullptr;
    if (dictionary && !dictionary->GetList(key, &list)) {
      dictionary->Set(key, base::MakeListValue());
      (void)dictionary->GetList(key, &list);  // set just above
    }
    if (list) {
      path.push_back({key, static_cast<int32_t>(list->size())});
      list->Append(base::MakeDictionaryValue());
    } else {
      // This node's place is gone: hand out a node that resolves nowhere either.
      path.push_back({key, -1});
    }
  }
  return std::unique_ptr<StatsNode>(new StatsNode(path, root_, lock_, start_ticks_));
}

std::unique_ptr<StatsNode> StatsNode::Clone() const {
  return std::unique_ptr<StatsNode>(new StatsNode(path_, root_, lock_, start_ticks_));
}

void StatsNode::SetString(const std::string& key, const std::string& value) {
  base::AutoLock hold(*lock_);
  if (base::Dictionary* dictionary = GetDictionary()) dictionary->SetString(key, value);
}

void StatsNode::SetServerText(const std::string& key, const std::string& value) {
  SetString(key, BoundServerText(value));
}

void StatsNode::SetServerUrl(const std::string& key, const std::string& url) {
  SetServerText(key, UrlWithoutUserinfoAndFragment(url));
}

void StatsNode::SetInteger(const std::string& key, int32_t value) {
  base::AutoLock hold(*lock_);
  if (base::Dictionary* dictionary = GetDictionary()) dictionary->SetInteger(key, value);
}

void StatsNode::SetValue(const std::string& key, std::unique_ptr<base::Value> value) {
  base::AutoLock hold(*lock_);
  if (base::Dictionary* dictionary = GetDictionary()) dictionary->Set(key, std::move(value));
}

void StatsNode::Increment(const std::string& key) {
  base::AutoLock hold(*lock_);
  base::Dictionary* dictionary = GetDictionary();
  if (!dictionary) return;
  int value = 0;
  if (!dictionary->GetInteger(key, &value)) value = 0;
  dictionary->SetInteger(key, value + 1);
}

void StatsNode::Remove(const std::string& key) {
  base::AutoLock hold(*lock_);
  // A missing key is removed already.
  if (base::Dictionary* dictionary = GetDictionary()) (void)dictionary->Remove(key, nullptr);
}

void StatsNode::SetTimeAndElapsed(const std::string& key) {
  SetCurrentTime(key + ".time");
  const int64_t elapsed = (base::TimeTicks::Now() - start_ticks_).InMilliseconds();
  SetInteger(key + ".elapsed", static_cast<int32_t>(elapsed));
}

void StatsNode::SetCurrentTime(const std::string& key) {
  SetString(key, FormatStatsTime(base::Time::Now()));
}

}  // namespace installer
