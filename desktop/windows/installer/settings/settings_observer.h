// Told about changes of the installation request.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_OBSERVER_H_

namespace installer {

class SettingsObserver {
 public:
  virtual ~SettingsObserver() {}
  // A flag was set through a setter.
  virtual void OnFlagChanged() = 0;
  // The install language changed.
  virtual void OnLanguageChanged() = 0;
  // A new install target was applied, valid or not.
  virtual void OnPathChanged() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_OBSERVER_H_
