# The component tests get their checksums from the release engineer's tool.
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
