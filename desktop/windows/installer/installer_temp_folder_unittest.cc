#include "desktop/windows/installer/installer_temp_folder.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/path_service.h"
#include "base/test/test_helper_process.h"

namespace installer {
namespace {

const wchar_t kFolderName[] = L"Velum Installer";
const wchar_t kProbe[] = L"installer_temp_folder_test_helper.exe";

class InstallerTempFolderTest : public base::ScratchDirTest {
 protected:
  base::FilePath Probe() const { return base::FilePath(base::TestExeSibling(kProbe)); }
  // A base whose installer folder exists but cannot take the probe: a folder stands
  // where the copy would go, as when a policy keeps programs from there.
  base::FilePath BlockedBase(const wchar_t* name) {
    const base::FilePath base = Path(name);
    EXPECT_TRUE(base::CreateDirectory(base.Append(kFolderName).Append(kProbe)));
    return base;
  }
  // A base under which no folder can be made: it is a file.
  base::FilePath FileBase(const wchar_t* name) { return Write(name, "not a folder"); }
};

// Each base is tried in turn; the first that takes the folder and runs the probe wins.
TEST_F(InstallerTempFolderTest, FallbackOrderAsBasesBecomeUnusable) {
  std::vector<base::FilePath> bases;
  for (const wchar_t* name : {L"temp", L"downloads", L"profile", L"exe"}) {
    bases.push_back(Path(name));
    ASSERT_TRUE(base::CreateDirectory(bases.back()));
  }
  for (size_t unusable = 0; unusable < bases.size(); ++unusable) {
    SCOPED_TRACE(unusable);
    std::vector<base::FilePath> tried = bases;
    for (size_t i = 0; i < unusable; ++i) {
      // Alternate the two ways a base fails.
      tried[i] = i % 2 ? FileBase((L"file" + std::to_wstring(unusable) + L"_" +
                                   std::to_wstring(i)).c_str())
                       : BlockedBase((L"blocked" + std::to_wstring(unusable) + L"_" +
                                      std::to_wstring(i)).c_str());
    }
    base::FilePath folder;
    ASSERT_TRUE(ObtainInstallerTempFolderFrom(tried, base::FilePath(kFolderName), Probe(),
                                              &folder));
    EXPECT_EQ(bases[unusable].Append(kFolderName), folder);
    // The probe ran there with "--version" and its copy is gone.
    std::string arguments;
    ASSERT_TRUE(base::ReadFileToString(folder.Append(L"probe_ran.txt"), &arguments));
    EXPECT_EQ("--version ", arguments);
    EXPECT_FALSE(base::PathExists(folder.Append(kProbe)));
    // A blocked folder is not empty, so it stays.
    if (unusable > 0) {
      EXPECT_TRUE(base::DirectoryExists(tried[0].Append(kFolderName)));
    }
    ASSERT_TRUE(base::DeleteFile(folder, true));
  }
  base::FilePath folder;
  EXPECT_FALSE(ObtainInstallerTempFolderFrom({FileBase(L"f1"), BlockedBase(L"b1")},
                                             base::FilePath(kFolderName), Probe(), &folder));
}

// The probe is the installer itself with its package appended: only the image is copied,
// and that copy runs. A file that is no image is copied whole.
TEST_F(InstallerTempFolderTest, ProbeCopiesOnlyTheImage) {
  std::string image;
  ASSERT_TRUE(base::ReadFileToString(Probe(), &image));
  const std::string payload(3 * 1024 * 1024 + 5, 'p');
  const base::FilePath with_payload = Write(L"probe.exe", image + payload);
  const base::FilePath copy = Path(L"copy.exe");
  ASSERT_TRUE(CopyExecutableImage(with_payload, copy));
  std::string copied;
  ASSERT_TRUE(base::ReadFileToString(copy, &copied));
  // The helper may carry its symbols after the sections: those are left out too.
  ASSERT_LE(copied.size(), image.size());
  EXPECT_TRUE(image.compare(0, copied.size(), copied) == 0);

  base::FilePath folder;
  ASSERT_TRUE(ObtainInstallerTempFolderFrom({Path(L"temp")}, base::FilePath(kFolderName),
                                            with_payload, &folder));
  std::string arguments;
  ASSERT_TRUE(base::ReadFileToString(folder.Append(L"probe_ran.txt"), &arguments));
  EXPECT_EQ("--version ", arguments);

  for (const std::string& other : {std::string("MZ not an image") + payload,
                                   image.substr(0, 1024)}) {
    const base::FilePath source = Write(L"other.bin", other);
    ASSERT_TRUE(CopyExecutableImage(source, copy));
    ASSERT_TRUE(base::ReadFileToString(copy, &copied));
    EXPECT_EQ(other.size(), copied.size());
  }
}

TEST_F(InstallerTempFolderTest, FolderMadeForAFailedProbeIsRemoved) {
  const base::FilePath missing_probe = Path(L"no_such_program.exe");
  base::FilePath folder;
  EXPECT_FALSE(ObtainInstallerTempFolderFrom({Path(L"a"), Path(L"b")},
                                             base::FilePath(kFolderName), missing_probe,
                                             &folder));
  EXPECT_TRUE(folder.empty());
  EXPECT_FALSE(base::PathExists(Path(L"a").Append(kFolderName)));
  EXPECT_FALSE(base::PathExists(Path(L"b").Append(kFolderName)));
}

TEST_F(InstallerTempFolderTest, ExistingFolderIsReusedWithItsFiles) {
  const base::FilePath existing = Path(L"temp").Append(kFolderName);
  ASSERT_TRUE(base::CreateDirectory(existing));
  Write(L"temp\\Velum Installer\\earlier.log", "kept");
  for (const base::FilePath& probe : {base::FilePath(), Probe()}) {
    base::FilePath folder;
    ASSERT_TRUE(ObtainInstallerTempFolderFrom({Path(L"temp")}, base::FilePath(kFolderName),
                                              probe, &folder));
    EXPECT_EQ(existing, folder);
    EXPECT_TRUE(base::PathExists(existing.Append(L"earlier.log")));
  }
}

// The bases come from the path keys, with the Downloads folder between the temporary
// folder and the profile when the system names one.
TEST_F(InstallerTempFolderTest, BasesFollowThePathKeys) {
  base::FilePath saved_temp, saved_home, saved_exe;
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_TEMP, &saved_temp));
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_HOME, &saved_home));
  ASSERT_TRUE(base::PathRegistry::Get(base::DIR_EXE, &saved_exe));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_TEMP, Path(L"t"), true, true));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_HOME, Path(L"h"), true, true));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_EXE, Path(L"e"), true, true));

  const std::vector<base::FilePath> bases = GetInstallerTempFolderBases();
  base::FilePath under_home;
  const bool got_under_home = ObtainInstallerTempFolderUnder(
      base::FilePath(kFolderName), base::FilePath(), &under_home, base::DIR_HOME);
  base::FilePath first;
  const bool got_first =
      ObtainInstallerTempFolder(base::FilePath(kFolderName), base::FilePath(), &first);

  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_TEMP, saved_temp, true, false));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_HOME, saved_home, true, false));
  ASSERT_TRUE(base::PathRegistry::Override(base::DIR_EXE, saved_exe, true, false));

  ASSERT_GE(bases.size(), 3u);
  ASSERT_LE(bases.size(), 4u);
  EXPECT_EQ(Path(L"t"), bases.front());
  EXPECT_EQ(Path(L"h"), bases[bases.size() - 2]);
  EXPECT_EQ(Path(L"e"), bases.back());
  EXPECT_TRUE(got_under_home);
  EXPECT_EQ(Path(L"h").Append(kFolderName), under_home);
  // Without a probe the temporary folder wins whenever the folder can be made there.
  EXPECT_TRUE(got_first);
  EXPECT_EQ(Path(L"t").Append(kFolderName), first);
}

}  // namespace
}  // namespace installer
