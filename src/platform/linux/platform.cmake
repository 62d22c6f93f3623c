# The Linux half of the platform layer: the in-memory stand-in for the Win32
# kernel, GDI, USER, DrawDib and resources, its screens (virtual, or an X
# display's), and CFile over a descriptor.
target_sources(kolvex PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/drawdib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi_blit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi_objects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi_rows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kernel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_threads.cpp
)
# The helper threads (worker_threads.cpp).
find_package(Threads REQUIRED)
target_link_libraries(kolvex PRIVATE Threads::Threads)
target_sources(kolvex PUBLIC FILE_SET HEADERS FILES
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/drawdib.h
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/gdi.h
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/kernel.h
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/resources.h
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/user.h
  ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/win32_types.h
)

# The screen on Linux: the virtual one always; the real one of an X display
# when the XCB development files are found (Debian: libxcb1-dev,
# libxcb-shm0-dev).
option(KOLVEX_X11 "Reach the real screen of an X display through XCB when XCB is found" ON)
target_sources(kolvex PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/screen_select.cpp
  ${CMAKE_CURRENT_LIST_DIR}/screen_transfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/surface_memory.cpp
)
set(KOLVEX_HAS_X11 OFF)
if(KOLVEX_X11)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(KOLVEX_XCB QUIET IMPORTED_TARGET GLOBAL xcb xcb-shm)
    set(KOLVEX_HAS_X11 ${KOLVEX_XCB_FOUND})
  endif()
endif()
if(KOLVEX_HAS_X11)
  message(STATUS "Screen: the X display's through XCB ${KOLVEX_XCB_xcb_VERSION} (MIT-SHM where offered), else the virtual one")
  target_sources(kolvex PRIVATE ${CMAKE_CURRENT_LIST_DIR}/x11_screen.cpp)
  # XCB handles for the library's screen and for clients that talk to the
  # display themselves, such as the tool's viewer.
  target_sources(kolvex PUBLIC FILE_SET HEADERS FILES
    ${PROJECT_SOURCE_DIR}/include/kolvex/platform/linux/xcb_handles.h
  )
  target_link_libraries(kolvex PRIVATE PkgConfig::KOLVEX_XCB)
else()
  if(KOLVEX_X11)
    message(STATUS "Screen: XCB development files not found (Debian: libxcb1-dev libxcb-shm0-dev): this build has the virtual screen only")
  else()
    message(STATUS "Screen: KOLVEX_X11 is off: this build has the virtual screen only")
  endif()
  target_sources(kolvex PRIVATE ${CMAKE_CURRENT_LIST_DIR}/x11_none.cpp)
endif()
set(KOLVEX_HAS_X11 ${KOLVEX_HAS_X11} PARENT_SCOPE)
