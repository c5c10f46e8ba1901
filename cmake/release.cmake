# What goes into the release packages. Every configuration installs its own plug-in and
# host (component "binaries"); the Linux build also holds the CPack set-up, which gathers
# the binaries of the two Windows build folders into one zip and its own into a tarball.
# scripts/release.sh drives it.

# The packages are made from finished builds: installing must not start one.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Both Windows hosts share one folder in the zip; the 64-bit one keeps the plain name.
  set(KYRZBK_INSTALLED_HOST_NAME kyrzbk32.exe)
else()
  set(KYRZBK_INSTALLED_HOST_NAME $<TARGET_FILE_NAME:kyrzbk_cli>)
endif()
if(WIN32)
  # Windows binaries are linked without symbols already; a shared library also has an
  # import library, which nobody links against.
  install(PROGRAMS $<TARGET_FILE:kyrzbk_plugin> DESTINATION . COMPONENT binaries)
  install(PROGRAMS $<TARGET_FILE:kyrzbk_cli> DESTINATION . RENAME ${KYRZBK_INSTALLED_HOST_NAME}
    COMPONENT binaries)
else()
  install(TARGETS kyrzbk_plugin kyrzbk_cli LIBRARY DESTINATION . COMPONENT binaries
    RUNTIME DESTINATION . COMPONENT binaries)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md DESTINATION . RENAME USER-GUIDE.md COMPONENT docs)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT docs)
# The user guide's examples work on these.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples COMPONENT docs)

# The file manager's installer reads this file at the root of the zip; it expects CR LF.
set(KYRZBK_DESCRIPTION "KYR and Tesk game files: ZBK archives and binarized configurations")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pluginst.inf.in ${CMAKE_BINARY_DIR}/package/pluginst.inf
  @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/package/pluginst.inf DESTINATION . COMPONENT windows_setup)

if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  set(CPACK_PACKAGE_NAME kyrzbk)
  set(CPACK_PACKAGE_VENDOR "the kyrzbk developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${KYRZBK_DESCRIPTION}")
  set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR TGZ)
  if(KYRZBK_WIN32_BUILD_DIR AND KYRZBK_WIN64_BUILD_DIR)
    list(PREPEND CPACK_GENERATOR ZIP)
  endif()
  # Which build folders and components each generator packs is decided per generator.
  set(KYRZBK_LINUX_PACKAGE_NAME kyrzbk-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(KYRZBK_WINDOWS_PACKAGE_NAME kyrzbk-${PROJECT_VERSION}-windows)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack_per_generator.cmake.in
    ${CMAKE_BINARY_DIR}/package/cpack_per_generator.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/package/cpack_per_generator.cmake)
  include(CPack)
endif()
