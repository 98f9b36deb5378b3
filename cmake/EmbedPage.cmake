# The calculator page as constants of the library.
#
# Included from a CMakeLists.txt, this file defines tally_add_page_text(). Run with -P at build
# time, it turns the page template, the page script and the badge into a header with
#   PAGE_HEAD        the page up to and including "var _search = '" (NUL-terminated),
#   PAGE_TAIL        the rest of the page, from "';" on,
#   PAGE_TAIL_LENGTH the tail's length in UTF-16 code units,
# and writes two files for the tests: the script as it stands in the page (one line) and the page
# with an empty query.
#
# The script goes into the page on one line: lines that hold only a comment are dropped, the other
# lines are trimmed and joined with a space. That is safe because the script keeps comments on
# lines of their own and ends every statement with a semicolon; this file refuses a script that
# has code and a comment on one line.

if(CMAKE_SCRIPT_MODE_FILE)
  foreach(required TEMPLATE SCRIPT BADGE OUT_DIR)
    if(NOT DEFINED ${required})
      message(FATAL_ERROR "EmbedPage.cmake: -D${required}=... is missing")
    endif()
  endforeach()

  set(splice "var _search = '")
  set(tail_start "';")
  set(tail_end "</script></body></html>")

  # The template: one line, one marker for the script and one for the badge.
  file(READ "${TEMPLATE}" page)
  string(STRIP "${page}" page)
  foreach(marker "%SCRIPT%" "%BADGE_PNG_BASE64%")
    string(FIND "${page}" "${marker}" first)
    string(FIND "${page}" "${marker}" last REVERSE)
    if(first LESS 0 OR NOT first EQUAL last)
      message(FATAL_ERROR "${TEMPLATE}: needs exactly one ${marker}")
    endif()
  endforeach()

  # The script, on one line.
  file(READ "${SCRIPT}" script)
  string(REPLACE "\r\n" "\n" script "\n${script}\n")
  string(REGEX REPLACE "\n[ \t]*//[^\n]*" "\n" script "${script}")
  string(FIND "${script}" "//" comment)
  string(FIND "${script}" "/*" block_comment)
  if(comment GREATER_EQUAL 0 OR block_comment GREATER_EQUAL 0)
    message(FATAL_ERROR "${SCRIPT}: a comment shares a line with code; put it on a line of its own")
  endif()
  string(REGEX REPLACE "[ \t]*\n[ \t\n]*" " " script "${script}")
  string(STRIP "${script}" script)
  # Inside a script element "</" may end the element and "<!--" changes how it is parsed.
  string(FIND "${script}" "</" close_tag)
  string(FIND "${script}" "<!--" open_comment)
  if(close_tag GREATER_EQUAL 0 OR open_comment GREATER_EQUAL 0)
    message(FATAL_ERROR "${SCRIPT}: must not contain \"</\" or \"<!--\"")
  endif()
  string(FIND "${script}" "${splice}" first)
  string(FIND "${script}" "${splice}" last REVERSE)
  if(first LESS 0 OR NOT first EQUAL last)
    message(FATAL_ERROR "${SCRIPT}: needs exactly one \"${splice}\", the place of the query")
  endif()
  string(LENGTH "${splice}" splice_length)
  math(EXPR after_splice "${first} + ${splice_length}")
  string(SUBSTRING "${script}" ${after_splice} 2 closing)
  if(NOT closing STREQUAL tail_start)
    message(FATAL_ERROR "${SCRIPT}: \"${splice}\" must be followed by \"${tail_start}\"")
  endif()

  file(READ "${BADGE}" badge)
  string(STRIP "${badge}" badge)
  if(NOT badge MATCHES "^[A-Za-z0-9+/]+=*$")
    message(FATAL_ERROR "${BADGE}: not Base64 text")
  endif()

  string(REPLACE "%BADGE_PNG_BASE64%" "${badge}" page "${page}")
  string(REPLACE "%SCRIPT%" "${script}" page "${page}")

  # Printable ASCII only, so that the text's length in bytes is its length in UTF-16 code units
  # and the page needs no character set. The query is escaped into ASCII as well (page.cpp).
  if(page MATCHES "[^ -~]")
    message(FATAL_ERROR "the page may hold printable ASCII characters only (no tabs, no line breaks)")
  endif()

  string(FIND "${page}" "${splice}" head_end)
  math(EXPR head_end "${head_end} + ${splice_length}")
  string(SUBSTRING "${page}" 0 ${head_end} head)
  string(SUBSTRING "${page}" ${head_end} -1 tail)
  string(LENGTH "${tail}" tail_length)
  string(LENGTH "${tail_end}" tail_end_length)
  math(EXPR tail_end_at "${tail_length} - ${tail_end_length}")
  string(SUBSTRING "${tail}" ${tail_end_at} -1 tail_last)
  if(NOT tail_last STREQUAL tail_end)
    message(FATAL_ERROR "${TEMPLATE}: the page must end with \"${tail_end}\"")
  endif()

  # A wide string literal, in pieces of 96 characters; backslash, quote and question mark are
  # escaped (the last keeps "??" from ever reading as a trigraph).
  function(wide_literal text out)
    string(LENGTH "${text}" length)
    set(result "")
    set(at 0)
    while(at LESS length)
      string(SUBSTRING "${text}" ${at} 96 piece)
      string(REPLACE "\\" "\\\\" piece "${piece}")
      string(REPLACE "\"" "\\\"" piece "${piece}")
      string(REPLACE "?" "\\?" piece "${piece}")
      string(APPEND result "\n    L\"${piece}\"")
      math(EXPR at "${at} + 96")
    endwhile()
    if(result STREQUAL "")
      set(result " L\"\"")
    endif()
    set(${out} "${result}" PARENT_SCOPE)
  endfunction()
  wide_literal("${head}" head_literal)
  wide_literal("${tail}" tail_literal)

  set(header "// Generated at build time by cmake/EmbedPage.cmake from hooklib/page/template.html,
// hooklib/page/calculator.js and the badge; edit those instead.
#pragma once
#include <windows.h>

// The calculator page up to and including the opening quote of the literal that receives the
// query.
const WCHAR PAGE_HEAD[] =${head_literal};

// The rest of the page, from the quote that closes that literal.
const WCHAR PAGE_TAIL[] =${tail_literal};

const int PAGE_TAIL_LENGTH = ${tail_length};
")
  # Rewritten only when it changes, so that an unchanged page does not rebuild the library.
  set(header_file "${OUT_DIR}/page_text.h")
  set(old_header "")
  if(EXISTS "${header_file}")
    file(READ "${header_file}" old_header)
  endif()
  if(NOT old_header STREQUAL header)
    file(WRITE "${header_file}" "${header}")
  endif()
  file(WRITE "${OUT_DIR}/calculator.oneline.js" "${script}\n")
  file(WRITE "${OUT_DIR}/calculator-empty.html" "${page}\n")
  return()
endif()

# Adds the build steps that draw the badge and write the page's header into `out_dir`:
# out_dir/page_text.h, out_dir/calculator.oneline.js, out_dir/calculator-empty.html, and the
# badge itself as out_dir/badge.png.
function(tally_add_page_text out_dir)
  find_program(TALLY_NODE node REQUIRED)
  set(page_dir ${PROJECT_SOURCE_DIR}/hooklib/page)
  set(badge_png ${out_dir}/badge.png)
  set(badge_base64 ${out_dir}/badge.base64)
  add_custom_command(
    OUTPUT ${badge_png} ${badge_base64}
    COMMAND ${TALLY_NODE} ${PROJECT_SOURCE_DIR}/scripts/make-badge-png.js ${badge_png} ${badge_base64}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-badge-png.js ${PROJECT_SOURCE_DIR}/scripts/lib/png.js
    COMMENT "Drawing the calculator badge"
    VERBATIM)
  add_custom_command(
    OUTPUT ${out_dir}/page_text.h ${out_dir}/calculator.oneline.js ${out_dir}/calculator-empty.html
    COMMAND ${CMAKE_COMMAND}
      -DTEMPLATE=${page_dir}/template.html
      -DSCRIPT=${page_dir}/calculator.js
      -DBADGE=${badge_base64}
      -DOUT_DIR=${out_dir}
      -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    DEPENDS ${page_dir}/template.html ${page_dir}/calculator.js ${badge_base64} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Embedding the calculator page"
    VERBATIM)
endfunction()
