# The Linux half of the platform layer: the in-memory stand-in for the Win32
# kernel, GDI, USER, DrawDib and resources, and CFile over a descriptor.
target_sources(kolvex PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/drawdib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi_blit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi_objects.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdi_rows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kernel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user.cpp
)
target_sources(kolvex PUBLIC FILE_SET HEADERS FILES
  ${CMAKE_CURRENT_LIST_DIR}/drawdib.h
  ${CMAKE_CURRENT_LIST_DIR}/gdi.h
  ${CMAKE_CURRENT_LIST_DIR}/kernel.h
  ${CMAKE_CURRENT_LIST_DIR}/resources.h
  ${CMAKE_CURRENT_LIST_DIR}/user.h
  ${CMAKE_CURRENT_LIST_DIR}/win32_types.h
)
