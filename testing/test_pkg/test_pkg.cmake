# The test browser packages, made at build time next to the test EXEs in
# bin/test_packages/: "test_pkg", "test_pkg_v2" (a later version) and "components".
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
add_custom_target(velum_test_packages ALL DEPENDS ${VELUM_TEST_PACKAGES}/.complete)
foreach(t ${VELUM_TEST_EXES})
  add_dependencies(${t} velum_test_packages)
endforeach()
