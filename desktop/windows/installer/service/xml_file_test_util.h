// A test fixture for code on the XML service: COM for the test's thread and a scratch
// folder with one file path in it.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_FILE_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_FILE_TEST_UTIL_H_

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/files/scratch_dir_test_util.h"

namespace installer {

class XmlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_FALSE(scratch_.path().empty());
    path_ = scratch_.path().Append(L"installation_status.xml");
  }
  void TearDown() override { CoUninitialize(); }

  base::ScratchDir scratch_;
  base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_FILE_TEST_UTIL_H_
