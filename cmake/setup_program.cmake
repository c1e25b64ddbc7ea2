# Setup programs: the shell (entry point, dialog, resources) linked around a payload stream.
#
#   add_setup_program(<target> PAYLOAD <stream file>)
#
# links <target>.exe from the shell and the zlib stream in <stream file>, which becomes the payload
# resource (type "SETUP", name 2000, language English (United States)). The stream is a build
# input: the program is relinked when it changes.

# The link settings of every setup program, the stub included: a windowed program for Windows 2000
# and later (subsystem and OS version 5.0), one file without debug symbols.
function(set_setup_program_properties target)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  target_link_options(${target} PRIVATE -s
    -Wl,--major-subsystem-version,5,--minor-subsystem-version,0,--major-os-version,5,--minor-os-version,0)
  target_link_libraries(${target} PRIVATE setup_shell)
endfunction()

function(add_setup_program target)
  cmake_parse_arguments(P "" "PAYLOAD" "" ${ARGN})
  if(NOT P_PAYLOAD)
    message(FATAL_ERROR "add_setup_program(${target}): PAYLOAD <stream file> is required")
  endif()
  get_filename_component(payload "${P_PAYLOAD}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_payload.rc")
  file(CONFIGURE OUTPUT "${script}" CONTENT
"LANGUAGE 9, 1
2000 SETUP \"${payload}\"
")
  set_source_files_properties("${script}" PROPERTIES OBJECT_DEPENDS "${payload}")
  add_executable(${target} "${script}")
  set_setup_program_properties(${target})
endfunction()
