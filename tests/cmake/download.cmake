# The loopback HTTP server of the download tests (tests/support/HttpTestServer)
# needs Winsock.
target_link_libraries(fwtestsupport PUBLIC ws2_32)
