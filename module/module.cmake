# The PKCS#11 module: the subsystem libraries linked into one shared library that
# exports the 68 C_* functions and the module-wide objects, nothing else.
#
# vok_add_pkcs11_module(<target> <token-kinds source> LIBS <libs...>)
#   The token-kinds source defines vokRegisterTokenKinds; LIBS holds the token kinds.
function(vok_add_pkcs11_module target kinds)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  set(map ${PROJECT_SOURCE_DIR}/module/lib/vokralp11.map)
  add_library(${target} SHARED ${kinds})
  target_link_libraries(${target} PRIVATE vok_core ${ARG_LIBS})
  # The frame and the load hook live in the static core library: pull them in.
  target_link_options(${target} PRIVATE -Wl,-u,C_GetFunctionList -Wl,-u,m_gForceFinal
                      -Wl,--version-script=${map} -Wl,--no-undefined
                      # the function list must hold our functions even when the application
                      # (or a library it loaded first) exports the same names
                      -Wl,-Bsymbolic)
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${map} PREFIX "lib")
endfunction()

vok_add_pkcs11_module(vokralp11 ${CMAKE_CURRENT_SOURCE_DIR}/lib/token_kinds.cpp LIBS vok_token)

# Installed where the card manager's client looks for it first.
include(GNUInstallDirs)
install(TARGETS vokralp11 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
