// The steps that keep the registry in line with an installation: SetupRegistryStep
// writes the browser's registration (classes, file types, Start Menu client, App Paths,
// uninstall entry) and notes every value in the new installation record;
// CleanupRegistryStep removes what the previous record lists. Both work through the
// installation's transaction.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTRY_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTRY_STEPS_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/service/executable_architecture.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/registry_entry.h"

namespace installer {

class InstallationContext;

// The registration rows, in the order they are applied. The last row applies only
// with the feature "installer-hide-from-program-and-features".
extern const RegistryEntryDefinition kSetupRegistryEntries[];
extern const size_t kSetupRegistryEntryCount;

// How many uninstall key names ("<product> <version>", then with "1", "2", ...) are tried
// before the entry is given up.
const int kMaxUninstallKeySuffix = 100;

// "Software\...\Uninstall\<product_name> <version><suffix>".
std::wstring GetUninstallKeyForSuffix(const std::wstring& version, const std::wstring& suffix);

// Whether a recorded key may be deleted whole: only keys at or below the ones the
// product writes (its company key, its classes, its Start Menu client, its uninstall
// entries), so that a damaged record never takes a shared key or a hive's top level.
bool IsProductOwnedRegistryKey(const std::wstring& key_path);

// How a record names the product: a legacy engine's record through placeholders of its
// own stream.
struct RecordNaming {
  bool legacy = false;
  // The legacy stream's name ("Next", "Labs"), empty for none.
  std::wstring legacy_name;
  // `text` with a legacy record's placeholders replaced.
  std::wstring Expand(std::wstring text) const;
};

// Whether `key_path` and `value_name` are those of a value the table writes, as
// `resolver` names the product and `naming` a record's text: the values the clean-up may
// remove one by one outside the product's own keys (the open-with lists, App Paths, the
// compatibility flag, the registered application).
bool IsTableValue(const std::wstring& key_path, const std::wstring& value_name,
                  const RecordNaming& naming, PlaceholderResolver* resolver);

class SetupRegistryStep : public ContextStep {
 public:
  // The uninstall key chosen goes to *uninstall_key, where the placeholder "{Uninstall}"
  // is read from.
  SetupRegistryStep(InstallationContext* context, std::wstring* uninstall_key);
  StepResult Run(int32_t attempt) override;

 private:
  // Fails when every candidate name is taken or cannot be checked.
  base::Result<std::wstring> ChooseUninstallKey(HKEY hive);

  std::wstring* uninstall_key_;
};

class CleanupRegistryStep : public ContextStep {
 public:
  // `launcher_architecture` is that of the previous installation's "launcher.exe".
  CleanupRegistryStep(InstallationContext* context, ExecutableArchitecture launcher_architecture);
  StepResult Run(int32_t attempt) override;

 private:
  ExecutableArchitecture launcher_architecture_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTRY_STEPS_H_
