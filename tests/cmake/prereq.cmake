# The host of the prerequisite, engine and language steps: links the program's
# library and resources (the fixtures glob links system libraries only).
add_executable(fw_prereqhost WIN32 ${CMAKE_SOURCE_DIR}/tests/fixtures/prereqhost/fw_prereqhost.cpp
               ${CMAKE_SOURCE_DIR}/res/fernwick.rc)
target_link_libraries(fw_prereqhost PRIVATE fwcore)
if(TARGET e2e_prerequisites)
    add_dependencies(e2e_prerequisites fw_prereqhost)
endif()
