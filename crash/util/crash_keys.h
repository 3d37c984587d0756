// The process-wide registry of crash keys: named text values that travel with a crash
// report. A value longer than one storage slot holds is split into numbered chunk keys
// ("URL-1", "URL-2", ...); where values are stored is up to the two callbacks the crash
// client installs.
//
//   static const CrashKey kKeys[] = {{"URL", 1008}, {"ptype", 63}};
//   size_t slots = InitCrashKeys(kKeys, 2, 63);   // 16 + 1
//   SetCrashKeyCallbacks(&StoreKey, &ClearKey);
//   SetCrashKey("URL", url);
#ifndef CRASH_UTIL_CRASH_KEYS_H_
#define CRASH_UTIL_CRASH_KEYS_H_

#include <stddef.h>

#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace crash_reporter {

struct CrashKey {
  const char* name;
  // The longest value kept, in characters.
  size_t max_length;
};

typedef void (*SetCrashKeyValueCallback)(base::StringPiece key, base::StringPiece value);
typedef void (*ClearCrashKeyValueCallback)(base::StringPiece key);

// Builds the registry from |keys| (a later call replaces it) and returns the number of
// storage slots the keys need: the sum of ceil(max_length / chunk_max_length). A null
// array destroys the registry and returns 0.
size_t InitCrashKeys(const CrashKey* keys, size_t count, size_t chunk_max_length);

// Stores the callbacks through which SetCrashKey stores and clears values.
void SetCrashKeyCallbacks(SetCrashKeyValueCallback set, ClearCrashKeyValueCallback clear);

// Sets |key|, chunked when its declaration allows more than one slot; stale chunks of an
// earlier, longer value are cleared first. Does nothing before both the set callback and
// the registry exist.
void SetCrashKey(base::StringPiece key, base::StringPiece value);

// The declaration of |name|, or null.
const CrashKey* LookupCrashKey(base::StringPiece name);

// |value| cut to key.max_length, then split into pieces of chunk_max_length characters.
std::vector<std::string> ChunkCrashKeyValue(const CrashKey& key, base::StringPiece value,
                                            size_t chunk_max_length);

// The name of chunk |index| (from 1) of |name|: "URL-3".
std::string GetCrashKeyChunkName(base::StringPiece name, size_t index);

// ceil(max_length / chunk_max_length): the slots a key of |max_length| needs.
size_t GetCrashKeyChunkCount(size_t max_length, size_t chunk_max_length);

}  // namespace crash_reporter

#endif  // CRASH_UTIL_CRASH_KEYS_H_
