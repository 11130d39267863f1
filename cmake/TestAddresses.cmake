# The loopback addresses the tests' and benchmarks' sites listen on, all in one table.
# Build trees whose tests may run at the same time (linux and linux-asan) use different
# first two octets; within a tree each group has a third octet of its own, so no two groups
# meet, and none meets a content site started by hand on 127.0.0.1. The integration
# executables count up from .11 (tests/CMakeLists.txt).
set(VELMORA_TEST_NET "127.77" CACHE STRING "Loopback /16 for test sites (127.x)")
if(NOT VELMORA_TEST_NET MATCHES "^127\\.[0-9]+$")
    message(FATAL_ERROR "VELMORA_TEST_NET must look like 127.N, got '${VELMORA_TEST_NET}'")
endif()
set(VELMORA_FIRST_INTEGRATION_TEST_OCTET 11)
set(VELMORA_WINDOWS_TEST_HOST ${VELMORA_TEST_NET}.200.1)
set(VELMORA_GUI_TEST_HOST ${VELMORA_TEST_NET}.201.1)
set(VELMORA_FETCH_BENCH_HOST ${VELMORA_TEST_NET}.202.1)
set(VELMORA_FIRST_FRAME_BENCH_HOST ${VELMORA_TEST_NET}.203.1)
set(VELMORA_PACKAGES_TEST_HOST ${VELMORA_TEST_NET}.204.1)
set(VELMORA_PUBLIC_TEST_HOST ${VELMORA_TEST_NET}.205.1)
