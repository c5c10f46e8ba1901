# Windows builds: the plug-in named as the file manager expects it, exports fixed by
# module-definition files, and no runtime DLLs beside the system's.

# A plug-in is copied alone into the file manager's folder, so the compiler's runtime
# (libgcc, libstdc++, winpthread) is linked in rather than imported.
string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
string(APPEND CMAKE_SHARED_LINKER_FLAGS " -static")
# Shipped binaries carry no symbol tables; identical sources give identical binaries.
string(APPEND CMAKE_EXE_LINKER_FLAGS_RELEASE " -s")
string(APPEND CMAKE_SHARED_LINKER_FLAGS_RELEASE " -s")
add_link_options(-Wl,--no-insert-timestamp)
target_link_options(kyrzbk_plugin PRIVATE -Wl,--no-insert-timestamp)
target_link_options(kyrzbk_cli PRIVATE -Wl,--no-insert-timestamp)

# The 32-bit file manager loads "*.wcx" and the 64-bit one "*.wcx64"; the 32-bit table
# also carries the stdcall-decorated names, which some hosts look up.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KYRZBK_DEF_FILE ${CMAKE_CURRENT_LIST_DIR}/kyrzbk-win32.def)
  set(KYRZBK_PLUGIN_SUFFIX ".wcx")
else()
  set(KYRZBK_DEF_FILE ${CMAKE_CURRENT_LIST_DIR}/kyrzbk-win64.def)
  set(KYRZBK_PLUGIN_SUFFIX ".wcx64")
endif()
target_sources(kyrzbk_plugin PRIVATE ${KYRZBK_DEF_FILE})
set_target_properties(kyrzbk_plugin PROPERTIES SUFFIX ${KYRZBK_PLUGIN_SUFFIX}
  LINK_DEPENDS ${KYRZBK_DEF_FILE})

# Dialog templates and other resources of the plug-in.
file(GLOB KYRZBK_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/settings/*.rc)
if(KYRZBK_RESOURCES)
  enable_language(RC)
  target_sources(kyrzbk_plugin PRIVATE ${KYRZBK_RESOURCES})
endif()
