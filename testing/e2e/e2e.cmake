# End-to-end cases (testing/e2e/e2e.sh): the single-file installer made of a sample
# browser package, run in a copy of a template Wine prefix per case. The samples are made
# at build time in <build>/e2e/sample (version 1.0.100.0) and sample_v2 (1.0.101.0).
set(VELUM_E2E ${CMAKE_BINARY_DIR}/e2e)
set(VELUM_E2E_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/make-sample-package.sh
    ${CMAKE_CURRENT_LIST_DIR}/../test_pkg/make-test-packages.sh
    ${CMAKE_SOURCE_DIR}/tools/make-full-package-installer.sh)
add_custom_command(
  OUTPUT ${VELUM_E2E}/sample/VelumSetup.exe ${VELUM_E2E}/sample_v2/VelumSetup.exe
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make-sample-package.sh
          $<TARGET_FILE:velum_fake_program> $<TARGET_FILE:velum_installer_host>
          ${VELUM_E2E}/sample 60 2000000 1.0.100.0 test_pkg
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make-sample-package.sh
          $<TARGET_FILE:velum_fake_program> $<TARGET_FILE:velum_installer_host>
          ${VELUM_E2E}/sample_v2 60 2000000 1.0.101.0 test_pkg_v2
  DEPENDS velum_fake_program velum_installer_host ${VELUM_E2E_SCRIPTS}
  COMMENT "Making the sample browser packages and their installers")
add_custom_target(velum_e2e_samples ALL
                  DEPENDS ${VELUM_E2E}/sample/VelumSetup.exe ${VELUM_E2E}/sample_v2/VelumSetup.exe)

set(VELUM_E2E_SH ${CMAKE_CURRENT_LIST_DIR}/e2e.sh)
# Each wizard case starts an Xvfb of its own when there is one (e2e.sh).
find_program(VELUM_XVFB Xvfb)
# Each case copies the template prefix (about 0.7 GB, removed when the case passes).
add_test(NAME e2e_template COMMAND bash ${VELUM_E2E_SH} ${CMAKE_BINARY_DIR} template)
set_tests_properties(e2e_template PROPERTIES FIXTURES_SETUP e2e_prefix LABELS e2e)
# The template goes at the end of the run. Waiting for every case, this also puts the cases
# among the tests ctest -j starts first (it orders by COST only among tests that others
# wait for), so the network cases below can start at once.
# It also checks that no process of the run's prefixes is left.
add_test(NAME e2e_template_remove COMMAND bash ${VELUM_E2E_SH} ${CMAKE_BINARY_DIR} end)
set_tests_properties(e2e_template_remove PROPERTIES FIXTURES_CLEANUP e2e_prefix LABELS e2e)
foreach(case full_package_install upgrade_uninstall bad_folder_illegal bad_folder_long
             bad_folder_deep bad_folder_dot bad_folder_drive bad_folder_relative bad_folder_file
             bad_folder_set_aside longest_folder_upgrade_uninstall
             corrupted_payload net_install net_drop_then_success net_5xx_then_success
             net_cut_then_resume net_cuts_at_offsets net_range_ignored net_wrong_checksum net_204
             net_redirect_disallowed net_hostile_filename net_proxy_407 net_version_ignored
             hostile_archive_entry record_names_outside unwritable_folder locked_file_upgrade
             backend_killed wizard_install wizard_keyboard wizard_close_while_installing
             wizard_second_instance wizard_uninstall wizard_enter_in_language_list
             wizard_escape_while_installing_no wizard_escape_while_installing_ends
             wizard_escape_then_yes wizard_unwritable_folder wizard_second_instance_minimized
             wizard_right_to_left wizard_start_after_cancel wizard_keyboard_terms
             wizard_unusable_folder wizard_high_dpi wizard_double_enter wizard_press_after_close
             killed_after_entry killed_during_copy
             killed_during_switch net_redirect_loop net_short_content_length
             net_redirect_unparseable net_held_connection
             net_ftp_package_url net_long_url net_stats_held net_userinfo_fragment net_partner_files
             net_redirect_crash_text net_redirect_long_file net_address_crash_text
             net_backslash_authority net_stats_stall net_stats_header_trickle
             net_relative_location_lt net_relative_location_brace net_relative_location_eacute
             net_relative_location_a2060 net_relative_location_slash_b
             net_relative_location_query_c net_relative_location_a2084
             net_additional_files_bounded
             apps_and_features_uninstall disk_full non_ascii_folder
             percent_folder percent_variable_folder
             killed_with_package launcher_gone lookalike_shared_folder
             uninstall_killed
             kill_matrix_install_note kill_matrix_install_copy kill_matrix_install_shortcut
             kill_matrix_install_record kill_matrix_install_commit
             kill_matrix_upgrade_set_aside kill_matrix_upgrade_copy kill_matrix_upgrade_record
             kill_matrix_upgrade_commit
             kill_matrix_uninstall_set_aside kill_matrix_uninstall_shortcut
             kill_matrix_uninstall_record kill_matrix_uninstall_copy kill_matrix_uninstall_commit
             killed_upgrade_uninstalled refused_uninstall root_folder_cuts
             kept_note_upgrade_uninstalled kept_note_repair_uninstalled
             kept_note_refused_uninstall note_behind_link record_removals_behind_link
             writes_behind_link
             one_run_per_folder snapshot_leaves_out_wine_devices
             note_held_run_refused launcher_cut_uninstalled)
  add_test(NAME e2e_${case} COMMAND bash ${VELUM_E2E_SH} ${CMAKE_BINARY_DIR} ${case})
  set_tests_properties(e2e_${case} PROPERTIES FIXTURES_REQUIRED e2e_prefix LABELS e2e
                       TIMEOUT 300 SKIP_RETURN_CODE 77)
  if(case MATCHES "^wizard_" AND NOT VELUM_XVFB)
    # Without an Xvfb of their own they share the run's display and its one focus.
    set_tests_properties(e2e_${case} PROPERTIES RESOURCE_LOCK velum_display_focus)
  endif()
  if(case MATCHES "^net_")
    # Several of them wait through the fetcher's retries: started first, they wait beside
    # the rest instead of after it.
    set_tests_properties(e2e_${case} PROPERTIES COST 40)
  endif()
endforeach()
