# The certificate dialog and the signed translation loader, with their
# resources: the images, the catalogues viewer_cs and viewer_en (compiled by
# lrelease and signed at build time with the development key described in
# signing/README.md) and the public key that checks the signatures.
target_sources(vok_certview PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/crypto_tool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/translation_loader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x509_viewer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x509_viewer.ui)
target_link_libraries(vok_certview PUBLIC Qt6::Core Qt6::Gui Qt6::Widgets OpenSSL::Crypto)

find_program(VOK_OPENSSL_TOOL openssl REQUIRED)
set(viewer_dir ${CMAKE_CURRENT_LIST_DIR})
set(viewer_key ${viewer_dir}/signing/viewer_dev_key.pem)
set(viewer_resources)
foreach(lang cs en)
  set(ts ${viewer_dir}/resources/translations/viewer_${lang}.ts)
  set(qm ${CMAKE_CURRENT_BINARY_DIR}/viewer_${lang}.qm)
  set(sn ${CMAKE_CURRENT_BINARY_DIR}/viewer_${lang}.sn)
  add_custom_command(OUTPUT ${qm}
    COMMAND Qt6::lrelease -silent ${ts} -qm ${qm}
    DEPENDS ${ts} VERBATIM)
  add_custom_command(OUTPUT ${sn}
    COMMAND ${VOK_OPENSSL_TOOL} dgst -sha256 -sign ${viewer_key} -out ${sn} ${qm}
    DEPENDS ${qm} ${viewer_key} VERBATIM)
  set_source_files_properties(${qm} PROPERTIES QT_RESOURCE_ALIAS translation/viewer_${lang})
  set_source_files_properties(${sn} PROPERTIES QT_RESOURCE_ALIAS translation/sign/viewer_${lang})
  list(APPEND viewer_resources ${qm} ${sn})
  install(FILES ${qm} DESTINATION share/vtorix-cm-nivalo/translations)
endforeach()
foreach(image cert_small general person ok key star text ex_critical ex_noncritical warning)
  set(png ${viewer_dir}/resources/images/${image}.png)
  set_source_files_properties(${png} PROPERTIES QT_RESOURCE_ALIAS image/${image})
  list(APPEND viewer_resources ${png})
endforeach()
set(pubkey ${viewer_dir}/resources/security/pubkey.pem)
set_source_files_properties(${pubkey} PROPERTIES QT_RESOURCE_ALIAS security/pubkey)
list(APPEND viewer_resources ${pubkey})
qt_add_resources(vok_certview vok_certview_viewer PREFIX "/" FILES ${viewer_resources})
