# Cross build for 64-bit Windows with mingw-w64 (Debian g++-mingw-w64-x86-64,
# posix thread model, so std::thread and std::mutex are available).
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64-x86_64.cmake
# The runtime (libgcc, libstdc++, winpthread) is linked statically into every
# DLL and program, so they run without any mingw DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOLVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KOLVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOLVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KOLVEX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${KOLVEX_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${KOLVEX_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KOLVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages installed anywhere (a Kolvex prefix) are found, besides the mingw root.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()
