#include "desktop/windows/installer/settings/feature_flags.h"

#include <string.h>

#include "base/features/feature_states.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace installer {

namespace {

// Bit 1: the first channel of the main product; 2: its first two channels; 4: all its
// channels; 8: the second product.
const ProductVariant kProductVariants[] = {
    {"VLM", 1, 7, 7}, {"VLM", 2, 6, 6}, {"VLM", 3, 4, 4}, {"VLM", 4, 4, 4},
    {"QRN", 1, 8, 8}, {"QRN", 2, 8, 8}, {"QRN", 3, 8, 8}, {"QRN", 4, 8, 8},
};

const FeatureFlag kInstallerFeatureFlags[] = {
    {"installer-experiment-test", 0, 0xFFFF, "", "", FEATURE_PLATFORM_WINDOWS},
    {"installer-hide-from-program-and-features", 8, 0, "", "", FEATURE_PLATFORM_WINDOWS},
    {"installer-pref-default-overrides-support", 7, 0xFFFF, "", "",
     FEATURE_PLATFORM_WINDOWS},
    {"installer-support-x64-download", 7, 0xFFFF, "", "", FEATURE_PLATFORM_WINDOWS},
};

// Masks: 0xFFFF everything, 0xFFF7 everything but the second product. The bit 0x10000
// is reserved and belongs to no product.
const FeatureFlag kBrowserFeatureFlags[] = {
    {"disable-password-manager-by-default", 8, 0, "", "", 7},
    {"search-engines-private-api", 0xFFFF, 7, "", "", 7},
    {"background-tab-throttling-max-delay-30s", 0, 0x10007, "", "", 7},
    {"horizontal-link-selection", 0xFFFF, 7, "", "", 7},
    {"relaunch-elevated-process", 7, 0x10007, "", "", 2},
    {"heap-compaction", 0xFFFF, 7, "", "", 7},
    {"submodule-use-search-api-key", 8, 0, "", "", 7},
    {"submodule-native-theme-alt", 8, 0, "", "", 6},
    {"disable-alt-high-dpi", 8, 0, "", "", 2},
    {"media-router", 0xFFFF, 7, "", "", 7},
    {"more-share-menu-access-points", 1, 7, "", "", 7},
    {"offline-auto-reload", 0xFFFF, 7, "", "", 7},
    {"offline-auto-reload-visible-only", 0xFFFF, 7, "", "", 7},
    {"media-windows-mf-demuxer", 3, 7, "", "", 2},
    {"power-save-mode", 0xFFFF, 7, "", "", 7},
    {"power-save-mode-disables-smooth-scrolling", 0xFFFF, 7, "", "", 7},
    {"power-save-mode-frame-rate-throttling", 0xFFFF, 7, "", "", 7},
    {"power-save-mode-timer-throttling", 0xFFFF, 7, "", "", 7},
    {"power-save-mode-video-codecs", 0xFFFF, 7, "", "", 7},
    {"power-save-mode-webrtc-video-codecs", 1, 7, "", "", 7},
    {"power-save-mode-webrtc-video-pixel-limit", 1, 7, "", "", 7},
    {"adblocker-advanced-selectors", 0xFFFF, 7, "", "", 7},
    {"adblocker-split-rules", 0xFFFF, 7, "", "", 7},
    {"adblocker-selective-mode", 0, 7, "", "", 7},
    {"adblocker-tagname-support", 0xFFFF, 7, "", "", 7},
    {"addons-detailed-errors", 3, 0xFFFF, "", "", 7},
    {"bookmark-deduplication-detection", 7, 0xFFFF, "", "", 7},
    {"bookmark-deduplication-doremove", 1, 0xFFFF, "", "", 7},
    {"bookmarks-export", 0xFFFF, 7, "", "", 7},
    {"copy-browserjs-from-package", 0xFFFF, 0x10000, "", "", 7},
    {"credential-management-api", 0xFFFF, 7, "", "", 7},
    {"dedicated-gpu-option", 7, 7, "", "", 6},
    {"enable-quic", 0, 0x1FFFF, "", "", 7},
    {"extended-feature-stats", 1, 3, "", "", 7},
    {"extension-content-verification", 0xFFFF, 7, "", "", 7},
    {"extension-toolbar-expander", 3, 7, "", "", 7},
    {"external-apps-link-filtering", 0xFFFF, 7, "", "", 7},
    {"extension-printer-provider-api", 0, 7, "", "", 7},
    {"flag-switching-test", 0, 0xFFFF, "", "", 7},
    {"forced-default-browser-prompt", 0, 0xFFFF, "", "", 7},
    {"fraud-protection-protocol-v2", 3, 0xFFFF, "", "", 7},
    {"import-from-velum", 0, 0, "", "", 7},
    {"improved-heart-popup", 7, 7, "", "", 7},
    {"infopage", 0xFFF7, 0x10007, "", "", 7},
    {"lazy-session-loading-default-enabled", 0xFFFF, 7, "", "", 7},
    {"prerender-search-results", 0, 7, "", "", 7},
    {"prerender-url-input", 0, 7, "", "", 7},
    {"prompt-on-risky-download", 0xFFFF, 7, "", "", 7},
    {"push-messages", 0xFFFF, 7, "", "", 7},
    {"rate-velum", 0xFFF7, 0xFFFF, "", "", 7},
    {"quit-when-profile-broken", 0xFFFF, 7, "", "", 7},
    {"search-box-in-address-bar", 0xFFF7, 7, "", "", 7},
    {"search-popup", 0xFFF7, 7, "", "", 7},
    {"search-popup-currency-converter", 7, 7, "", "", 7},
    {"send-stats-on-shutdown", 0xFFFF, 7, "", "", 7},
    {"session-persistent-tab-activation-order", 0xFFFF, 7, "", "", 7},
    {"settings-component", 0xFFF7, 7, "", "", 7},
    {"show-downloads-in-progress-warning", 0xFFFF, 7, "", "", 7},
    {"show-midi-permission-badge", 1, 7, "", "", 7},
    {"show-save-file-dialog-on-risky-download", 0xFFFF, 7, "", "", 7},
    {"show-search-hints", 3, 7, "", "", 7},
    {"simple-first-start", 0, 0xFFFF, "", "", 7},
    {"startup-metrics-stats", 1, 1, "", "", 7},
    {"surveys", 0xFFF7, 0x10007, "", "", 7},
    {"toolkit-navbar", 1, 3, "", "", 7},
    {"touch-bar-ui", 0xFFF7, 0x10007, "", "", 1},
    {"use-engine-autocomplete-controller", 0, 7, "", "", 7},
    {"warn-for-unknown-root", 0xFFFF, 7, "", "", 7},
    {"web-background-sync", 0xFFFF, 7, "", "", 7},
    {"windows-10-skin", 0xFFF7, 3, "", "", 2},
    {"adblocker", 0xFFF7, 0, "", "", 7},
    {"about-flags", 0xFFF7, 0, "", "", 7},
    {"about-thanks-page", 0xFFF7, 0, "", "", 7},
    {"advanced-settings", 0xFFF7, 0, "", "", 7},
    {"basic-settings", 0xFFF7, 0, "", "", 7},
    {"browser-action-toolbar-priority", 0xFFF7, 0, "", "", 7},
    {"browser-vpn", 0xFFF7, 7, "", "", 7},
    {"custom-search-engines", 0xFFF7, 0, "", "", 7},
    {"default-browser-prompt-in-start-page", 0xFFF7, 0, "", "", 7},
    {"default-search-engine-on-speed-dial", 0xFFF7, 0, "", "", 7},
    {"dev-tools", 0xFFF7, 0, "", "", 7},
    {"disable-partner-suggestions", 8, 0, "", "", 7},
    {"discover", 0xFFF7, 0, "", "", 7},
    {"downloadable-bookmark-thumbnails", 0xFFF7, 0, "", "", 7},
    {"enable-autoupdate-notifications", 0xFFF7, 0, "", "", 7},
    {"fraud-protection", 0xFFF7, 0, "", "", 7},
    {"plugin-missing-notification", 0xFFF7, 7, "", "", 7},
    {"kestrel-autoupdate-integration", 8, 0, "", "", 7},
    {"kestrel-legacy-safezone-import", 8, 0, "", "", 7},
    {"kestrel-library", 8, 0, "", "", 7},
    {"kestrel-model-access-api", 8, 0, "", "", 7},
    {"kestrel-ui", 8, 0, "", "", 7},
    {"ignore-velum-environment-variables", 8, 0, "", "", 7},
    {"ignore-signature-check", 0, 0x10000, "", "", 7},
    {"include-version-in-upgrade-page-url", 8, 0, "", "", 7},
    {"keep-custom-partner-content-file-in-profile", 8, 0, "", "", 7},
    {"media-detachable-view", 0xFFF7, 0, "", "", 7},
    {"mouse-gestures", 0xFFF7, 0, "", "", 7},
    {"no-default-browser-check-on-first-run", 0xFFF7, 7, "", "", 7},
    {"personal-news-notifications", 8, 0, "", "", 7},
    {"velum-compact-main-menu", 0, 0xFFFF, "Compact main menu",
     "The main menu in its compact layout", 7},
    {"velum-turbo", 0xFFF7, 0x10007, "Velum Turbo",
     "Compresses pages on the Velum Turbo servers", 7},
    {"velum-redesign", 1, 7, "Redesigned interface", "The redesigned browser interface", 7},
    {"velum-redesign-windows-7-skin", 1, 7, "Redesign on Windows 7",
     "The Windows 7 skin of the redesigned interface", 2},
    {"personal-news-search-box", 8, 0, "", "", 7},
    {"recently-closed-tabs-button", 0xFFF7, 0, "", "", 7},
    {"restore-contenteditables-state", 0xFFF7, 7, "", "", 7},
    {"safe-zone-extensions", 8, 0, "", "", 7},
    {"safe-zone-extension-store", 8, 0, "", "", 7},
    {"safe-zone-regions", 8, 0, "", "", 7},
    {"force-system-location", 8, 0, "", "", 7},
    {"online-private-mode-welcome-page", 8, 0, "", "", 7},
    {"power-user-settings", 0xFFF7, 0, "", "", 7},
    {"private-mode-icon-in-menus", 8, 0, "", "", 7},
    {"shortcuts-settings", 0xFFF7, 0, "", "", 7},
    {"show-start-page-hints", 0xFFF7, 0, "", "", 7},
    {"synch", 0xFFF7, 0, "", "", 7},
    {"tab-menu", 0xFFF7, 0, "", "", 7},
    {"themes", 0xFFF7, 0, "", "", 7},
    {"ua-suffix", 8, 0, "", "", 7},
    {"news-feeds-page-action", 8, 0, "", "", 7},
    {"zoom-popup", 0xFFFF, 7, "", "", 7},
    {"improved-adblocking-popup", 0xFFF7, 7, "", "", 7},
};

bool Equals(base::StringPiece a, const char* b) {
  const size_t length = strlen(b);
  return a.size() == length && (length == 0 || memcmp(a.data(), b, length) == 0);
}

}  // namespace

