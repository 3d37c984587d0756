// Test helper: an elevated full-package installer that takes its package. Made at build
// time into full-package installers (tools/make-signing-testdata.sh: this program, the
// test package, and a signed copy), it plays the running installer whose file a standard
// user replaces while it waits:
//   elevated_take_test_helper --ready=<event> --go=<event> --package=<folder>
//                             --destination=<folder> --result=<file> [--components=<value>]
// sets the event <ready>, waits for <go>, takes the package of <folder> (and the components
// <value> names) into <destination> as the elevated hand-over does, with this build's
// signature rule, and
// writes "<rule>\n<outcome>\n" to <result>: "required" or "not required", then "taken" or
// the failure. Asked "--internal-version" alone it answers VELUM_DRIVER_VERSION.
//   elevated_take_test_helper --defaults=<file> --unsigned=<program>
// writes to <file> what the places that take this build's signature rule by default do
// with it: the hand-over's and the folder helper's rule, and whether the unsigned
// <program> is held by the checks without a rule of their own ("held" or "refused").
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/set_folder_permission.h"
#include "desktop/windows/installer/installer_elevation.h"
#include "desktop/windows/installer/package_copy.h"
#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace {

const DWORD kBoundMs = 120000;  // never outlive a test that forgot to signal

bool Answer(const char* variable) {
  char value[256] = {};
  const DWORD length = GetEnvironmentVariableA(variable, value, sizeof(value));
  DWORD written = 0;
  return length < sizeof(value) &&
         WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), value, length, &written, nullptr);
}

std::string Describe(installer::SignatureRule rule) {
  return rule == installer::SignatureRule::kRequired ? "required" : "not required";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--internal-version")
    return Answer("VELUM_DRIVER_VERSION") ? 0 : 2;
  base::CommandLine::Init(0, nullptr);
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("defaults")) {
    const base::FilePath program = command_line.GetSwitchValuePath("unsigned");
    const installer::PackageHandOver hand_over(base::FilePath(), nullptr, nullptr, nullptr);
    base::ScopedHandle hold;
    const bool held = installer::HoldVerifiedProgram(program, &hold);
    hold.Close();
    const bool held_at_final_path = installer::HoldVerifiedProgramAtFinalPath(program, &hold).ok();
    const std::string text =
        "hand-over " + Describe(hand_over.rule()) + "\nfolder helper " +
        Describe(installer::FolderPermissionHelperEnvironment().signature_rule) + "\nhold " +
        (held ? "held" : "refused") + "\nhold at final path " +
        (held_at_final_path ? "held" : "refused") + "\n";
    return base::WriteFile(command_line.GetSwitchValuePath("defaults"), text.data(),
                           static_cast<int>(text.size())) == static_cast<int>(text.size())
               ? 0
               : 4;
  }
  const base::ScopedHandle ready(
      OpenEventW(EVENT_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("ready").c_str()));
  const base::ScopedHandle go(
      OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("go").c_str()));
  if (!ready.IsValid() || !go.IsValid() || !SetEvent(ready.Get()) ||
      WaitForSingleObject(go.Get(), kBoundMs) != WAIT_OBJECT_0) {
    return 3;
  }
  const installer::SignatureRule rule = installer::ThisBuildSignatureRule();
  installer::FullPackageUnpacker unpacker;
  installer::ElevatedPackage taken;
  const base::Result<> result = installer::TakeElevatedPackage(
      command_line.GetSwitchValuePath("package"), command_line.GetSwitchValueNative("components"),
      rule, &unpacker,
      command_line.GetSwitchValuePath("destination"), &taken);
  const std::string text =
      Describe(rule) + "\n" + (result.ok() ? std::string("taken") : base::DescribeFailure(result.failure())) +
      "\n";
  return base::WriteFile(command_line.GetSwitchValuePath("result"), text.data(),
                         static_cast<int>(text.size())) == static_cast<int>(text.size())
             ? 0
             : 4;
}
