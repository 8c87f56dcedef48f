# The loopback HTTP server of the download tests (tests/support/HttpTestServer)
# needs Winsock.
target_link_libraries(fwtestsupport PUBLIC ws2_32)

# The download tests look into the Internet cache themselves.
if(TARGET test_CDownloadManager)
    target_link_libraries(test_CDownloadManager PRIVATE wininet)
endif()