const ProductVariant* FindProductVariant(base::StringPiece product, int32_t channel) {
  for (const ProductVariant& variant : kProductVariants) {
    if (variant.channel == channel && Equals(product, variant.product)) return &variant;
  }
  return nullptr;
}

FeatureMasks GetFeatureMasksFor(base::StringPiece product, int32_t channel) {
  const ProductVariant* variant = FindProductVariant(product, channel);
  if (!variant) return FeatureMasks{0, 0};
  return FeatureMasks{variant->default_bits, variant->overridable_bits};
}

FeatureMasks GetFeatureMasks() { return GetFeatureMasksFor(GetUserAgentName(), GetChannel()); }

const FeatureFlag* FindFeatureFlag(base::StringPiece name) {
  for (const FeatureFlag& flag : kBrowserFeatureFlags) {
    if (Equals(name, flag.name)) return &flag;
  }
  return nullptr;
}

const FeatureFlag* GetInstallerFeatureFlags(size_t* count) {
  *count = sizeof(kInstallerFeatureFlags) / sizeof(kInstallerFeatureFlags[0]);
  return kInstallerFeatureFlags;
}

bool IsFeatureFlagEnabledByDefault(const FeatureFlag& flag) {
  return (flag.default_mask & GetFeatureMasks().default_bits) != 0;
}

bool IsFeatureFlagOverridable(const FeatureFlag& flag) {
  return (flag.overridable_mask & GetFeatureMasks().overridable_bits) != 0;
}

void RegisterInstallerFlags(base::FeatureStates* states) {
  for (const FeatureFlag& flag : kInstallerFeatureFlags) {
    states->Declare(flag.name, IsFeatureFlagEnabledByDefault(flag),
                    IsFeatureFlagOverridable(flag));
  }
}

}  // namespace installer
