# The earlier-installation tests build their machine states with the test
# packages and change machine-wide state (product key, installer records,
# shortcuts): never at the same time as another such test.
foreach(_target test_PreviousInstallation test_Migration)
    if(TARGET ${_target})
        if(TARGET fw_test_packages)
            add_dependencies(${_target} fw_test_packages)
        endif()
        set_tests_properties(unit.${_target} PROPERTIES RESOURCE_LOCK machine)
    endif()
endforeach()
