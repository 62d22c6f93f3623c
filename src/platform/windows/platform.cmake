# The Windows half of the platform layer: the Win32 names are the system's own
# (<windows.h>, <vfw.h>); what stays ours is CFile over a Win32 file handle,
# the answer that there is no virtual screen, and the routing of the library's
# own system allocations through the fault injection.
target_sources(kolvex PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/funnel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/screen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_threads.cpp
)
target_sources(kolvex PUBLIC FILE_SET HEADERS FILES
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/windows/win32.h
)
# The library builds with the lean <windows.h>, and without its min/max macros.
target_compile_definitions(kolvex PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(kolvex PUBLIC gdi32 user32 vfw32)
# kolvex.dll with its import library libkolvex.dll.a, as Windows names DLLs.
set_target_properties(kolvex PROPERTIES PREFIX "")
# No X display on Windows: the screen is the real one.
set(KOLVEX_HAS_X11 OFF PARENT_SCOPE)
