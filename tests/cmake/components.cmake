# The component scenarios install real zip archives (made here at configure
# time) and get their checksums from the release engineer's tool.
set(FW_COMPONENT_ZIPS ${CMAKE_BINARY_DIR}/componentzips)
file(MAKE_DIRECTORY ${FW_COMPONENT_ZIPS}/in)
file(WRITE ${FW_COMPONENT_ZIPS}/in/readme.txt "Read me first.\r\n")
file(WRITE ${FW_COMPONENT_ZIPS}/in/data.mdb "A database of the member state.\r\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ../readme.txt.zip --format=zip readme.txt
                WORKING_DIRECTORY ${FW_COMPONENT_ZIPS}/in)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ../data.mdb.zsi --format=zip data.mdb
                WORKING_DIRECTORY ${FW_COMPONENT_ZIPS}/in)
# The last phases write the product key, the older line's uninstall entry and
# the shortcuts: never at the same time as another test that changes them.
# They unpack with the unzip library.
if(TARGET test_Components)
    add_dependencies(test_Components fwchecksums)
    set_tests_properties(unit.test_Components PROPERTIES RESOURCE_LOCK machine)
    if(TARGET dunzip32)
        add_dependencies(test_Components dunzip32)
    endif()
endif()
