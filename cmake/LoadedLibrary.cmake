# A library the programs load when a command first needs it instead of linking it (see
# platform/sharedlibrary.h). sonvex_loaded_library(PREFIX TARGET) gives TARGET the headers of
# the pkg-config module found as PREFIX, and SONVEX_<PREFIX>_SONAME, the name to load it by.
# Since no program links it, the Debian package's dependency on it is added by hand: its
# package is appended to the global property SONVEX_LOADED_PACKAGES.
function(sonvex_loaded_library prefix target)
  list(GET ${prefix}_LINK_LIBRARIES 0 file)
  file(REAL_PATH "${file}" file)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p "${file}" OUTPUT_VARIABLE dynamic
                  RESULT_VARIABLE failed)
  if(failed OR NOT dynamic MATCHES "SONAME +([^ \n]+)")
    message(FATAL_ERROR "no soname could be read from ${file}")
  endif()
  set(soname ${CMAKE_MATCH_1})
  target_include_directories(${target} SYSTEM PRIVATE ${${prefix}_INCLUDE_DIRS})
  target_compile_definitions(${target} PRIVATE SONVEX_${prefix}_SONAME="${soname}")
  # Debian's rule: libfoo.so.2 is in libfoo2, libfoo2.so.3 in libfoo2-3.
  string(REGEX REPLACE "^(.*)\\.so\\.([0-9]+)$" "\\1;\\2" parts "${soname}")
  list(GET parts 0 stem)
  list(GET parts 1 major)
  if(stem MATCHES "[0-9]$")
    set(package "${stem}-${major}")
  else()
    set(package "${stem}${major}")
  endif()
  string(TOLOWER "${package}" package)
  set_property(GLOBAL APPEND PROPERTY SONVEX_LOADED_PACKAGES ${package})
endfunction()
