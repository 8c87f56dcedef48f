# The whole runs include one on a drive that fills up: a small file system
# mapped as drive S: of the prefix before them and removed after them.
if(TEST e2e_install)
    add_test(NAME e2e.smalldrive.up COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/small-drive.sh up ${CMAKE_BINARY_DIR}/wineprefix)
    add_test(NAME e2e.smalldrive.down COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/small-drive.sh down ${CMAKE_BINARY_DIR}/wineprefix)
    set_tests_properties(e2e.smalldrive.up PROPERTIES FIXTURES_SETUP smalldrive LABELS e2e)
    set_tests_properties(e2e.smalldrive.down PROPERTIES FIXTURES_CLEANUP smalldrive LABELS e2e)
    set_property(TEST e2e_install APPEND PROPERTY FIXTURES_REQUIRED smalldrive)
endif()
