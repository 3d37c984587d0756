#include "crash/util/crash_keys.h"

#include <memory>
#include <unordered_map>

#include "base/strings/string_number_conversions.h"

namespace crash_reporter {

namespace {

struct CrashKeyRegistry {
  std::unordered_map<std::string, CrashKey> keys;
  size_t chunk_max_length = 0;
};

// Built once at start-up before other threads set keys; setting keys only reads it.
CrashKeyRegistry* g_registry = nullptr;
SetCrashKeyValueCallback g_set_callback = nullptr;
ClearCrashKeyValueCallback g_clear_callback = nullptr;

}  // namespace

size_t GetCrashKeyChunkCount(size_t max_length, size_t chunk_max_length) {
  if (chunk_max_length == 0) return 0;
  return (max_length + chunk_max_length - 1) / chunk_max_length;
}

std::string GetCrashKeyChunkName(base::StringPiece name, size_t index) {
  return name.as_string() + "-" + base::Int64ToString(static_cast<int64_t>(index));
}

size_t InitCrashKeys(const CrashKey* keys, size_t count, size_t chunk_max_length) {
  delete g_registry;
  g_registry = nullptr;
  if (!keys) return 0;
  std::unique_ptr<CrashKeyRegistry> registry(new CrashKeyRegistry);
  registry->chunk_max_length = chunk_max_length;
  size_t slots = 0;
  for (size_t i = 0; i < count; ++i) {
    registry->keys[keys[i].name] = keys[i];
    slots += GetCrashKeyChunkCount(keys[i].max_length, chunk_max_length);
  }
  g_registry = registry.release();
  return slots;
}

void SetCrashKeyCallbacks(SetCrashKeyValueCallback set, ClearCrashKeyValueCallback clear) {
  g_set_callback = set;
  g_clear_callback = clear;
}

const CrashKey* LookupCrashKey(base::StringPiece name) {
  if (!g_registry) return nullptr;
  auto it = g_registry->keys.find(name.as_string());
  return it == g_registry->keys.end() ? nullptr : &it->second;
}

std::vector<std::string> ChunkCrashKeyValue(const CrashKey& key, base::StringPiece value,
                                            size_t chunk_max_length) {
  std::vector<std::string> chunks;
  if (chunk_max_length == 0) return chunks;
  const std::string kept = value.substr(0, key.max_length).as_string();
  for (size_t offset = 0; offset < kept.size(); offset += chunk_max_length)
    chunks.push_back(kept.substr(offset, chunk_max_length));
  return chunks;
}

void SetCrashKey(base::StringPiece key, base::StringPiece value) {
  if (!g_set_callback || !g_registry) return;
  const CrashKey* declared = LookupCrashKey(key);
  const size_t chunk_max_length = g_registry->chunk_max_length;
  if (!declared || declared->max_length <= chunk_max_length) {
    g_set_callback(key, value);
    return;
  }
  const std::vector<std::string> chunks =
      ChunkCrashKeyValue(*declared, value, chunk_max_length);
  const size_t slots = GetCrashKeyChunkCount(declared->max_length, chunk_max_length);
  if (g_clear_callback) {
    for (size_t i = chunks.size() + 1; i <= slots; ++i)
      g_clear_callback(GetCrashKeyChunkName(key, i));
  }
  for (size_t i = 0; i < chunks.size(); ++i)
    g_set_callback(GetCrashKeyChunkName(key, i + 1), chunks[i]);
}

}  // namespace crash_reporter
