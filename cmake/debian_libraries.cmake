# The two ways a library from Debian is linked statically into the
# programs, so that each stays a single file: its static archive where
# Debian builds one for this target, or its source package (fetched by
# scripts/setup with apt-get source into build/deps/PACKAGE) compiled here
# where it does not. Configuring without what is needed stops with a
# message that names scripts/setup.

# kz_library_from_source(TARGET PACKAGE SOURCE_VARIABLE PROBE PARTS...)
# A static library TARGET of the C files PARTS (paths without ".c" below the
# source tree) of PACKAGE's source, whose tree is the cache variable
# SOURCE_VARIABLE (build/deps/PACKAGE by default) and holds the file PROBE.
# Its headers are the tree's own; its warnings are not ours to mend.
function(kz_library_from_source target package source_variable probe)
  set(${source_variable} ${PROJECT_SOURCE_DIR}/build/deps/${package}
      CACHE PATH "${package}'s source tree (Debian's source package ${package})")
  set(source ${${source_variable}})
  if(NOT EXISTS ${source}/${probe})
    message(FATAL_ERROR "${package}'s source is not in ${source}: run scripts/setup, which "
                        "fetches it with apt-get source ${package} (or set ${source_variable} "
                        "to an unpacked ${package} source tree)")
  endif()
  add_library(${target} STATIC)
  foreach(part ${ARGN})
    target_sources(${target} PRIVATE ${source}/${part}.c)
  endforeach()
  target_include_directories(${target} SYSTEM PUBLIC ${source})
  target_compile_options(${target} PRIVATE -w)
endfunction()

# kz_library_from_archive(TARGET NAME HEADER ARCHIVE DEBIAN_PACKAGE)
# An imported target TARGET for the static archive ARCHIVE and the header
# HEADER of the library NAME, which Debian's DEBIAN_PACKAGE installs.
function(kz_library_from_archive target name header archive package)
  string(TOUPPER ${target} prefix)
  find_path(${prefix}_INCLUDE ${header})
  find_library(${prefix}_ARCHIVE NAMES ${archive})
  if(NOT ${prefix}_INCLUDE OR NOT ${prefix}_ARCHIVE)
    message(FATAL_ERROR "${name}'s header or static archive ${archive} is missing (Debian: "
                        "${package}): run scripts/setup")
  endif()
  add_library(${target} STATIC IMPORTED)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${${prefix}_ARCHIVE}
    INTERFACE_INCLUDE_DIRECTORIES ${${prefix}_INCLUDE})
endfunction()
