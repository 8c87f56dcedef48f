# Test programs signed by a test certificate authority that only the test
# set-up trusts (bin/signed/): the verification of downloaded installers. The
# installer scenarios put the authority into the prefix's root store and take
# it out again with fw_trust; for the https:// whole runs it is added before
# they start (the system reads the store once per process), removed after.
set(FW_SIGNED_DIR ${CMAKE_BINARY_DIR}/bin/signed)
add_custom_command(
    OUTPUT ${FW_SIGNED_DIR}/ca.der ${FW_SIGNED_DIR}/fw_standin_ms.exe
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/fixtures/signing/sign.sh ${FW_SIGNED_DIR}
            $<TARGET_FILE:fw_standin>
    DEPENDS fw_standin ${CMAKE_SOURCE_DIR}/tests/fixtures/signing/sign.sh
    COMMENT "Signing the test programs with the test authority")
add_custom_target(fw_signed DEPENDS ${FW_SIGNED_DIR}/ca.der)
add_dependencies(e2e_prerequisites fw_signed)
# The whole runs from an https:// server use its certificates.
add_dependencies(e2e_install fw_signed)
target_link_libraries(fw_trust PRIVATE crypt32)

to_wine_path(FW_CA_WIN ${FW_SIGNED_DIR}/ca.der)
add_test(NAME trust.add COMMAND fw_trust add ${FW_CA_WIN})
add_test(NAME trust.remove COMMAND fw_trust remove ${FW_CA_WIN})
set_tests_properties(trust.add PROPERTIES FIXTURES_SETUP test_authority RESOURCE_LOCK machine)
set_tests_properties(trust.remove PROPERTIES FIXTURES_CLEANUP test_authority RESOURCE_LOCK machine)
set_property(TEST e2e_install APPEND PROPERTY FIXTURES_REQUIRED test_authority)
