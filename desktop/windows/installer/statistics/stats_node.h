// StatsNode: a handle on one dictionary inside the installer statistics record, through
// which the fetcher, the download observers, the settings and the controllers write their
// keys. Keys are "."-separated paths inside the node's dictionary. Every access takes the
// record's lock, so nodes of one record may be used from several threads at once; one
// node object is used by one thread (hand others a Clone()).
//
//   std::unique_ptr<StatsNode> fetch = stats.root()->AppendDictionaryToList("fetches");
//   fetch->SetInteger("try_number", 1);
//   fetch->SetTimeAndElapsed("start_time");   // "start_time.time", "start_time.elapsed"
#ifndef DESKTOP_WINDOWS_INSTALLER_STATISTICS_STATS_NODE_H_
#define DESKTOP_WINDOWS_INSTALLER_STATISTICS_STATS_NODE_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "base/values.h"

namespace installer {

// The record's time stamp of |time|: "YYYY-MM-DD hh:mm:ss.mmm" in UTC.
std::string FormatStatsTime(base::Time time);

// Text a server chose (addresses, headers, answers, errors quoting them) may be of any
// length, and the record is sent on every run: one value holds at most this many bytes.
constexpr size_t kMaxServerTextLength = 2048;
// |text| as valid UTF-8 (each ill-formed sequence one U+FFFD) when that fits; otherwise
// its first whole sequences followed by kServerTextCutMark, the mark included in the bound.
std::string BoundServerText(const std::string& text);
extern const char kServerTextCutMark[];

// A byte count as the record's 32-bit values hold it: saturated at their maximum, never
// wrapped round to a negative number.
int32_t SaturatedByteCount(uint64_t bytes);

// |url| without the "user:password@" of its authority and without its "#fragment": the
// form in which a URL is requested and recorded, so that no credential a server or a
// redirect wrote into an address reaches the wire as a path or the statistics.
template <typename String>
String UrlWithoutUserinfoAndFragment(const String& url);
extern template std::string UrlWithoutUserinfoAndFragment(const std::string& url);
extern template std::wstring UrlWithoutUserinfoAndFragment(const std::wstring& url);

class StatsNode {
 public:
  // The root node of a record: |root| and |lock| outlive every node made from it.
  StatsNode(base::Dictionary* root, base::Lock* lock, base::TimeTicks start_ticks);
  StatsNode(const StatsNode&) = delete;
  StatsNode& operator=(const StatsNode&) = delete;

  // Appends an empty dictionary to the list under |key| (made when absent) and returns
  // a node on it.
  std::unique_ptr<StatsNode> AppendDictionaryToList(const std::string& key);
  std::unique_ptr<StatsNode> Clone() const;

  void SetString(const std::string& key, const std::string& value);
  // SetString of BoundServerText(value): for text that a server chose.
  void SetServerText(const std::string& key, const std::string& value);
  // SetServerText of the URL without userinfo and fragment.
  void SetServerUrl(const std::string& key, const std::string& url);
  void SetInteger(const std::string& key, int32_t value);
  void SetValue(const std::string& key, std::unique_ptr<base::Value> value);
  // Adds 1 to the integer under |key|; an absent or non-integer entry counts as 0.
  void Increment(const std::string& key);
  void Remove(const std::string& key);
  // key + ".time" = now, key + ".elapsed" = milliseconds since the record was made.
  void SetTimeAndElapsed(const std::string& key);
  // key = now.
  void SetCurrentTime(const std::string& key);

 private:
  struct Step {
    std::string list_key;
    int32_t index;
  };

  StatsNode(const std::vector<Step>& path, base::Dictionary* root, base::Lock* lock,
            base::TimeTicks start_ticks);

  // The dictionary the path names; call with the lock held. Null only when someone
  // replaced a list on the path by another value.
  base::Dictionary* GetDictionary() const;

  const std::vector<Step> path_;
  base::Dictionary* const root_;
  base::Lock* const lock_;
  const base::TimeTicks start_ticks_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATISTICS_STATS_NODE_H_
