#include "base/win/shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <propsys.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "base/win/scoped_generic.h"
#include "base/win/win_util.h"
#include "base/win/windows_version.h"

namespace base {

namespace {

using Microsoft::WRL::ComPtr;

// The buffers of the shell-link interface.
const int kMaxText = MAX_PATH;

// A shell link with its file interface, the pair every operation needs.
struct ShellLink {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;

  bool Create() {
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&link)))) {
      return false;
    }
    return SUCCEEDED(link.As(&file));
  }
  [[nodiscard]] bool CreateAndLoad(const FilePath& path, DWORD mode) {
    return Create() && SUCCEEDED(file->Load(path.value().c_str(), mode));
  }
};

bool AppModelPropertiesSupported() { return GetWindowsVersion() >= OS_VERSION_WIN7; }

}  // namespace

ShortcutProperties::ShortcutProperties() : icon_index(-1), dual_mode(false), options(0) {}
ShortcutProperties::~ShortcutProperties() {}

bool CreateOrUpdateShortcut(const FilePath& shortcut_path,
                            const ShortcutProperties& properties,
                            ShortcutOperation operation) {
  const uint32_t options = properties.options;
  if (operation != SHORTCUT_UPDATE_EXISTING &&
      !(options & ShortcutProperties::PROPERTIES_TARGET)) {
    return false;
  }
  const bool existed =
      GetFileAttributesW(shortcut_path.value().c_str()) != INVALID_FILE_ATTRIBUTES;

  ShellLink link;
  ShellLink old_link;  // replace: only supplies the old arguments
  switch (operation) {
    case SHORTCUT_CREATE_ALWAYS:
      if (!link.Create()) return false;
      break;
    case SHORTCUT_UPDATE_EXISTING:
      if (!link.CreateAndLoad(shortcut_path, STGM_READWRITE)) return false;
      break;
    case SHORTCUT_REPLACE_EXISTING:
      if (!old_link.CreateAndLoad(shortcut_path, STGM_READWRITE)) return false;
      if (!link.Create()) return false;
      break;
    default:
      return false;
  }

  IShellLinkW* shell_link = link.link.Get();
  if ((options & ShortcutProperties::PROPERTIES_TARGET) &&
      FAILED(shell_link->SetPath(properties.target.value().c_str()))) {
    return false;
  }
  if ((options & ShortcutProperties::PROPERTIES_WORKING_DIR) &&
      FAILED(shell_link->SetWorkingDirectory(properties.working_dir.value().c_str()))) {
    return false;
  }
  if (options & ShortcutProperties::PROPERTIES_ARGUMENTS) {
    if (FAILED(shell_link->SetArguments(properties.arguments.c_str()))) return false;
  } else if (old_link.link) {
    wchar_t old_arguments[kMaxText + 1] = {};
    if (SUCCEEDED(old_link.link->GetArguments(old_arguments, kMaxText)) &&
        FAILED(shell_link->SetArguments(old_arguments))) {
      return false;
    }
  }
  if ((options & ShortcutProperties::PROPERTIES_DESCRIPTION) &&
      FAILED(shell_link->SetDescription(properties.description.c_str()))) {
    return false;
  }
  if ((options & ShortcutProperties::PROPERTIES_ICON) &&
      FAILED(shell_link->SetIconLocation(properties.icon.value().c_str(),
                                         properties.icon_index))) {
    return false;
  }

  const bool has_app_id = (options & ShortcutProperties::PROPERTIES_APP_ID) != 0;
  const bool has_dual_mode = (options & ShortcutProperties::PROPERTIES_DUAL_MODE) != 0;
  if ((has_app_id || has_dual_mode) && AppModelPropertiesSupported()) {
    ComPtr<IPropertyStore> store;
    if (FAILED(link.link.As(&store))) return false;
    if (has_app_id && !SetAppIdForPropertyStore(store.Get(), properties.app_id.c_str()))
      return false;
    if (has_dual_mode && !SetDualModeForPropertyStore(store.Get(), properties.dual_mode))
      return false;
  }

  // The old link must not hold the file while the new one is written over it.
  old_link.file.Reset();
  old_link.link.Reset();
  if (FAILED(link.file->Save(shortcut_path.value().c_str(), TRUE))) return false;

  if (existed)
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  else
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, shortcut_path.value().c_str(), nullptr);
  return true;
}

