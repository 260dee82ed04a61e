# Packages: a Debian package of the Linux build (the updater, the web farm and a
# hardened systemd unit) and a zip of the Windows build with an install note.
# Made with "cpack" in a build tree (./dev package).
set(CPACK_PACKAGE_NAME "inkoraupdater")
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Inkora maintainers <maintainers@inkora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Update manager of the Inkora product")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# cpack builds only what is installed, not every test and benchmark of the tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(WIN32)
  install(TARGETS inkora_updater RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/INSTALL.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "InkoraUpdater-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS inkora_updater RUNTIME DESTINATION lib/inkoraupdater)
  if(TARGET inkora_webfarm)
    install(TARGETS inkora_webfarm RUNTIME DESTINATION lib/inkoraupdater)
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/InkoraUpdater.service DESTINATION lib/systemd/system)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${CMAKE_SOURCE_DIR}/packaging/linux/postinst ${CMAKE_SOURCE_DIR}/packaging/linux/prerm
      ${CMAKE_SOURCE_DIR}/packaging/linux/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
