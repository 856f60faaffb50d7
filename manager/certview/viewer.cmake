# The certificate dialog and the signed translation loader, with their
# resources: the images, the catalogues viewer_cs and viewer_en (compiled by
# lrelease and signed at build time with the development key described in
# signing/README.md) and the public key that checks the signatures. The English
# catalogue is written from the Czech one at build time (source text for text).
# Their sources come with the directory's glob; the form is compiled by uic.
target_sources(vok_certview PRIVATE ${CMAKE_CURRENT_LIST_DIR}/x509_viewer.ui)
target_link_libraries(vok_certview PUBLIC Qt6::Widgets)

find_program(VOK_OPENSSL_TOOL openssl REQUIRED)
set(viewer_dir ${CMAKE_CURRENT_LIST_DIR})
set(viewer_key ${viewer_dir}/signing/viewer_dev_key.pem)
set(viewer_resources)
set(czech_ts ${viewer_dir}/translations/viewer_cs.ts)
set(english_ts ${CMAKE_CURRENT_BINARY_DIR}/viewer_en.ts)
add_custom_command(OUTPUT ${english_ts}
  COMMAND ${CMAKE_COMMAND} -DCZECH=${czech_ts} -DENGLISH=${english_ts}
          -P ${viewer_dir}/translations/english_catalogue.cmake
  DEPENDS ${czech_ts} ${viewer_dir}/translations/english_catalogue.cmake VERBATIM)
foreach(lang cs en)
  set(ts ${czech_ts})
  if(lang STREQUAL "en")
    set(ts ${english_ts})
  endif()
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
# The base-field icons are in certview.qrc with the templates.
foreach(image general star text ex_critical ex_noncritical warning)
  set(png ${viewer_dir}/image/${image}.png)
  set_source_files_properties(${png} PROPERTIES QT_RESOURCE_ALIAS image/${image})
  list(APPEND viewer_resources ${png})
endforeach()
set(pubkey ${viewer_dir}/security/pubkey.pem)
set_source_files_properties(${pubkey} PROPERTIES QT_RESOURCE_ALIAS security/pubkey)
list(APPEND viewer_resources ${pubkey})
qt_add_resources(vok_certview vok_certview_viewer PREFIX "/" FILES ${viewer_resources})
