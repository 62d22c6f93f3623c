# kolvex_add_resources(<target> [TYPE <type>] FILES <entry>...)
#
# Embeds files into <target> and registers them at start-up as resources of the
# process module, where FindResourceA / CRZDIB2::CreateFromResource find them.
# Each <entry> is `path` (resource name: the file name without extension,
# upper-cased), `NAME=path` (a string name) or `123=path` (an integer name, as
# MAKEINTRESOURCE(123)). TYPE defaults to 8000, the type of bitmap resources;
# a number is an integer type, anything else a string type.
#
# The bytes are generated into a source file at build time, so editing an
# embedded file rebuilds the target.

set(_KOLVEX_RESOURCES_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/KolvexEmbed.cmake")

function(kolvex_add_resources target)
  cmake_parse_arguments(ARG "" "TYPE" "FILES" ${ARGN})
  if(NOT ARG_FILES)
    message(FATAL_ERROR "kolvex_add_resources(${target}): no FILES given")
  endif()
  if(NOT DEFINED ARG_TYPE)
    set(ARG_TYPE 8000)
  endif()

  get_property(count TARGET ${target} PROPERTY KOLVEX_RESOURCE_COUNT)
  if(NOT count)
    set(count 0)
  endif()
  math(EXPR next "${count} + 1")
  set_property(TARGET ${target} PROPERTY KOLVEX_RESOURCE_COUNT ${next})

  set(names "")
  set(paths "")
  foreach(entry IN LISTS ARG_FILES)
    if(entry MATCHES "^([^=]+)=(.+)$")
      set(name "${CMAKE_MATCH_1}")
      set(path "${CMAKE_MATCH_2}")
    else()
      set(path "${entry}")
      get_filename_component(name "${path}" NAME_WE)
      string(TOUPPER "${name}" name)
    endif()
    get_filename_component(path "${path}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND names "${name}")
    list(APPEND paths "${path}")
  endforeach()

  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources_${count}.cpp")
  string(REPLACE ";" "|" names_arg "${names}")
  string(REPLACE ";" "|" paths_arg "${paths}")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} "-DOUT=${out}" "-DNAMES=${names_arg}" "-DPATHS=${paths_arg}"
            "-DTYPE=${ARG_TYPE}" "-DINDEX=${count}" -P "${_KOLVEX_RESOURCES_SCRIPT}"
    DEPENDS ${paths} "${_KOLVEX_RESOURCES_SCRIPT}"
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
