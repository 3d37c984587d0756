// Shell shortcuts (.lnk files): create, replace or update one, read its properties back,
// unpin it from the taskbar. COM must be initialised on the calling thread.
//
//   ShortcutProperties properties;
//   properties.set_target(browser_exe);
//   properties.set_arguments(L"--profile-directory=Default");
//   CreateOrUpdateShortcut(desktop.Append(L"Velum.lnk"), properties, SHORTCUT_CREATE_ALWAYS);
#ifndef BASE_WIN_SHORTCUT_H_
#define BASE_WIN_SHORTCUT_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"

namespace base {

struct ShortcutProperties {
  // Bits of `options`: which properties are set (or are to be read).
  enum Option : uint32_t {
    PROPERTIES_TARGET = 1,
    PROPERTIES_WORKING_DIR = 2,
    PROPERTIES_ARGUMENTS = 4,
    PROPERTIES_DESCRIPTION = 8,
    PROPERTIES_ICON = 16,  // the icon file and its index
    PROPERTIES_APP_ID = 32,
    PROPERTIES_DUAL_MODE = 64,
  };

  ShortcutProperties();
  ~ShortcutProperties();

  void set_target(const FilePath& path) { target = path; options |= PROPERTIES_TARGET; }
  void set_working_dir(const FilePath& path) {
    working_dir = path;
    options |= PROPERTIES_WORKING_DIR;
  }
  void set_arguments(const std::wstring& text) {
    arguments = text;
    options |= PROPERTIES_ARGUMENTS;
  }
  void set_description(const std::wstring& text) {
    description = text;
    options |= PROPERTIES_DESCRIPTION;
  }
  void set_icon(const FilePath& path, int index) {
    icon = path;
    icon_index = index;
    options |= PROPERTIES_ICON;
  }
  void set_app_id(const std::wstring& id) {
    app_id = id;
    options |= PROPERTIES_APP_ID;
  }
  void set_dual_mode(bool on) {
    dual_mode = on;
    options |= PROPERTIES_DUAL_MODE;
  }

  FilePath target;
  FilePath working_dir;
  std::wstring arguments;
  std::wstring description;
  FilePath icon;
  int32_t icon_index;  // -1 when not set
  std::wstring app_id;  // the application user model id
  bool dual_mode;
  uint32_t options;
};

enum ShortcutOperation {
  SHORTCUT_CREATE_ALWAYS = 0,     // write a new shortcut, over any existing file
  SHORTCUT_REPLACE_EXISTING = 1,  // rewrite an existing shortcut, keeping its arguments
                                  // unless new ones are given
  SHORTCUT_UPDATE_EXISTING = 2,   // change only the given properties of an existing one
};

// Creating and replacing need the target. The shell is told about the new or changed
// file. False on any failure; a half-set-up link is never saved.
[[nodiscard]] bool CreateOrUpdateShortcut(const FilePath& shortcut_path,
                                          const ShortcutProperties& properties,
                                          ShortcutOperation operation);

// Reads the properties named by `options` (Option bits) into *properties. On failure the
// properties read so far stay there. Texts are at most 260 characters.
[[nodiscard]] bool ResolveShortcutProperties(const FilePath& shortcut_path, uint32_t options,
                                             ShortcutProperties* properties);

// The shortcut's target; with a null `target` only tests that the shortcut loads.
[[nodiscard]] bool ResolveShortcut(const FilePath& shortcut_path, FilePath* target);

// Runs the shell's "taskbarunpin" verb on the shortcut (Windows 7 and later).
[[nodiscard]] bool UnpinShortcutFromTaskbar(const FilePath& shortcut_path);

}  // namespace base

#endif  // BASE_WIN_SHORTCUT_H_
