#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace installer {
namespace testing {

namespace {

const DWORD kAttributesThatMatter = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

void AppendRegistryKey(HKEY root, const std::wstring& key_path, const std::wstring& relative,
                       REGSAM view, std::string* out) {
  base::RegistryKey key;
  if (key.Open(root, key_path.c_str(), view | KEY_READ) != ERROR_SUCCESS) {
    *out += "<missing " + base::WideToUTF8(relative) + ">\n";
    return;
  }
  *out += "key " + base::WideToUTF8(relative) + "\n";
  // The owner is the creator's: a key rebuilt by a rollback gets the token's.
  const SECURITY_INFORMATION information =
      GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  RegGetKeySecurity(key.Handle(), information, nullptr, &size);
  std::string descriptor(size, '\0');
  if (RegGetKeySecurity(key.Handle(), information, &descriptor[0], &size) != ERROR_SUCCESS)
    descriptor = "<unreadable>";
  descriptor.resize(std::min<size_t>(descriptor.size(), size));
  *out += " security " + descriptor + "\n";

  std::map<std::wstring, std::string> values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD name_length = 16384;
    DWORD type = 0, data_size = 0;
    if (RegEnumValueW(key.Handle(), index, name, &name_length, nullptr, &type, nullptr,
                      &data_size) != ERROR_SUCCESS) {
      break;
    }
    std::string data(data_size, '\0');
    name_length = 16384;
    RegEnumValueW(key.Handle(), index, name, &name_length, nullptr, &type,
                  reinterpret_cast<BYTE*>(&data[0]), &data_size);
    data.resize(data_size);
    values[std::wstring(name, name_length)] =
        " value " + base::WideToUTF8(std::wstring(name, name_length)) + " type " +
        std::to_string(type) + " data " + data + "\n";
  }
  for (const auto& value : values) *out += value.second;

  std::vector<std::wstring> subkeys;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_length = 256;
    if (RegEnumKeyExW(key.Handle(), index, name, &name_length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    subkeys.emplace_back(name, name_length);
  }
  std::sort(subkeys.begin(), subkeys.end());
  for (const std::wstring& subkey : subkeys)
    AppendRegistryKey(root, key_path + L"\\" + subkey, relative + L"\\" + subkey, view, out);
}

}  // namespace

std::string SnapshotFileTree(const base::FilePath& root) {
  std::map<std::wstring, std::string> entries;
  base::FileEnumerator walk(root, true,
                            base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                            std::wstring());
  for (base::FilePath path = walk.Next(); !path.empty(); path = walk.Next()) {
    const DWORD attributes = GetFileAttributesW(path.value().c_str()) & kAttributesThatMatter;
    std::string entry = " attributes " + std::to_string(attributes);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      std::string contents;
      if (!base::ReadFileToString(path, &contents)) contents = "<unreadable>";
      entry += " contents " + contents;
    }
    entries[path.value().substr(root.value().size())] = entry;
  }
  std::string snapshot;
  for (const auto& entry : entries)
    snapshot += base::WideToUTF8(entry.first) + entry.second + "\n";
  return snapshot;
}

std::string SnapshotRegistryTree(HKEY root, const std::wstring& key_path, REGSAM view) {
  std::string snapshot;
  AppendRegistryKey(root, key_path, L".", view, &snapshot);
  return snapshot;
}

ScratchRegistryKey::ScratchRegistryKey(HKEY root, REGSAM view, NamedSecurityInfo* security)
    : root_(root), view_(view), security_(security) {
  static int counter = 0;
  const std::wstring path = L"Software\\VelumTest\\operations_" +
                            std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(GetTickCount64()) + L"_" +
                            std::to_wstring(++counter);
  base::RegistryKey key;
  if (key.Create(root, path.c_str(), view | KEY_ALL_ACCESS) == ERROR_SUCCESS) path_ = path;
}

ScratchRegistryKey::~ScratchRegistryKey() {
  if (path_.empty()) return;
  DeleteTree(root_, path_, view_, security_);
  // The shared parent stays: removed while another test process is creating its own key
  // below it, that creation fails with "key deleted".
}

// static
void ScratchRegistryKey::DeleteTree(HKEY root, const std::wstring& key_path, REGSAM view,
                                    NamedSecurityInfo* security) {
  base::RegistryKey key;
  if (key.Open(root, key_path.c_str(), view | KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    RegDeleteTreeW(key.Handle(), nullptr);
    key.Close();
  }
  if (RegDeleteKeyExW(root, key_path.c_str(), view, 0) == ERROR_SUCCESS) return;
  // The deletion operation takes the access that keys a test protected deny.
  Transaction transaction;
  if (!transaction.Execute(std::make_unique<DeleteRegKeyOperation>(root, key_path, view, security)))
    ADD_FAILURE() << "Cannot delete the scratch key";
}

bool WriteRegistryValue(HKEY root, const std::wstring& key_path, REGSAM view,
                        const wchar_t* name, DWORD type, const void* data, DWORD size) {
  base::RegistryKey key;
  if (key.Create(root, key_path.c_str(), view | KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  return RegSetValueExW(key.Handle(), name, 0, type, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

std::string SnapshotDifference(const std::string& before, const std::string& after) {
  auto lines = [](const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      result.push_back(text.substr(start, std::min<size_t>(end - start, 200)));
    std::sort(result.begin(), result.end());
    return result;
  };
  std::vector<std::string> a = lines(before), b = lines(after), gone, added;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
  std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
  std::string text;
  for (const std::string& line : gone) text += "- " + line + "\n";
  for (const std::string& line : added) text += "+ " + line + "\n";
  return text;
}

}  // namespace testing
}  // namespace installer
