#include "desktop/windows/installer/service/install_log_writer.h"

#include <string>
#include <utility>

#include "base/files/important_file_writer.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/xml_document.h"

namespace installer {

namespace {

const char* BoolText(bool value) {
  return value ? "True" : "False";
}

}  // namespace

InstallLogWriter::InstallLogWriter() : document_(std::make_unique<XmlDocument>()) {}

InstallLogWriter::InstallLogWriter(std::unique_ptr<XmlDocument> document)
    : document_(std::move(document)) {}

InstallLogWriter::~InstallLogWriter() = default;

bool InstallLogWriter::WriteFile(const InstallLog& log, const base::FilePath& path) {
  if (!document_->Create(nullptr) || !document_->MoveToDocument()) return false;
  WriteRoot(log);
  WritePath(log);
  WriteFiles(log);
  WriteRootFiles(log);
  WriteRegistry(log);
  WriteShortcuts(log);
  WriteComponents(log);
  document_->EndElement();
  std::string text;
  if (!document_->SaveToString(&text)) return false;
  // Readers only ever see the old record or the whole new one, also after a power loss.
  return base::ImportantFileWriter::WriteFileAtomically(path, text);
}

void InstallLogWriter::WriteRoot(const InstallLog& log) {
  document_->AppendElement("install_log");
  document_->SetAttribute("version", log.version);
  document_->SetAttribute("copy_only", BoolText(log.copy_only));
  document_->SetAttribute("all_users", BoolText(log.all_users));
  document_->SetAttribute("pinned", BoolText(log.pinned));
  document_->SetAttribute("app_id", log.app_id);
}

void InstallLogWriter::WritePath(const InstallLog& log) {
  document_->AppendElement("path");
  document_->SetAttribute("subfolder", base::WideToUTF8(log.subfolder));
  document_->SetText(base::WideToUTF8(log.install_path));
  document_->EndElement();
}

void InstallLogWriter::WriteFiles(const InstallLog& log) {
  document_->AppendElement("files");
  for (const std::wstring& file : log.files) WriteTextElement("file", base::WideToUTF8(file));
  document_->EndElement();
}

void InstallLogWriter::WriteRootFiles(const InstallLog& log) {
  if (log.root_files.empty()) return;
  document_->AppendElement("root_files");
  for (const std::wstring& file : log.root_files)
    WriteTextElement("file", base::WideToUTF8(file));
  document_->EndElement();
}

void InstallLogWriter::WriteRegistry(const InstallLog& log) {
  const struct {
    const char* hive;
    const std::vector<InstallLog::RegistryKey>* keys;
  } hives[] = {{"HKLM", &log.machine_registry}, {"HKCU", &log.user_registry}};
  for (const auto& hive : hives) {
    if (hive.keys->empty()) continue;
    document_->AppendElement("registry");
    document_->SetAttribute("hive", hive.hive);
    WriteRegistryPath(*hive.keys);
    document_->EndElement();
  }
}

void InstallLogWriter::WriteRegistryPath(const std::vector<InstallLog::RegistryKey>& keys) {
  for (const InstallLog::RegistryKey& key : keys) {
    document_->AppendElement("key");
    document_->SetAttribute("path", key.path);
    document_->SetAttribute("clean", std::to_string(key.clean));
    WriteRegistryValue(key.values);
    document_->EndElement();
  }
}

void InstallLogWriter::WriteRegistryValue(
    const std::vector<InstallLog::RegistryValue>& values) {
  for (const InstallLog::RegistryValue& value : values) {
    document_->AppendElement("value");
    document_->SetAttribute("name", value.name);
    document_->SetAttribute("type", value.type);
    document_->SetText(value.data);
    document_->EndElement();
  }
}

void InstallLogWriter::WriteShortcuts(const InstallLog& log) {
  const struct {
    const std::wstring* path;
    const char* type;
  } shortcuts[] = {
      {&log.desktop_shortcut, log.all_users ? "SC_DEST_COMMON_DESKTOP" : "SC_DEST_DESKTOP"},
      {&log.menu_shortcut, log.all_users ? "SC_DEST_COMMON_MENU" : "SC_DEST_MENU"},
      {&log.quick_launch_shortcut, "SC_DEST_QUICK_LAUNCH"},
  };
  for (const auto& shortcut : shortcuts) {
    if (shortcut.path->empty()) continue;
    document_->AppendElement("shortcut");
    document_->SetAttribute("type", shortcut.type);
    document_->SetText(base::WideToUTF8(*shortcut.path));
    document_->EndElement();
  }
}

void InstallLogWriter::WriteComponents(const InstallLog& log) {
  if (log.components.empty()) return;
  document_->AppendElement("components");
  for (const InstallLog::Component& component : log.components) {
    document_->AppendElement("component");
    WriteTextElement("name", component.name);
    WriteTextElement("path", base::WideToUTF8(component.path));
    document_->EndElement();
  }
  document_->EndElement();
}

void InstallLogWriter::WriteTextElement(const char* name, const std::string& text) {
  document_->AppendElement(name);
  document_->SetText(text);
  document_->EndElement();
}

}  // namespace installer
