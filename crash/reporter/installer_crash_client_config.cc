#include "crash/reporter/installer_crash_client_config.h"

#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "crash/reporter/crash_client_values.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {

namespace {

constexpr size_t kSmall = 63;
constexpr size_t kMedium = 252;
constexpr size_t kLarge = 1008;

// The keys of the installer and the browser crash reports it shares a collector with.
// The first kAllowedCrashKeyCount may be set by an installer process.
const CrashKey kInstallerCrashKeys[] = {
    // Browser state.
    {"URL", kLarge},
    {"ab_tests", kMedium},
    {"aux_system_string", kSmall},
    {"crash_guid", kSmall},
    {"gpu_vendor_id", kSmall},
    {"gpu_device_id", kSmall},
    {"gpu_driver_version", kSmall},
    {"gpu_pixel_shader_version", kSmall},
    {"gpu_vertex_shader_version", kSmall},
    {"enabled_extensions", kLarge},
    {"disabled_extensions", kLarge},
    {"blacklisted_extensions", kLarge},
    {"terminated_extensions", kLarge},
    {"third_party_installs", kLarge},
    // Build, process and system.
    {"BuildID", kSmall},
    {"ReleaseChannel", kSmall},
    {"prod", kSmall},
    {"symbols-package", kSmall},
    {"UBN", kSmall},
    {"ver", kSmall},
    {"Email", kSmall},
    {"exception_policy", kSmall},
    {"is_wow64", kSmall},
    {"ptype", kSmall},
    {"CrashTime", kSmall},
    {"InstallTime", kSmall},
    {"StartupTime", kSmall},
    {"harbor_test", kLarge},
    {"Origin", kSmall},
    {"os_build_number", kSmall},
    {"os_service_pack_version", kSmall},
    {"os_version", kSmall},
    // Shared with the browser.
    {"channel", kSmall},
    {"plat", kSmall},
    {"ptime", kSmall},
    {"discardable-memory-allocated", kSmall},
    {"discardable-memory-free", kSmall},
    {"total-discardable-memory-allocated", kSmall},
    {"bad_message_reason", kSmall},
    {"is-enterprise-managed", kSmall},
    {"font_key_name", kSmall},
    {"input-event-filter-send-failure", kSmall},
    {"plugin_api_path", kMedium},
    {"subresource_url", kLarge},
    // The browser's renderer and navigation diagnostics.
    {"num-experiments", kSmall},
    {"variations", kLarge},
    {"script-engine-tier", kSmall},
    {"url-chunk", kLarge},
    {"zero-encode-details", kSmall},
    {"commit_frame_id", kSmall},
    {"commit_proxy_id", kSmall},
    {"commit_view_id", kSmall},
    {"commit_main_render_frame_id", kSmall},
    {"initrf_frame_id", kSmall},
    {"initrf_proxy_id", kSmall},
    {"initrf_view_id", kSmall},
    {"initrf_main_frame_id", kSmall},
    {"initrf_view_is_live", kSmall},
    {"newproxy_proxy_id", kSmall},
    {"newproxy_view_id", kSmall},
    {"newproxy_opener_id", kSmall},
    {"newproxy_parent_id", kSmall},
    {"rvinit_view_id", kSmall},
    {"rvinit_proxy_id", kSmall},
    {"rvinit_main_frame_id", kSmall},
    {"swapout_frame_id", kSmall},
    {"swapout_proxy_id", kSmall},
    {"swapout_view_id", kSmall},
    {"initrf_parent_proxy_exists", kSmall},
    {"initrf_render_view_is_live", kSmall},
    {"initrf_parent_is_in_same_site_instance", kSmall},
    {"initrf_parent_process_is_live", kSmall},
    {"initrf_root_is_in_same_site_instance", kSmall},
    {"initrf_root_is_in_same_site_instance_as_parent", kSmall},
    {"initrf_root_process_is_live", kSmall},
    {"initrf_root_proxy_is_live", kSmall},
    {"newframe_routing_id", kSmall},
    {"newframe_proxy_id", kSmall},
    {"newframe_opener_id", kSmall},
    {"newframe_parent_id", kSmall},
    {"newframe_widget_id", kSmall},
    {"newframe_widget_hidden", kSmall},
    {"newframe_replicated_origin", kSmall},
    {"newframe_oopifs_possible", kSmall},
    {"origin_mismatch_url", kLarge},
    {"origin_mismatch_origin", kMedium},
    {"origin_mismatch_transition", kSmall},
    {"origin_mismatch_redirects", kSmall},
    {"origin_mismatch_same_page", kSmall},
    {"aci_wrong_sp_extension_id", kSmall},
    {"existing_extension_pref_value_type", kSmall},
    {"swdh_register_cannot_host_url", kLarge},
    {"swdh_register_cannot_scope_url", kLarge},
    {"swdh_register_cannot_script_url", kLarge},
    {"swdh_unregister_cannot_host_url", kLarge},
    {"swdh_unregister_cannot_scope_url", kLarge},
    {"swdh_get_registration_cannot_host_url", kLarge},
    {"swdh_get_registration_cannot_document_url", kLarge},
};

constexpr size_t kAllowedCrashKeyCount = 44;

static_assert(sizeof(kInstallerCrashKeys) / sizeof(kInstallerCrashKeys[0]) == 98,
              "98 declared crash keys");

}  // namespace

