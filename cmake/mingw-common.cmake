# Shared by both MinGW toolchain files; KYRZBK_MINGW_TRIPLE names the target.
# The posix thread model is chosen explicitly so that the standard thread and mutex
# types exist whichever model the machine's alternatives point at; its winpthread
# runtime is linked statically like libgcc and libstdc++ (see windows.cmake).
foreach(tool gcc g++)
  find_program(KYRZBK_MINGW_${tool} NAMES ${KYRZBK_MINGW_TRIPLE}-${tool}-posix ${KYRZBK_MINGW_TRIPLE}-${tool} REQUIRED)
endforeach()
set(CMAKE_C_COMPILER ${KYRZBK_MINGW_gcc})
set(CMAKE_CXX_COMPILER ${KYRZBK_MINGW_g++})
set(CMAKE_RC_COMPILER ${KYRZBK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KYRZBK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
