#include "desktop/common/autoupdate/updatechecker/product_config.h"

#include <windows.h>

#include <memory>

#include "base/channel_info.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"

// The build's constants come from the build system (CMakeLists.txt).
#if !defined(VELUM_BUILD_MAJOR) || !defined(VELUM_BUILD_NUMBER) || \
    !defined(VELUM_BUILD_PATCH) || !defined(VELUM_ENGINE_VERSION) ||  \
    !defined(VELUM_BUILD_TIMESTAMP) || !defined(VELUM_BUILD_UBN) ||    \
    !defined(VELUM_BUILD_ID_NUMBER)
#error "the build constants are defined by CMakeLists.txt"
#endif

namespace installer {

namespace {

const wchar_t kResourceType[] = L"TXT";
const int kProductConfigResourceId = 133;
// Carries the configuration when the installer runs inside another host.
const wchar_t kFallbackModuleName[] = L"_harborlib.pyd";

[[nodiscard]] bool ReadResourceText(HMODULE module, std::string* text) {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kProductConfigResourceId),
                                 kResourceType);
  if (!resource) return false;
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return false;
  text->assign(static_cast<const char*>(bytes), size);
  return true;
}

std::unique_ptr<base::Dictionary> LoadProductConfig() {
  std::string text;
  if (!ReadResourceText(GetModuleHandleW(nullptr), &text)) {
    // The module stays loaded: nothing else would keep it.
    HMODULE fallback = LoadLibraryW(kFallbackModuleName);
    if (!fallback || !ReadResourceText(fallback, &text)) {
      LOG(ERROR) << "No product configuration resource found";
      return std::make_unique<base::Dictionary>();
    }
  }
  int error_code = 0;
  std::string error_message;
  std::unique_ptr<base::Dictionary> config = base::Dictionary::From(
      base::JsonReader::ReadAndReturnError(text, 0, &error_code, &error_message));
  if (!config) {
    LOG(ERROR) << "The product configuration is not a JSON object: " << error_message;
    return std::make_unique<base::Dictionary>();
  }
  return config;
}

std::string GetConfigString(base::StringPiece path) {
  std::string value;
  if (!GetProductConfig().GetString(path, &value)) value.clear();
  return value;
}

int GetConfigInteger(const base::Dictionary& config, base::StringPiece path) {
  int value = 0;
  return config.GetInteger(path, &value) ? value : 0;
}

bool GetConfigBoolean(const base::Dictionary& config, base::StringPiece path) {
  bool value = false;
  return config.GetBoolean(path, &value) && value;
}

}  // namespace

const base::Dictionary& GetProductConfig() {
  // Leaked on purpose: getters may run from exit callbacks and late threads.
  static const base::Dictionary* const config = LoadProductConfig().release();
  return *config;
}

std::string GetCompanyName() { return GetConfigString("company_name"); }
std::string GetCrashUploadServerProductName() {
  return GetConfigString("crash_upload_server_product_name");
}
std::string GetDefaultProfilePathTemplate() {
  return GetConfigString("default_profile_path_template");
}
std::string GetDomain() { return GetConfigString("domain"); }
std::string GetExpectedSigner() { return GetConfigString("expected_signer"); }
std::string GetFileNameBase() { return GetConfigString("file_name_base"); }
std::string GetProductName() { return GetConfigString("product_name"); }
std::string GetShortcutSuffix() { return GetConfigString("shortcut_suffix"); }
std::string GetUserAgentName() { return GetConfigString("user_agent_name"); }
std::string GetVisibleProductName() { return GetConfigString("visible_product_name"); }

std::string GetProductUrl(base::StringPiece name) {
  return GetConfigString(
      base::StringPrintf("%s.%.*s", "urls", static_cast<int>(name.size()), name.data()));
}

int GetScheduledAutoupdateDelayMin() {
  return GetConfigInteger(GetProductConfig(), "scheduled_autoupdate_delay_min");
}
bool GetScheduleAutoupdateTask() {
  return GetConfigBoolean(GetProductConfig(), "schedule_autoupdate_task");
}
bool IsWhiteLabeled() { return GetConfigBoolean(GetProductConfig(), "white_labeled"); }

std::string GetProductVersionFor(const base::Dictionary& config) {
  const int major = GetConfigInteger(config, "major_delta") + VELUM_BUILD_MAJOR;
  const int minor =
      GetConfigBoolean(config, "use_engine_major_for_minor") ? GetBaseVersion() : 0;
  return base::StringPrintf("%d.%d.%d.%d", major, minor, VELUM_BUILD_NUMBER,
                            VELUM_BUILD_PATCH);
}

std::string GetProductVersion() { return GetProductVersionFor(GetProductConfig()); }

std::string GetBuildAndPatchNumber() {
  return base::StringPrintf("%d.%d", VELUM_BUILD_NUMBER, VELUM_BUILD_PATCH);
}

int GetBaseVersion() {
  const base::StringPiece engine_version(VELUM_ENGINE_VERSION);
  int32_t major = 0;
  if (!base::StringToInt(engine_version.substr(0, engine_version.find('.')), &major)) {
    return -1;
  }
  return major;
}

int32_t GetChannel() { return base::GetChannel(); }
std::string GetChannelName() { return "Stable"; }
std::string GetBuildTimestamp() { return VELUM_BUILD_TIMESTAMP; }
int GetBuildUbn() { return VELUM_BUILD_UBN; }
int GetBuildIdNumber() { return VELUM_BUILD_ID_NUMBER; }

std::string GetBuildProductName() { return GetProductName(); }
std::string GetBuildVersion() { return GetProductVersion(); }

}  // namespace installer
