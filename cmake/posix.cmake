# POSIX builds: hidden visibility already keeps internals private; the version script
# makes sure that nothing pulled in from static code is exported either.
set(KYRZBK_VERSION_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/kyrzbk.map)
target_link_options(kyrzbk_plugin PRIVATE -Wl,--version-script=${KYRZBK_VERSION_SCRIPT})
set_target_properties(kyrzbk_plugin PROPERTIES LINK_DEPENDS ${KYRZBK_VERSION_SCRIPT})
