# The test browser packages, made at build time next to the test EXEs in
# bin/test_packages/: "test_pkg", "test_pkg_v2" (a later version) and "components"; then
# "test_pkg_full" (test_pkg with its installer) and the full-package installer carrying it,
# "test_pkg_full_installer.exe", for the net installer's downloads.
# desktop/windows/installer/test_package_test_util.h finds them from a test.
set(VELUM_TEST_PACKAGES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/test_packages)

add_executable(velum_fake_program ${CMAKE_CURRENT_LIST_DIR}/fake_program.cc)
target_link_libraries(velum_fake_program PRIVATE velum_defaults)
target_link_options(velum_fake_program PRIVATE -municode)
set_target_properties(velum_fake_program PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fake_program)

add_custom_command(
  OUTPUT ${VELUM_TEST_PACKAGES}/.complete
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make-test-packages.sh
          $<TARGET_FILE:velum_fake_program> ${VELUM_TEST_PACKAGES}
  DEPENDS velum_fake_program ${CMAKE_CURRENT_LIST_DIR}/make-test-packages.sh
  COMMENT "Making the test browser packages")
add_custom_command(
  OUTPUT ${VELUM_TEST_PACKAGES}/test_pkg_full_installer.exe
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make-full-test-package.sh ${VELUM_TEST_PACKAGES}
          $<TARGET_FILE:package_stub_test_helper>
          $<TARGET_FILE:installer_runner_backend_test_helper>
          ${CMAKE_SOURCE_DIR}/tools/make-full-package-installer.sh
  DEPENDS ${VELUM_TEST_PACKAGES}/.complete package_stub_test_helper
          installer_runner_backend_test_helper ${CMAKE_CURRENT_LIST_DIR}/make-full-test-package.sh
          ${CMAKE_SOURCE_DIR}/tools/make-full-package-installer.sh
  COMMENT "Making the full test package and its installer")
add_custom_target(velum_test_packages ALL DEPENDS ${VELUM_TEST_PACKAGES}/.complete
                  ${VELUM_TEST_PACKAGES}/test_pkg_full_installer.exe)
foreach(t ${VELUM_TEST_EXES})
  add_dependencies(${t} velum_test_packages)
endforeach()