InstallerCrashClientConfig::~InstallerCrashClientConfig() = default;

void InstallerCrashClientConfig::GetProductNameAndVersion(const base::FilePath&,
                                                          std::wstring* product,
                                                          std::wstring* version,
                                                          std::wstring* special,
                                                          std::wstring* channel) {
  *product = base::UTF8ToWide(installer::GetCrashUploadServerProductName());
  *version = base::UTF8ToWide(installer::GetProductVersion());
  special->clear();
  *channel = base::UTF8ToWide(installer::GetChannelName());
}

bool InstallerCrashClientConfig::GetCrashDumpLocation(base::FilePath* path) {
  const std::string override_dir = GetCrashLogDirOverride();
  if (!override_dir.empty()) {
    *path = base::FilePath::FromUTF8(override_dir);
    return true;
  }
  return base::PathRegistry::Get(kCrashDumpsPathKey, path);
}

bool InstallerCrashClientConfig::GetCrashMetricsLocation(base::FilePath* path) {
  return base::PathRegistry::Get(kCrashMetricsPathKey, path);
}

size_t InstallerCrashClientConfig::RegisterCrashKeys() {
  size_t count = 0;
  const CrashKey* keys = GetInstallerCrashKeys(&count);
  return InitCrashKeys(keys, count, kCrashKeyChunkMaxLength);
}

bool InstallerCrashClientConfig::IsRunningUnattended() { return false; }

CrashClientConfig* GetCrashClientConfig() {
  // Thread-safe static initialisation: a racing thread waits until it is published.
  static InstallerCrashClientConfig* const config = new InstallerCrashClientConfig;
  return config;
}

const CrashKey* GetInstallerCrashKeys(size_t* count) {
  *count = sizeof(kInstallerCrashKeys) / sizeof(kInstallerCrashKeys[0]);
  return kInstallerCrashKeys;
}

std::set<std::string> GetAllowedCrashKeyNames() {
  std::set<std::string> names;
  for (size_t i = 0; i < kAllowedCrashKeyCount; ++i) {
    const CrashKey& key = kInstallerCrashKeys[i];
    if (key.max_length <= kCrashKeyChunkMaxLength) {
      names.insert(key.name);
      continue;
    }
    const size_t chunks = GetCrashKeyChunkCount(key.max_length, kCrashKeyChunkMaxLength);
    for (size_t chunk = 1; chunk <= chunks; ++chunk)
      names.insert(GetCrashKeyChunkName(key.name, chunk));
  }
  return names;
}

}  // namespace crash_reporter
