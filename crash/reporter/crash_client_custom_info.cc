#include "crash/reporter/crash_client_custom_info.h"

#include <windows.h>
#include <string.h>

#include <algorithm>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "crash/reporter/crash_client_config.h"
#include "desktop/common/names/switches.h"

namespace crash_reporter {

namespace {

constexpr size_t kMaxPluginPathLength = 256;
constexpr size_t kCustomInfoValueMax = kCustomInfoTextLength - 1;

// The holder SetCrashKeyValue writes into: the last one filled.
CrashClientCustomInfo* g_custom_info = nullptr;
base::Lock g_custom_info_pointer_lock;

CustomInfoEntry MakeEntry(base::StringPiece16 name, base::StringPiece16 value) {
  CustomInfoEntry entry;
  CopyCustomInfoText(entry.name, name);
  CopyCustomInfoText(entry.value, value);
  return entry;
}

}  // namespace

void CopyCustomInfoText(wchar_t (&destination)[kCustomInfoTextLength],
                        base::StringPiece16 text) {
  memset(destination, 0, sizeof(destination));
  const size_t length = std::min(text.size(), kCustomInfoValueMax);
  if (length) memcpy(destination, text.data(), length * sizeof(wchar_t));
}

CrashClientCustomInfo::CrashClientCustomInfo() = default;

CrashClientCustomInfo::~CrashClientCustomInfo() {
  base::AutoLock lock(g_custom_info_pointer_lock);
  if (g_custom_info == this) g_custom_info = nullptr;
}

std::vector<std::wstring> GetPluginPathChunks(base::StringPiece16 path) {
  if (path.size() > kMaxPluginPathLength) path = path.substr(path.size() - kMaxPluginPathLength);
  std::vector<std::wstring> chunks;
  for (size_t offset = 0; offset < path.size(); offset += kCustomInfoValueMax)
    chunks.push_back(path.substr(offset, kCustomInfoValueMax).as_string());
  return chunks;
}

CustomClientInfo FillCrashClientCustomInfo(CrashClientCustomInfo* info,
                                           const base::FilePath& exe_path,
                                           const std::wstring& process_type,
                                           const std::wstring& profile_type,
                                           const base::CommandLine& command_line,
                                           CrashClientConfig* config) {
  std::wstring product, version, special, channel;
  config->GetProductNameAndVersion(exe_path, &product, &version, &special, &channel);

  std::vector<CustomInfoEntry>& entries = info->entries_;
  entries.clear();
  entries.push_back(MakeEntry(L"ver", version));
  entries.push_back(MakeEntry(L"prod", product));
  entries.push_back(MakeEntry(L"plat", L"Win32"));
  entries.push_back(MakeEntry(L"ptype", process_type));
  entries.push_back(MakeEntry(L"pid", base::UintToString16(GetCurrentProcessId())));
  entries.push_back(MakeEntry(L"channel", channel));
  entries.push_back(MakeEntry(L"profile-type", profile_type));
  if (!special.empty()) entries.push_back(MakeEntry(L"special", special));
  if (process_type == L"plugin" || process_type == L"pluginapi") {
    const std::vector<std::wstring> chunks =
        GetPluginPathChunks(command_line.GetSwitchValueNative(switches::kPluginPath));
    for (size_t i = 0; i < chunks.size(); ++i) {
      entries.push_back(MakeEntry(
          L"plugin-path-chunk-" + base::Int64ToString16(static_cast<int64_t>(i + 1)),
          chunks[i]));
    }
  }
  base::FilePath dump_location;
  if (!config->IsDumpLocationPrivate() &&
      (command_line.HasSwitch(switches::kNoErrDialogs) || config->IsRunningUnattended()) &&
      config->GetAlternativeCrashDumpLocation(&dump_location)) {
    entries.push_back(MakeEntry(L"crash-dump-location", dump_location.value()));
  }
  info->first_key_slot_ = entries.size();
  info->key_slots_.clear();
  // Reserved up front: the entries must never move once the reporter knows them.
  entries.reserve(entries.size() + kMaxCrashKeySlots);
  for (size_t i = 0; i < kMaxCrashKeySlots; ++i)
    entries.push_back(MakeEntry(kUnspecifiedCrashKeyName, L""));

  base::AutoLock lock(g_custom_info_pointer_lock);
  g_custom_info = info;
  return info->custom_info();
}

void SetCrashKeyValue(base::StringPiece16 key, base::StringPiece16 value) {
  base::AutoLock pointer_lock(g_custom_info_pointer_lock);
  CrashClientCustomInfo* info = g_custom_info;
  if (!info) return;
  base::AutoLock lock(info->lock_);
  const std::wstring name = key.substr(0, kCustomInfoValueMax).as_string();
  auto it = info->key_slots_.find(name);
  size_t slot;
  if (it != info->key_slots_.end()) {
    slot = it->second;
  } else {
    if (info->key_slots_.size() >= kMaxCrashKeySlots) return;
    slot = info->first_key_slot_ + info->key_slots_.size();
    info->key_slots_[name] = slot;
  }
  CopyCustomInfoText(info->entries_[slot].name, name);
  CopyCustomInfoText(info->entries_[slot].value, value);
}

void ClearCrashKeyValue(base::StringPiece16 key) {
  base::AutoLock pointer_lock(g_custom_info_pointer_lock);
  CrashClientCustomInfo* info = g_custom_info;
  if (!info) return;
  base::AutoLock lock(info->lock_);
  auto it = info->key_slots_.find(key.substr(0, kCustomInfoValueMax).as_string());
  if (it == info->key_slots_.end()) return;
  memset(info->entries_[it->second].value, 0, sizeof(info->entries_[it->second].value));
}

}  // namespace crash_reporter