bool ResolveShortcutProperties(const FilePath& shortcut_path, uint32_t options,
                               ShortcutProperties* properties) {
  ShellLink link;
  if (!link.CreateAndLoad(shortcut_path, STGM_READ)) return false;
  IShellLinkW* shell_link = link.link.Get();
  wchar_t text[kMaxText + 1];

  if (options & ShortcutProperties::PROPERTIES_TARGET) {
    text[0] = L'\0';
    if (FAILED(shell_link->GetPath(text, kMaxText, nullptr, SLGP_UNCPRIORITY))) return false;
    text[kMaxText] = L'\0';
    properties->set_target(FilePath(text));
    // The item list names the target in UTF-16; the path above may come from the link's
    // ANSI copy, where letters outside the code page are "?" (so Wine reads it).
    PIDLIST_ABSOLUTE raw_items = nullptr;
    wchar_t unicode[kMaxText + 1] = {};
    if (SUCCEEDED(shell_link->GetIDList(&raw_items))) {
      ScopedCoTaskMem<ITEMIDLIST_ABSOLUTE> items(raw_items);
      if (items.IsValid() && SHGetPathFromIDListW(items.Get(), unicode))
        properties->set_target(FilePath(unicode));
    }
  }
  if (options & ShortcutProperties::PROPERTIES_WORKING_DIR) {
    text[0] = L'\0';
    if (FAILED(shell_link->GetWorkingDirectory(text, kMaxText))) return false;
    text[kMaxText] = L'\0';
    properties->set_working_dir(FilePath(text));
  }
  if (options & ShortcutProperties::PROPERTIES_ARGUMENTS) {
    text[0] = L'\0';
    if (FAILED(shell_link->GetArguments(text, kMaxText))) return false;
    text[kMaxText] = L'\0';
    properties->set_arguments(text);
  }
  if (options & ShortcutProperties::PROPERTIES_DESCRIPTION) {
    text[0] = L'\0';
    if (FAILED(shell_link->GetDescription(text, kMaxText))) return false;
    text[kMaxText] = L'\0';
    properties->set_description(text);
  }
  if (options & ShortcutProperties::PROPERTIES_ICON) {
    text[0] = L'\0';
    int index = -1;
    if (FAILED(shell_link->GetIconLocation(text, kMaxText, &index))) return false;
    text[kMaxText] = L'\0';
    properties->set_icon(FilePath(text), index);
  }

  const bool wants_app_id = (options & ShortcutProperties::PROPERTIES_APP_ID) != 0;
  const bool wants_dual_mode = (options & ShortcutProperties::PROPERTIES_DUAL_MODE) != 0;
  if ((wants_app_id || wants_dual_mode) && AppModelPropertiesSupported()) {
    ComPtr<IPropertyStore> store;
    if (FAILED(link.link.As(&store))) return false;
    if (wants_app_id) {
      ScopedPropVariant value;
      if (FAILED(store->GetValue(kAppUserModelId, value.Receive()))) return false;
      if (value.Get().vt == VT_LPWSTR && value.Get().pwszVal)
        properties->set_app_id(value.Get().pwszVal);
      else if (value.Get().vt == VT_EMPTY)
        properties->set_app_id(std::wstring());
      else
        return false;
    }
    if (wants_dual_mode) {
      ScopedPropVariant value;
      if (FAILED(store->GetValue(kAppUserModelIsDualMode, value.Receive()))) return false;
      if (value.Get().vt == VT_BOOL)
        properties->set_dual_mode(value.Get().boolVal == VARIANT_TRUE);
      else if (value.Get().vt == VT_EMPTY)
        properties->set_dual_mode(false);
      else
        return false;
    }
  }
  return true;
}

bool ResolveShortcut(const FilePath& shortcut_path, FilePath* target) {
  ShortcutProperties properties;
  const uint32_t options =
      target ? static_cast<uint32_t>(ShortcutProperties::PROPERTIES_TARGET) : 0u;
  if (!ResolveShortcutProperties(shortcut_path, options, &properties)) return false;
  if (target) *target = properties.target;
  return true;
}

bool UnpinShortcutFromTaskbar(const FilePath& shortcut_path) {
  if (GetWindowsVersion() < OS_VERSION_WIN7) return false;
  const HINSTANCE result = ShellExecuteW(nullptr, L"taskbarunpin",
                                         shortcut_path.value().c_str(), nullptr, nullptr, 0);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace base
