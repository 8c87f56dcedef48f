# The whole runs include one on a drive that fills up: a small file system
# mapped as drive S: of the prefix before them and removed after them.
if(TEST e2e_install)
    add_test(NAME e2e.smalldrive.up COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/small-drive.sh up ${CMAKE_BINARY_DIR}/wineprefix)
    add_test(NAME e2e.smalldrive.down COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/small-drive.sh down ${CMAKE_BINARY_DIR}/wineprefix)
    set_tests_properties(e2e.smalldrive.up PROPERTIES FIXTURES_SETUP smalldrive LABELS e2e)
    set_tests_properties(e2e.smalldrive.down PROPERTIES FIXTURES_CLEANUP smalldrive LABELS e2e)
    set_tests_properties(e2e_install PROPERTIES FIXTURES_REQUIRED smalldrive)
endif()
# The whole-run table with its runs again after each fault takes minutes.
if(TEST e2e_install)
    set_tests_properties(e2e_install PROPERTIES TIMEOUT 600)
endif()
