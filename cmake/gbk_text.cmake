# sp_gbk_text(TARGET INPUT utf8-file OUTPUT gbk-file)
#
# Texts that Windows reads through its ANSI functions on a Chinese system
# are kept editable as UTF-8 in the repository and turned at build time
# into GBK (code page 936) bytes with CR LF line ends and no line end after
# the last line. A character GBK cannot hold fails the build.
#
# The same file runs as the conversion script: cmake -DINPUT=... -DOUTPUT=...
# -P gbk_text.cmake.

if(CMAKE_SCRIPT_MODE_FILE)
  find_program(SP_ICONV iconv REQUIRED)
  file(READ "${INPUT}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${OUTPUT}.utf8" "${text}")
  execute_process(COMMAND "${SP_ICONV}" -f UTF-8 -t GBK "${OUTPUT}.utf8"
                  OUTPUT_FILE "${OUTPUT}.tmp" RESULT_VARIABLE status)
  file(REMOVE "${OUTPUT}.utf8")
  if(NOT status EQUAL 0)
    file(REMOVE "${OUTPUT}.tmp")
    message(FATAL_ERROR "${INPUT}: not convertible to GBK")
  endif()
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()

set(SP_GBK_TEXT_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(sp_gbk_text target)
  cmake_parse_arguments(ARG "" "INPUT;OUTPUT" "" ${ARGN})
  if(NOT ARG_INPUT OR NOT ARG_OUTPUT)
    message(FATAL_ERROR "sp_gbk_text(${target}) needs INPUT and OUTPUT")
  endif()
  get_filename_component(output_dir "${ARG_OUTPUT}" DIRECTORY)
  add_custom_command(
    OUTPUT "${ARG_OUTPUT}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND "${CMAKE_COMMAND}" "-DINPUT=${ARG_INPUT}" "-DOUTPUT=${ARG_OUTPUT}" -P "${SP_GBK_TEXT_SCRIPT}"
    DEPENDS "${ARG_INPUT}" "${SP_GBK_TEXT_SCRIPT}"
    COMMENT "Converting ${ARG_INPUT} to GBK"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${ARG_OUTPUT}")
endfunction()
