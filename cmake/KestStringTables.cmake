# String tables and file versions for the library and its hosts, from the same .rc files on every
# platform (installed with the package):
#
#   kest_add_string_table(<target> <file.rc> [SYMBOL <name>] [DATA_ONLY] [REQUIRE <id>...])
#     Gives <target> the string table of <file.rc>. Windows: windres compiles it into the module's
#     RT_STRING resources. POSIX: tools/kest_rc.py turns it into a table compiled into the module,
#     which registers under the module's handle when the module loads. SYMBOL names the generated
#     table (a global kest::platform::StringTable, compiled on Windows too, as data); DATA_ONLY
#     compiles the generator's table as data only, on both platforms, for tests that compare it
#     with the real thing. REQUIRE lists IDs
#     without which the build fails. When KestCommon is a static library, the host's table may
#     share no ID (and no block of 16) with the library's, which lives in the same module.
#
#   kest_set_file_version(<target> <a.b.c.d>)
#     Gives <target> that file version: a VERSIONINFO resource on Windows, an ELF note on POSIX
#     (read back by kest::platform::ExecutableFileVersion).
include_guard(GLOBAL)
find_package(Python3 COMPONENTS Interpreter REQUIRED)

# The generator and a Python to run it, found from wherever the calling directory is.
macro(kest_find_rc_tool)
  set(kest_rc_tool "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tools/kest_rc.py")
  if(NOT EXISTS "${kest_rc_tool}")
    set(kest_rc_tool "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/kest_rc.py")  # installed beside this file
  endif()
  if(NOT Python3_EXECUTABLE)
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
  endif()
endmacro()

function(kest_add_string_table target rc_file)
  kest_find_rc_tool()
  cmake_parse_arguments(PARSE_ARGV 2 arg "DATA_ONLY" "SYMBOL" "REQUIRE")
  get_filename_component(rc_file "${rc_file}" ABSOLUTE)
  get_filename_component(stem "${rc_file}" NAME_WE)
  set(options)
  if(arg_SYMBOL)
    list(APPEND options --symbol ${arg_SYMBOL})
    string(APPEND stem "_${arg_SYMBOL}")
  endif()
  if(arg_REQUIRE)
    list(JOIN arg_REQUIRE "," required)
    list(APPEND options --require ${required})
  endif()
  # The library's own headers, for the IDs its .rc files include.
  get_target_property(kest_includes KestCommon::KestCommon INTERFACE_INCLUDE_DIRECTORIES)
  set(include_options)
  foreach(dir IN LISTS kest_includes)
    string(REGEX REPLACE "^\\$<BUILD_INTERFACE:(.*)>$" "\\1" dir "${dir}")
    if(NOT dir MATCHES "^\\$<")
      list(APPEND include_options -I "${dir}")
    endif()
  endforeach()
  get_filename_component(rc_dir "${rc_file}" DIRECTORY)
  list(APPEND include_options -I "${rc_dir}")
  if(WIN32 AND NOT arg_DATA_ONLY)
    target_sources(${target} PRIVATE "${rc_file}")
    if(NOT arg_SYMBOL)
      return()
    endif()
    set(arg_DATA_ONLY ON)  # the named table exists on Windows too, as data
  endif()
  if(arg_DATA_ONLY)
    list(APPEND options --data-only)
  else()
    get_target_property(kest_type KestCommon::KestCommon TYPE)
    if(kest_type STREQUAL "STATIC_LIBRARY" AND NOT target STREQUAL "KestCommon")
      get_target_property(library_rc KestCommon::KestCommon KEST_STRING_TABLE)
      if(library_rc)
        list(APPEND options --beside "${library_rc}")
      endif()
    endif()
  endif()
  set(output "${CMAKE_CURRENT_BINARY_DIR}/kest_rc/${target}_${stem}.cpp")
  add_custom_command(OUTPUT "${output}"
    COMMAND "${Python3_EXECUTABLE}" "${kest_rc_tool}" table "${rc_file}" -o "${output}"
            ${include_options} ${options}
    DEPENDS "${rc_file}" "${kest_rc_tool}"
    COMMENT "String table ${stem} for ${target}" VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()

function(kest_set_file_version target version)
  kest_find_rc_tool()
  set(options)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/kest_rc/${target}_version.cpp")
  if(WIN32)
    set(options --windows)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/kest_rc/${target}_version.rc")
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND "${Python3_EXECUTABLE}" "${kest_rc_tool}" version "${version}" -o "${output}" ${options}
    DEPENDS "${kest_rc_tool}"
    COMMENT "File version ${version} for ${target}" VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
