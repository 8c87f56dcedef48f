# The last phases write the product key, the older line's uninstall entry and
# the shortcuts: never at the same time as another test that changes them.
# They unpack with the unzip library and install the archives of the
# component scenarios.
if(TARGET test_PhasesData)
    set_tests_properties(unit.test_PhasesData PROPERTIES RESOURCE_LOCK machine)
    if(TARGET dunzip32)
        add_dependencies(test_PhasesData dunzip32)
    endif()
endif()
