# Third-party libraries, found once for the whole tree.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

# PKCS#11 types and constants come from p11-kit's header.
pkg_check_modules(P11KIT REQUIRED IMPORTED_TARGET p11-kit-1)

# PC/SC
pkg_check_modules(PCSC REQUIRED IMPORTED_TARGET libpcsclite)

# mbed TLS 2.28 (Debian ships no CMake or pkg-config files for it)
find_path(MBEDTLS_INCLUDE_DIR mbedtls/version.h REQUIRED)
find_library(MBEDCRYPTO_LIBRARY mbedcrypto REQUIRED)
add_library(vok_mbedcrypto INTERFACE)
target_include_directories(vok_mbedcrypto INTERFACE ${MBEDTLS_INCLUDE_DIR})
target_link_libraries(vok_mbedcrypto INTERFACE ${MBEDCRYPTO_LIBRARY})

# OpenSSL: the card simulator, the card manager and the tests' independent oracle
find_package(OpenSSL REQUIRED)

if(VOK_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(VOK_BUILD_BENCH)
  find_package(benchmark QUIET)
endif()
