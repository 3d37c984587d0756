#include "desktop/windows/installer/front_end/front_end_controller_test_util.h"

#include <vector>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/test/test_helper_process.h"

namespace installer {
namespace testing {

FrontEndControllerTest::FrontEndControllerTest(base::MessageLoop::Type loop_type)
    : loop_(loop_type) {}

FrontEndControllerTest::~FrontEndControllerTest() = default;

void FrontEndControllerTest::SetUpFrontEnd(FrontEndSystem* system) {
  ASSERT_FALSE(scratch_.path().empty());
  ASSERT_FALSE(temp_.path().empty());
  ASSERT_FALSE(package_scratch_.path().empty());
  install_folder_ = scratch_.path().Append(L"Velum");
  system->own_folder = package_scratch_.path().Append(L"package");
  system->needs_elevation = [](bool, bool) { return false; };
  system->before_windows_7 = [] { return false; };
  system->has_sse2 = [] { return true; };
  ASSERT_TRUE(CopyTestPackage(L"test_pkg", system->own_folder));
  ASSERT_TRUE(base::CopyFile(
      base::FilePath(base::TestExeSibling(L"installer_runner_backend_test_helper.exe")),
      system->own_folder.Append(L"installer.exe")));
  ASSERT_TRUE(user_hive_.active());
  ASSERT_TRUE(hive_variable_.set());
  ASSERT_TRUE(tmp_.set());
  ASSERT_TRUE(temp_variable_.set());
  ASSERT_TRUE(server_.Start()) << server_.error();
}

std::wstring FrontEndControllerTest::StatsServerUrl() const {
  return L"http://localhost:" + std::to_wstring(server_.port()) + L"/";
}

std::unique_ptr<base::Dictionary> FrontEndControllerTest::PostedRecord() {
  std::vector<RecordedRequest> posts = server_.RequestsTo("/netinstaller/feedback");
  if (posts.size() != 1) return nullptr;
  std::unique_ptr<base::Value> value = base::JsonReader::Read(posts[0].body);
  base::Dictionary* dictionary = nullptr;
  if (!value || !value->GetAsDictionary(&dictionary)) return nullptr;
  value.release();
  return std::unique_ptr<base::Dictionary>(dictionary);
}

}  // namespace testing
}  // namespace installer
