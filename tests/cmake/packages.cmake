# The stand-in system packages Sys_<lang>.msi (tests/fixtures/packages, whose
# README lists the releases), built with wixl into bin/packages/<release>/.
# A sample distribution runs build-packages.sh itself (it needs no CMake).
find_program(FW_WIXL wixl)
if(NOT FW_WIXL)
    message(WARNING "wixl not found: the test packages are not built and the tests that install them fail")
    return()
endif()

set(FW_PACKAGES_DIR ${CMAKE_BINARY_DIR}/bin/packages)
set(FW_PACKAGE_LANGUAGES EN FR DE NL)
string(REPLACE ";" " " _fw_package_langs "${FW_PACKAGE_LANGUAGES}")
set(_fw_package_script ${CMAKE_SOURCE_DIR}/tests/fixtures/packages/build-packages.sh)
set(_fw_package_deps ${_fw_package_script} ${CMAKE_SOURCE_DIR}/tests/fixtures/packages/Sys.wxs)
# The real unzip library when it is part of the build, else a placeholder file.
set(_fw_dunzip "")
if(TARGET fw_release_program)
    set(_fw_dunzip ${CMAKE_BINARY_DIR}/bin/dunzip32.dll)
    list(APPEND _fw_package_deps fw_release_program)
elseif(TARGET dunzip32)
    set(_fw_dunzip $<TARGET_FILE:dunzip32>)
    list(APPEND _fw_package_deps dunzip32)
endif()
# Packages for the architecture the tests install them on: a 32-bit program
# reads the registry view that a 32-bit package writes.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(_fw_package_arch x86)
else()
    set(_fw_package_arch x64)
endif()

# Release 1 (6.1.0), release 2 (6.2.0, upgrades 1) and the 6.2.0 releases
# that behave unlike the plain one.
set(_fw_package_outputs)
foreach(_release 1 2 moved client dotnet failing restart)
    if(_release STREQUAL "1")
        set(_folder 6.1.0)
    elseif(_release STREQUAL "2")
        set(_folder 6.2.0)
    else()
        set(_folder 6.2.0-${_release})
    endif()
    set(_outputs)
    foreach(_lang ${FW_PACKAGE_LANGUAGES})
        list(APPEND _outputs ${FW_PACKAGES_DIR}/${_folder}/Sys_${_lang}.msi)
    endforeach()
    add_custom_command(OUTPUT ${_outputs}
        COMMAND ${CMAKE_COMMAND} -E env "LANGUAGES=${_fw_package_langs}" "PACKAGE_ARCH=${_fw_package_arch}"
                sh ${_fw_package_script} ${FW_PACKAGES_DIR}/${_folder} ${_release} ${_fw_dunzip}
        DEPENDS ${_fw_package_deps}
        COMMENT "Building the test system packages of release ${_folder}"
        VERBATIM)
    list(APPEND _fw_package_outputs ${_outputs})
endforeach()
add_custom_target(fw_test_packages ALL DEPENDS ${_fw_package_outputs})

# Programs that install the packages (the earlier-installation tests: previous.cmake).
if(TARGET test_ProductPackage)
    add_dependencies(test_ProductPackage fw_test_packages)
endif()
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
