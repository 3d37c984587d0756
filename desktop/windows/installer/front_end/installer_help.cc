#include "desktop/windows/installer/front_end/installer_help.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/front_end/installer_help_switch_table.h"
#include "desktop/windows/installer/front_end/run_installer_names.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

void PrintToConsole(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

bool PrintInformationalSwitch(const base::CommandLine& command_line) {
  std::string value;
  if (command_line.HasSwitch(switches::kVersion)) {
    value = GetBuildVersion();
  } else if (command_line.HasSwitch(switches::kInternalVersion)) {
    value = GetBuildAndPatchNumber();
  } else if (command_line.HasSwitch(switches::kStream)) {
    value = GetChannelName();
  } else {
    return false;
  }
  PrintToConsole("%s", value.c_str());
  return true;
}

void PrintHelpTo(FILE* out, const std::vector<std::wstring>& languages) {
  std::fprintf(out, "%s Installer %s %s\n\n", GetBuildProductName().c_str(),
               GetBuildVersion().c_str(), GetChannelName().c_str());
  std::fprintf(out,
               "The following command line parameters affect the behavior "
               "of the installer:\n");
  for (const InstallerHelpSwitch& row : InstallerHelpSwitchTable) {
    std::fprintf(out, "  %s", row.name);
    if (row.placeholder) std::fprintf(out, "=%s", row.placeholder);
    std::fprintf(out, "\n    %s\n", FormatWithProductName(row.description, false).c_str());
    if (row.default_value) {
      std::fprintf(out, "    Default value: %s\n",
                   FormatWithProductName(row.default_value, false).c_str());
    }
  }

  std::fprintf(out, "\nLanguages available for the %s option:\n", "language");
  std::wstring joined;
  for (const std::wstring& code : languages) {
    if (!joined.empty()) joined += L", ";
    joined += code;
  }
  std::fprintf(out, "%s\n", base::WideToUTF8(joined).c_str());

  std::fprintf(out, "\nFeatures available through command-line switches:\n");
  size_t count = 0;
  const FeatureFlag* flags = GetInstallerFeatureFlags(&count);
  for (size_t i = 0; i < count; ++i) {
    std::fprintf(out, "\t--%s [Enabled by default: %s]\n",
                 base::GetFeatureSwitchName(flags[i].name).c_str(),
                 IsFeatureFlagEnabledByDefault(flags[i]) ? "true" : "false");
  }
}

void PrintHelp() {
  // The installer is a windowed program: the help needs a console of its own.
  (void)AllocConsole();  // fails when there is one already, which serves as well
  if (!std::freopen("CONOUT$", "w", stdout)) return;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  PrintHelpTo(stdout, LoadAvailableLanguages());
  // Keeps the console open until the user has read it. The command processor's own
  // prompt also ends at once when the input is redirected, which scripts rely on.
  (void)std::system("PAUSE");  // NOLINT(cert-env33-c)
}

}  // namespace installer
