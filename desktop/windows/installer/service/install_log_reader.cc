#include "desktop/windows/installer/service/install_log_reader.h"

#include <utility>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "desktop/windows/installer/service/xml_document.h"

namespace installer {

namespace {

// Wide fields are trimmed of Unicode white space and cut at a NUL.
std::wstring WideField(const std::string& utf8) {
  std::wstring text;
  base::TrimString(base::UTF8ToWide(utf8), base::kWhitespaceWide, &text);
  size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

// Value data is trimmed of ASCII white space only.
std::string TrimASCIIWhitespace(const std::string& text) {
  size_t first = text.find_first_not_of(base::kWhitespaceASCII);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(base::kWhitespaceASCII);
  return text.substr(first, last - first + 1);
}

}  // namespace

struct InstallLogReader::FileListMessages {
  const char* first_child;
  const char* wrong_name;
  const char* no_text;
  const char* traversal;
  const char* back_to_list;
  bool empty_list_allowed;
};

InstallLogReader::InstallLogReader() = default;

InstallLogReader::~InstallLogReader() = default;

void InstallLogReader::ParseFile(std::unique_ptr<InstallLog>* log,
                                 const base::FilePath& path, uint32_t source) {
  log->reset();
  log_.reset();
  subfolder_refused_ = false;
  document_ = std::make_unique<XmlDocument>();
  std::string document_error;
  if (!document_->LoadFile(path, &document_error)) {
    error = "Cannot parse the file as XML: " + document_error;
    return;
  }
  bool read = ReadRoot(source) && ReadPath() && ReadFiles() && ReadRootFiles() &&
              ReadRegistry() && ReadShortcuts() && ReadComponents();
  if (read) *log = std::move(log_);
  log_.reset();
}

bool InstallLogReader::IsAcceptedName(const char* what, const std::wstring& name) {
  if (CheckRelativePath(name) == NameProblem::kNone) return true;
  LOG(ERROR) << "Skipping a " << what << " of the installation record that is not below "
             << "the install folder: " << base::WideToUTF8(name);
  log_->damaged = true;
  return false;
}

bool InstallLogReader::Fail(const char* message) {
  error = message;
  return false;
}

bool InstallLogReader::GetWideText(std::wstring* text) {
  std::string utf8;
  if (!document_->GetText(&utf8)) return false;
  *text = WideField(utf8);
  return true;
}

bool InstallLogReader::ReadRoot(uint32_t source) {
  if (document_->MoveToFirstChild() != XmlDocument::MOVED)
    return Fail("Cannot proceed to the root element");
  std::string name;
  if (!document_->GetName(&name) || name != "install_log")
    return Fail("The root element's name is invalid");
  log_ = std::make_unique<InstallLog>(source);
  if (!document_->GetAttribute("version", &log_->version))
    return Fail("There's no version attribute on the root element");
  document_->GetAttribute("app_id", &log_->app_id);
  const struct {
    const char* attribute;
    bool* field;
    const char* missing;
  } flags[] = {
      {"copy_only", &log_->copy_only, "There's no copy_only attribute on the root element"},
      {"all_users", &log_->all_users, "There's no all_users attribute on the root element"},
      {"pinned", &log_->pinned, "There's no pinned attribute on the root element"},
  };
  for (const auto& flag : flags) {
    std::string value;
    if (!document_->GetAttribute(flag.attribute, &value)) return Fail(flag.missing);
    *flag.field = value == "True";
  }
  return true;
}

bool InstallLogReader::ReadPath() {
  if (document_->MoveToFirstChild() != XmlDocument::MOVED)
    return Fail("Cannot proceed to the path");
  std::string name;
  if (!document_->GetName(&name) || name != "path")
    return Fail("The path element is not named correctly");
  std::string subfolder;
  if (document_->GetAttribute("subfolder", &subfolder)) log_->subfolder = WideField(subfolder);
  // The record may be written by a user and consumed by an administrator's run: what
  // it names is deleted, so it must stay inside the install folder.
  if (!log_->subfolder.empty() && !IsAcceptedName("version subfolder", log_->subfolder)) {
    log_->subfolder.clear();
    subfolder_refused_ = true;
  }
  if (!GetWideText(&log_->install_path)) return Fail("Cannot get text contents of path");
  return true;
}

bool InstallLogReader::ReadFileList(const FileListMessages& messages,
                                    std::vector<std::wstring>* files) {
  XmlDocument::MoveResult moved = document_->MoveToFirstChild();
  if (moved == XmlDocument::NO_SUCH_ELEMENT && messages.empty_list_allowed) return true;
  if (moved != XmlDocument::MOVED) return Fail(messages.first_child);
  do {
    std::string name;
    if (!document_->GetName(&name) || name != "file") return Fail(messages.wrong_name);
    std::wstring file;
    if (!GetWideText(&file)) return Fail(messages.no_text);
    // An empty line names nothing; without their version subfolder the files cannot be
    // found.
    const bool folder_lost = subfolder_refused_ && files == &log_->files;
    if (!file.empty() && !folder_lost && IsAcceptedName("file", file))
      files->push_back(std::move(file));
    moved = document_->MoveToNextSibling();
  } while (moved == XmlDocument::MOVED);
  if (moved == XmlDocument::XML_FAILURE) return Fail(messages.traversal);
  if (document_->MoveToParent() != XmlDocument::MOVED) return Fail(messages.back_to_list);
  return true;
}

bool InstallLogReader::ReadFiles() {
  if (document_->MoveToNextSibling() != XmlDocument::MOVED)
    return Fail("Cannot go to files element");
  std::string name;
  if (!document_->GetName(&name) || name != "files")
    return Fail("Files element is incorrectly named");
  // An installation without files is written with an empty list; it must read back.
  static const FileListMessages kMessages = {
      "Cannot proceed to the first file on the list", "File element is incorrectly named",
      "Cannot get text content of a file element",   "Failed traversing the files list",
      "Cannot get back to the files list",            true};
  return ReadFileList(kMessages, &log_->files);
}

bool InstallLogReader::ReadRootFiles() {
  XmlDocument::MoveResult moved = document_->MoveToNextSibling();
  if (moved == XmlDocument::NO_SUCH_ELEMENT) return true;
  if (moved == XmlDocument::XML_FAILURE)
    return Fail("Cannot proceed to the expected root files list");
  std::string name;
  if (!document_->GetName(&name))
    return Fail("Cannot get the expected root files list name");
  if (name == "registry" || name == "shortcut" || name == "components") return true;
  if (name != "root_files")
    return Fail("Invalid element in place of the optional root files list");

  static const FileListMessages kMessages = {
      "Cannot proceed to the first root file", "A root file is incorrectly named",
      "Cannot get text of a root file",        "Failed traversing the root files list",
      "Cannot get back to the root files list", false};
  if (!ReadFileList(kMessages, &log_->root_files)) return false;
  moved = document_->MoveToNextSibling();
  if (moved == XmlDocument::NO_SUCH_ELEMENT) return true;
  if (moved == XmlDocument::XML_FAILURE) return Fail("Cannot proceed from the root files list");
  if (!document_->GetName(&name)) return Fail("Cannot get root files list successor name");
  if (name != "registry" && name != "shortcut" && name != "components")
    return Fail("Invalid successor of root files list");
  return true;
}

bool InstallLogReader::ReadRegistry() {
  bool read_any = false;
  for (;;) {
    std::string name;
    if (!document_->GetName(&name)) return false;
    if (name != "registry") {
      if (!read_any) return true;
      if (name == "shortcut" || name == "components") return true;
      return Fail("Invalid successor of the registry element");
    }
    std::string hive;
    if (!document_->GetAttribute("hive", &hive))
      return Fail("Cannot get the hive attibute of a registry element");
    std::vector<InstallLog::RegistryKey>* keys;
    if (hive == "HKLM")
      keys = &log_->machine_registry;
    else if (hive == "HKCU")
      keys = &log_->user_registry;
    else
      return Fail("The hive attribute is not HKLM nor HKCU");
    if (!ReadRegistryPath(keys)) return false;
    read_any = true;
    XmlDocument::MoveResult moved = document_->MoveToNextSibling();
    if (moved == XmlDocument::NO_SUCH_ELEMENT) return true;
    if (moved == XmlDocument::XML_FAILURE)
      return Fail("Failure while traversing registry keys");
  }
}

bool InstallLogReader::ReadRegistryPath(std::vector<InstallLog::RegistryKey>* keys) {
  if (document_->MoveToFirstChild() != XmlDocument::MOVED) return false;
  XmlDocument::MoveResult moved;
  do {
    std::string name;
    InstallLog::RegistryKey key;
    std::string clean;
    if (!document_->GetName(&name) || name != "key" ||
        !document_->GetAttribute("path", &key.path) ||
        !document_->GetAttribute("clean", &clean) || !base::StringToInt(clean, &key.clean)) {
      return false;
    }
    moved = document_->MoveToFirstChild();
    if (moved == XmlDocument::XML_FAILURE) return false;
    if (moved == XmlDocument::MOVED && !ReadRegistryValue(&key)) return false;
    keys->push_back(std::move(key));
    moved = document_->MoveToNextSibling();
  } while (moved == XmlDocument::MOVED);
  return moved == XmlDocument::NO_SUCH_ELEMENT &&
         document_->MoveToParent() == XmlDocument::MOVED;
}

bool InstallLogReader::ReadRegistryValue(InstallLog::RegistryKey* key) {
  XmlDocument::MoveResult moved;
  do {
    std::string name;
    InstallLog::RegistryValue value;
    std::string data;
    if (!document_->GetName(&name) || name != "value" ||
        !document_->GetAttribute("name", &value.name) ||
        !document_->GetAttribute("type", &value.type) || !document_->GetText(&data)) {
      return false;
    }
    value.data = TrimASCIIWhitespace(data);
    key->values.push_back(std::move(value));
    moved = document_->MoveToNextSibling();
  } while (moved == XmlDocument::MOVED);
  return moved == XmlDocument::NO_SUCH_ELEMENT &&
         document_->MoveToParent() == XmlDocument::MOVED;
}

bool InstallLogReader::ReadShortcuts() {
  bool read_any = false;
  bool moved_to_element = false;
  std::string name;
  while (document_->GetName(&name) && name == "shortcut") {
    std::string type;
    if (!document_->GetAttribute("type", &type))
      return Fail("A shortcut element doesn't feature a type attribute");
    std::wstring path;
    if (!GetWideText(&path)) return false;
    if (type == "SC_DEST_DESKTOP" || type == "SC_DEST_COMMON_DESKTOP") {
      log_->desktop_shortcut = path;
    } else if (type == "SC_DEST_MENU" || type == "SC_DEST_COMMON_MENU") {
      log_->menu_shortcut = path;
    } else if (type == "SC_DEST_QUICK_LAUNCH") {
      log_->quick_launch_shortcut = path;
    } else {
      error = "Invalid shortcut type " + type;
      return false;
    }
    read_any = true;
    XmlDocument::MoveResult moved = document_->MoveToNextSibling();
    if (moved == XmlDocument::XML_FAILURE) return Fail("Failure while traversing shortcuts");
    moved_to_element = moved == XmlDocument::MOVED;
    if (!moved_to_element) break;
  }
  if (!read_any) {
    XmlDocument::MoveResult moved = document_->MoveToNextSibling();
    if (moved == XmlDocument::XML_FAILURE)
      return Fail("Failure trying to proceed to the shortcut successor");
    moved_to_element = moved == XmlDocument::MOVED;
  }
  if (!document_->GetName(&name))
    return Fail("Failed getting the shortcut successor element name");
  return !moved_to_element || name == "components";
}

bool InstallLogReader::ReadComponents() {
  std::string name;
  if (!document_->GetName(&name) || name != "components") return true;
  if (document_->MoveToFirstChild() != XmlDocument::MOVED)
    return Fail("Failed going to the first component");
  XmlDocument::MoveResult moved;
  do {
    if (!document_->GetName(&name) || name != "component")
      return Fail("A component element is not called component");
    if (document_->MoveToFirstChild() != XmlDocument::MOVED)
      return Fail("Cannot go to first child of a component");
    if (!document_->GetName(&name) || name != "name")
      return Fail("Component's first child is not called name");
    std::string component_name;
    if (!document_->GetText(&component_name))
      return Fail("Cannot get component's name as text");
    if (document_->MoveToNextSibling() != XmlDocument::MOVED)
      return Fail("Cannot go to component.name sibling");
    if (!document_->GetName(&name) || name != "path")
      return Fail("component.path is not called path");
    std::wstring path;
    if (!GetWideText(&path)) return Fail("Cannot get the path of a component as text");
    log_->components.emplace_back(std::move(component_name), std::move(path));
    if (document_->MoveToParent() != XmlDocument::MOVED)
      return Fail("Cannot get back to the component's parent element");
    moved = document_->MoveToNextSibling();
  } while (moved == XmlDocument::MOVED);
  if (moved == XmlDocument::XML_FAILURE) return Fail("Failure while traversing components");
  if (document_->MoveToParent() != XmlDocument::MOVED)
    return Fail("Cannot get back to the root of component list");
  if (document_->MoveToNextSibling() != XmlDocument::NO_SUCH_ELEMENT)
    return Fail("Components are not the last element in status");
  return true;
}

}  // namespace installer
