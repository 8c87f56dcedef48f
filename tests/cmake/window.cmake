# The progress window's host: a test program that links the program's library
# and resources (the fixtures glob links system libraries only).
add_executable(fw_windowhost ${CMAKE_SOURCE_DIR}/tests/fixtures/windowhost/fw_windowhost.cpp
               ${CMAKE_SOURCE_DIR}/res/fernwick.rc)
target_link_libraries(fw_windowhost PRIVATE fwcore)
if(TARGET e2e_window)
    add_dependencies(e2e_window fw_windowhost)
endif()
