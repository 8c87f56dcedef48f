# The stand-in system packages Sys_<lang>.msi (tests/fixtures/packages), built
# with wixl into the build tree:
#   bin/packages/6.1.0/Sys_{EN,FR,DE,NL}.msi   release 1, product code {12345678-5A1E-...}
#   bin/packages/6.2.0/Sys_{EN,FR,DE,NL}.msi   release 2, product code {23456789-5A1E-...},
#                                              upgrades release 1
#   bin/packages/6.2.0-<variant>/Sys_{EN,FR,DE,NL}.msi   the variants moved,
#                                              client, dotnet, failing, restart
# FW_PACKAGES_DIR names bin/packages for other fragments. A sample distribution
# runs tests/fixtures/packages/build-packages.sh itself (it needs no CMake).
find_program(FW_WIXL wixl)
if(NOT FW_WIXL)
    message(WARNING "wixl not found: the test packages are not built and the tests that install them fail")
    return()
endif()

set(FW_PACKAGES_DIR ${CMAKE_BINARY_DIR}/bin/packages)
set(FW_PACKAGE_LANGUAGES EN FR DE NL)
set(_fw_package_script ${CMAKE_SOURCE_DIR}/tests/fixtures/packages/build-packages.sh)
set(_fw_package_deps ${_fw_package_script} ${CMAKE_SOURCE_DIR}/tests/fixtures/packages/Sys.wxs)
# The real unzip library when it is part of the build, else a placeholder file.
set(_fw_dunzip "")
if(TARGET dunzip32)
    set(_fw_dunzip $<TARGET_FILE:dunzip32>)
    list(APPEND _fw_package_deps dunzip32)
endif()

set(_fw_package_outputs)
foreach(_release 1 2)
    if(_release EQUAL 1)
        set(_version 6.1.0)
    else()
        set(_version 6.2.0)
    endif()
    set(_outputs)
    foreach(_lang ${FW_PACKAGE_LANGUAGES})
        list(APPEND _outputs ${FW_PACKAGES_DIR}/${_version}/Sys_${_lang}.msi)
    endforeach()
    string(REPLACE ";" " " _langs "${FW_PACKAGE_LANGUAGES}")
    add_custom_command(OUTPUT ${_outputs}
        COMMAND ${CMAKE_COMMAND} -E env "LANGUAGES=${_langs}"
                sh ${_fw_package_script} ${FW_PACKAGES_DIR}/${_version} ${_release} ${_fw_dunzip}
        DEPENDS ${_fw_package_deps}
        COMMENT "Building the test system packages of release ${_version}"
        VERBATIM)
    list(APPEND _fw_package_outputs ${_outputs})
endforeach()
# The 6.2.0 releases that behave unlike the plain one.
foreach(_variant moved client dotnet failing restart)
    set(_outputs)
    foreach(_lang ${FW_PACKAGE_LANGUAGES})
        list(APPEND _outputs ${FW_PACKAGES_DIR}/6.2.0-${_variant}/Sys_${_lang}.msi)
    endforeach()
    string(REPLACE ";" " " _langs "${FW_PACKAGE_LANGUAGES}")
    add_custom_command(OUTPUT ${_outputs}
        COMMAND ${CMAKE_COMMAND} -E env "LANGUAGES=${_langs}"
                sh ${_fw_package_script} ${FW_PACKAGES_DIR}/6.2.0-${_variant} ${_variant} ${_fw_dunzip}
        DEPENDS ${_fw_package_deps}
        COMMENT "Building the test system packages of release 6.2.0 (${_variant})"
        VERBATIM)
    list(APPEND _fw_package_outputs ${_outputs})
endforeach()
add_custom_target(fw_test_packages ALL DEPENDS ${_fw_package_outputs})

# Test programs that install the packages.
foreach(_target test_CMSI test_ProductPackage)
    if(TARGET ${_target})
        add_dependencies(${_target} fw_test_packages)
    endif()
endforeach()
foreach(_src ${E2E_TESTS})
    get_filename_component(_name ${_src} NAME_WE)
    if(TARGET ${_name})
        add_dependencies(${_name} fw_test_packages)
    endif()
endforeach()
# Installing a package changes machine-wide state (the product key, the
# installer's records, InstallerLocation during the fallback test): never at
# the same time as another such test.
foreach(_test unit.test_CMSI unit.test_ProductPackage)
    if(TEST ${_test})
        set_tests_properties(${_test} PROPERTIES RESOURCE_LOCK machine)
    endif()
endforeach()
