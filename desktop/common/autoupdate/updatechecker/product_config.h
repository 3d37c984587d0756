// The product configuration: the JSON document in the "TXT" 133 resource of the host
// executable that names the product, its company and its endpoints, and the build's own
// constants (versions, stream, build stamp) beside it.
#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_PRODUCT_CONFIG_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_PRODUCT_CONFIG_H_

#include <stdint.h>

#include <string>

#include "base/channel_info.h"
#include "base/strings/string_piece.h"

namespace base {
class Dictionary;
}

namespace installer {

// The installer's own architecture, as the install folder rules and the remembered
// install paths take it.
const int32_t kInstallerArchitectureX86 = 0;
const int32_t kInstallerArchitectureX64 = 1;

// The parsed configuration, read on first use from the main module or, when it lacks
// the resource, from "_harborlib.pyd". Empty when neither holds a JSON object.
const base::Dictionary& GetProductConfig();

// String values; empty when the key is missing or not a string.
std::string GetCompanyName();
std::string GetCrashUploadServerProductName();
std::string GetDefaultProfilePathTemplate();
std::string GetDomain();
std::string GetExpectedSigner();
std::string GetFileNameBase();
std::string GetProductName();
std::string GetShortcutSuffix();
std::string GetUserAgentName();
std::string GetVisibleProductName();
// The member `name` of "urls"; empty when there is none.
std::string GetProductUrl(base::StringPiece name);

// Integer values; 0 when missing.
int GetScheduledAutoupdateDelayMin();
// Boolean values; false when missing.
bool GetScheduleAutoupdateTask();
bool IsWhiteLabeled();

// "major.minor.build.patch": the build major number plus "major_delta"; the engine's
// major number when "use_engine_major_for_minor" is true, else 0; build; patch.
std::string GetProductVersion();
// The same rule over any configuration.
std::string GetProductVersionFor(const base::Dictionary& config);
// "build.patch".
std::string GetBuildAndPatchNumber();
// The first number of the engine's version; -1 when it does not read as a number.
int GetBaseVersion();
// The build's stream: base::kChannelStable, "Stable".
int32_t GetChannel();
std::string GetChannelName();
// The build date and time: "YYYYMMDD_hhmmss".
std::string GetBuildTimestamp();
int GetBuildUbn();
int GetBuildIdNumber();

// The names the rest of the system uses for the same values.
std::string GetBuildProductName();
std::string GetBuildVersion();

}  // namespace installer

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_PRODUCT_CONFIG_H_
