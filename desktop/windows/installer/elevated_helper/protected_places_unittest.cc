#include "desktop/windows/installer/elevated_helper/protected_places.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"
#include "desktop/windows/installer/elevated_helper/root_scratch_test_util.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kMachineEnvironment[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kLoggedOn[] = L"S-1-5-21-7-7-7-1001";
const wchar_t kAway[] = L"S-1-5-21-7-7-7-1002";
const wchar_t kNoHive[] = L"S-1-5-21-7-7-7-1003";

// Opens, for a profile's hive file, a test's key in its place (Wine loads no hive file).
class FakeHiveOpener : public ProfileHiveOpener {
 public:
  LONG Open(const std::wstring& sid, const base::FilePath& hive_file,
            base::ScopedHKEY* hive) const override {
    opened.push_back(sid);
    files.push_back(hive_file);
    const auto found = hives.find(sid);
    if (found == hives.end()) return error;
    return RegOpenKeyExW(HKEY_CURRENT_USER, found->second.c_str(), 0, KEY_READ, hive->Receive());
  }

  std::map<std::wstring, std::wstring> hives;  // sid to a key under HKEY_CURRENT_USER
  LONG error = ERROR_FILE_NOT_FOUND;
  mutable std::vector<std::wstring> opened;
  mutable std::vector<base::FilePath> files;
};

// A machine of the test's own: its profile list and environment, its loaded hives, and the
// hives of users not logged on, each a scratch key.
class ProtectedPlacesTest : public RootScratchTest {
 protected:
  void SetUp() override {
    RootScratchTest::SetUp();
    ASSERT_FALSE(machine_.path().empty() || users_.path().empty() || hives_.path().empty());
    for (const wchar_t* sid : {kLoggedOn, kAway, kNoHive}) {
      SetString(machine_, std::wstring(kProfileList) + L"\\" + sid, L"ProfileImagePath",
                Path(L"profiles").Append(sid).value());
    }
    // The entry Windows leaves beside a profile it once could not load.
    SetString(machine_, std::wstring(kProfileList) + L"\\" + kLoggedOn + L".bak",
              L"ProfileImagePath", Path(L"profiles").Append(kLoggedOn).value());
    SetString(users_, std::wstring(kLoggedOn) + L"\\Environment", L"Path",
              Path(L"logged-on tools").value());
    opener_.hives[kAway] = hives_.path();
  }

