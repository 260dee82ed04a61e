# Packages: a Debian package of the Linux build (the updater, the web farm and a
# hardened systemd unit), a zip of the Windows build with an install note, both
# made with "cpack" in a build tree, and the Windows installer package, target
# inkora_msi (./dev package).
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
  # The installer package beside the zip, made with wixl and msibuild
  # (msitools) where they are installed.
  find_program(INKORA_WIXL wixl)
  find_program(INKORA_MSIBUILD msibuild)
  find_program(INKORA_BASH bash)
  if(INKORA_WIXL AND INKORA_MSIBUILD AND INKORA_BASH)
    set(msi ${CMAKE_BINARY_DIR}/InkoraUpdater-${PROJECT_VERSION}-x64.msi)
    add_custom_command(
      OUTPUT ${msi}
      COMMAND ${CMAKE_COMMAND} -E env STRIP=${CMAKE_STRIP}
              ${INKORA_BASH} ${CMAKE_SOURCE_DIR}/packaging/windows/make_msi.sh ${PROJECT_VERSION}
              $<TARGET_FILE:inkora_updater> ${msi}
      DEPENDS inkora_updater ${CMAKE_SOURCE_DIR}/packaging/windows/InkoraUpdater.wxs
              ${CMAKE_SOURCE_DIR}/packaging/windows/make_msi.sh
      COMMENT "Installer package ${msi}"
      VERBATIM)
    add_custom_target(inkora_msi ALL DEPENDS ${msi})
  else()
    message(STATUS "wixl or msibuild not found: no installer package")
  endif()
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
