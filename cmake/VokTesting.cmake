# vok_glob_tests(<prefix> LIBS <libs...>)
#   Builds every *_test.cpp of the calling directory into its own test program,
#   linked with GoogleTest, OpenSSL's libcrypto (the tests' oracle) and LIBS, and
#   registers its cases with CTest as <prefix>.<Suite>.<Case>.
#   A file named *_pcsc_test.cpp talks to the real pcscd: its cases get the label
#   "pcsc", need the pcscd fixture and hold the vpcd resource lock.
function(vok_glob_tests prefix)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src IN LISTS sources)
    get_filename_component(stem ${src} NAME_WE)
    vok_add_test(${prefix} ${stem} ${src} LIBS ${ARG_LIBS})
  endforeach()
endfunction()

# vok_add_test(<prefix> <name> <sources...> LIBS <libs...> [LABELS <labels...>])
function(vok_add_test prefix name)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
  set(target test_${prefix}_${name})
  add_executable(${target} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                        OpenSSL::Crypto Threads::Threads)
  target_compile_definitions(${target} PRIVATE VOK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             VOK_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(labels ${prefix} ${ARG_LABELS})
  set(props TIMEOUT 300)
  if(name MATCHES "_pcsc_test$" OR "pcsc" IN_LIST ARG_LABELS OR "clients" IN_LIST ARG_LABELS)
    list(APPEND labels pcsc)
    list(REMOVE_DUPLICATES labels)
    set(props FIXTURES_REQUIRED pcscd RESOURCE_LOCK vpcd TIMEOUT 300)
  endif()
  gtest_discover_tests(${target} TEST_PREFIX "${prefix}." DISCOVERY_MODE PRE_TEST
                       DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  # A list of labels passed through PROPERTIES is split into separate arguments (the
  # first label alone would stick); set them once the tests are discovered instead.
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${labels_file} "if(${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} "
                            "PROPERTIES LABELS \"${labels}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()
