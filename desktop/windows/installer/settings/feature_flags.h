// The compiled-in feature tables: for each feature of the installer and of the browser,
// in which products and channels it is on by default and may be overridden (by
// "with-feature:" switches or stored experiment states).
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_FEATURE_FLAGS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_FEATURE_FLAGS_H_

#include <stddef.h>
#include <stdint.h>

#include "base/strings/string_piece.h"

namespace base {
class FeatureStates;
}

namespace installer {

// Platform bits of a row.
enum FeaturePlatform : uint32_t {
  FEATURE_PLATFORM_MAC = 1,
  FEATURE_PLATFORM_WINDOWS = 2,
  FEATURE_PLATFORM_ALL = 7,
};

struct FeatureFlag {
  const char* name;
  // Product/channel bits in which the feature is on by default.
  uint32_t default_mask;
  // Product/channel bits in which its state may be overridden.
  uint32_t overridable_mask;
  const char* title;
  const char* description;
  uint32_t platforms;
};

// The bits of one product (by user-agent short name) and channel.
struct ProductVariant {
  const char* product;
  int32_t channel;
  uint32_t default_bits;
  uint32_t overridable_bits;
};

struct FeatureMasks {
  uint32_t default_bits;
  uint32_t overridable_bits;
};

// The first record with exactly that product name and channel, or null.
const ProductVariant* FindProductVariant(base::StringPiece product, int32_t channel);

// The masks of a product and channel; (0, 0) when the table has no record for them.
FeatureMasks GetFeatureMasksFor(base::StringPiece product, int32_t channel);
// The masks of the running product (the configuration's user-agent name) and channel.
FeatureMasks GetFeatureMasks();

// The browser-table row with exactly that name (case-sensitive), or null.
const FeatureFlag* FindFeatureFlag(base::StringPiece name);

// The installer's own table and its row count.
const FeatureFlag* GetInstallerFeatureFlags(size_t* count);

// Decided by the running product and channel.
bool IsFeatureFlagEnabledByDefault(const FeatureFlag& flag);
bool IsFeatureFlagOverridable(const FeatureFlag& flag);

// Declares every installer feature, in table order, in `states`.
void RegisterInstallerFlags(base::FeatureStates* states);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_FEATURE_FLAGS_H_
