# A library that records being loaded, planted by the security scenarios
# under the names of tests/fixtures/planted/libraries.txt.
add_library(fw_planted SHARED ${CMAKE_SOURCE_DIR}/tests/fixtures/planted/planted.c)
set_target_properties(fw_planted PROPERTIES PREFIX "" OUTPUT_NAME planted)
list(APPEND FIXTURE_TARGETS fw_planted)
foreach(e2e ${E2E_TESTS})
    get_filename_component(name ${e2e} NAME_WE)
    add_dependencies(${name} fw_planted)
endforeach()