  static void SetString(const testing::ScratchRegistryKey& key, const std::wstring& path,
                        const wchar_t* name, const std::wstring& value,
                        DWORD type = REG_EXPAND_SZ) {
    ASSERT_TRUE(testing::WriteRegistryValue(
        HKEY_CURRENT_USER, key.Child(path), 0, name, type, value.c_str(),
        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
  }
  static void SetNumber(const testing::ScratchRegistryKey& key, const std::wstring& path,
                        const wchar_t* name) {
    const DWORD number = 1;
    ASSERT_TRUE(testing::WriteRegistryValue(HKEY_CURRENT_USER, key.Child(path), 0, name,
                                            REG_DWORD, &number, sizeof(number)));
  }

  base::Result<std::vector<ProtectedPlace>> List() {
    base::RegistryKey machine(HKEY_CURRENT_USER, machine_.path().c_str(), KEY_READ);
    base::RegistryKey users(HKEY_CURRENT_USER, users_.path().c_str(), KEY_READ);
    EXPECT_TRUE(machine.Valid() && users.Valid());
    PlaceSources sources;
    sources.machine = machine.Handle();
    sources.users = users.Handle();
    sources.hive_opener = &opener_;
    return ListProtectedPlaces(nullptr, sources);
  }

  static bool Holds(const std::vector<ProtectedPlace>& places, const base::FilePath& path) {
    for (const ProtectedPlace& place : places) {
      if (IsSameOrUnder(place.path, path) && IsSameOrUnder(path, place.path)) return true;
    }
    return false;
  }

  testing::ScratchRegistryKey machine_;
  testing::ScratchRegistryKey users_;
  testing::ScratchRegistryKey hives_;
  FakeHiveOpener opener_;
};

// The machine's PATH, the loaded hives and the hives of users who are not logged on are
// all read: a new folder in such a user's redirected documents is refused.
TEST_F(ProtectedPlacesTest, EveryUsersHiveAndTheMachinePathAreRead) {
  SetString(machine_, kMachineEnvironment, L"Path",
            Path(L"machine tools").value() + L";\"" + Path(L"q;d").value() + L"\"");
  SetString(hives_, kShellFolders, L"Personal", L"%USERPROFILE%\\..\\..\\away-docs\\Documents");
  // The variable in any case is that user's profile, never this process's.
  SetString(hives_, kShellFolders, L"AppData", L"%userProfile%\\..\\..\\away-data");
  for (const wchar_t* name : {L"ProfilesDirectory", L"Default", L"Public", L"ProgramData"})
    SetString(machine_, kProfileList, name, Path(name).value());
  const base::Result<std::vector<ProtectedPlace>> places = List();
  ASSERT_TRUE(places.ok()) << places.failure().text;
  for (const base::FilePath& path :
       {Path(L"machine tools"), Path(L"q;d"), Path(L"logged-on tools"),
        Path(L"profiles").Append(kLoggedOn), Path(L"profiles").Append(kAway),
        Path(L"away-docs\\Documents"), Path(L"away-data"), Path(L"ProfilesDirectory"),
        Path(L"Default"), Path(L"Public"), Path(L"ProgramData")}) {
    EXPECT_TRUE(Holds(places.value(), path)) << path.AsUTF8();
  }
  EXPECT_FALSE(Holds(places.value(), Path(L"q")));
  // Only the profiles whose hives are not loaded are read from their files (a loaded
  // hive's file is locked).
  ASSERT_EQ((std::vector<std::wstring>{kAway, kNoHive}), opener_.opened);
  EXPECT_EQ(Path(L"profiles").Append(kAway).Append(L"NTUSER.DAT"), opener_.files.front());
  const base::Result<> place = CheckGrantablePlace(
      Path(L"away-docs\\Documents\\WindowsPowerShell"), places.value());
  ASSERT_FALSE(place.ok());
  EXPECT_EQ("it lies in the protected folder " + Path(L"away-docs\\Documents").AsUTF8(),
            place.failure().text);
}

// A place that cannot be read still refuses every grant, and the reason says which hive,
// key and value (or which hive file) it was.
TEST_F(ProtectedPlacesTest, UnreadablePlaceNamesItsHiveAndValue) {
  const std::wstring hive_file = Path(L"profiles").Append(kAway).Append(L"NTUSER.DAT").value();
  const struct {
    const char* name;
    std::function<void()> spoil;
    std::wstring what;
    DWORD error;
  } cases[] = {
      {"a loaded hive's shell folder",
       [&] { SetNumber(users_, std::wstring(kLoggedOn) + L"\\" + kShellFolders, L"Templates"); },
       std::wstring(L"HKEY_USERS\\") + kLoggedOn + L"\\" + kShellFolders + L"\\Templates",
       ERROR_CANTREAD},
      {"a hive file's PATH", [&] { SetNumber(hives_, L"Environment", L"Path"); },
       hive_file + L"\\Environment\\Path", ERROR_CANTREAD},
      {"the machine's PATH", [&] { SetNumber(machine_, kMachineEnvironment, L"Path"); },
       std::wstring(L"HKEY_LOCAL_MACHINE\\") + kMachineEnvironment + L"\\Path", ERROR_CANTREAD},
      {"a hive file that cannot be loaded", [&] { opener_.error = ERROR_SHARING_VIOLATION; },
       Path(L"profiles").Append(kNoHive).Append(L"NTUSER.DAT").value(), ERROR_SHARING_VIOLATION},
      {"a hive file's shell folders key",
       [&] {
         opener_.error = ERROR_FILE_NOT_FOUND;
         SetString(hives_, kShellFolders, L"Personal", Path(L"docs").value());
         ASSERT_TRUE(testing::DenyCurrentUser(HKEY_CURRENT_USER, hives_.Child(kShellFolders), 0,
                                              KEY_READ));
       },
       hive_file + L"\\" + kShellFolders, ERROR_ACCESS_DENIED},
      // Last: the key stays unreadable.
      {"a loaded hive's environment key",
       [&] {
         ASSERT_TRUE(testing::DenyCurrentUser(
             HKEY_CURRENT_USER, users_.Child(std::wstring(kLoggedOn) + L"\\Environment"), 0,
             KEY_READ));
       },
       std::wstring(L"HKEY_USERS\\") + kLoggedOn + L"\\Environment", ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    c.spoil();
    const base::Result<std::vector<ProtectedPlace>> places = List();
    ASSERT_FALSE(places.ok()) << c.name;
    EXPECT_EQ("a protected place cannot be read: " + base::FilePath(c.what).AsUTF8(),
              places.failure().text)
        << c.name;
    EXPECT_EQ(c.error, places.failure().error) << c.name;
    // Mended for the next case.
    users_.DeleteTree(HKEY_CURRENT_USER, users_.Child(std::wstring(kLoggedOn) + L"\\Software"), 0);
    hives_.DeleteTree(HKEY_CURRENT_USER, hives_.Child(L"Environment"), 0);
    hives_.DeleteTree(HKEY_CURRENT_USER, hives_.Child(L"Software"), 0);
    machine_.DeleteTree(HKEY_CURRENT_USER, machine_.Child(L"SYSTEM"), 0);
  }
}

// PATH entries as cmd reads them: a ";" inside quotes belongs to the entry, the quotes go.
TEST_F(ProtectedPlacesTest, SearchPathIsReadAsCmdReadsIt) {
  const std::wstring root = root_.value();
  const struct {
    std::wstring value;
    std::vector<std::wstring> places;  // relative to root_
  } cases[] = {
      {L"\"" + root + L"\\Tools\\q;d\"", {L"Tools\\q;d"}},
      {root + L"\\a;\"" + root + L"\\b;c\";" + root + L"\\d", {L"a", L"b;c", L"d"}},
      {root + L"\\x\"y;z\"w", {L"xy;zw"}},
      {L"\"" + root + L"\\open;ended", {L"open;ended"}},
      {L";;\"\";relative;" + root + L"\\e;", {L"e"}},
  };
  for (const auto& c : cases) {
    std::vector<ProtectedPlace> places;
    AddSearchPathPlaces(c.value, &places);
    std::vector<std::wstring> found;
    for (const ProtectedPlace& place : places) {
      EXPECT_TRUE(IsSameOrUnder(place.path, root_)) << place.path.AsUTF8();
      found.push_back(place.path.value().substr(std::min(place.path.value().size(),
                                                         root.size() + 1)));
    }
    EXPECT_EQ(c.places, found) << base::FilePath(c.value).AsUTF8();
  }
}

}  // namespace
}  // namespace installer
