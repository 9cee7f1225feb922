# Turns the three page texts into C++ constants, and names the page's scripts
# by their hashes for its content security policy. Run by the build whenever
# one of them changes, so the program never carries a hand-kept copy.
#
# The template is the page's skeleton: each line "@PART name@" stands for the
# file src/page/name, whole (styles, markup and the script, one file per
# concern), and each line "@BUILT name@" for a part the build made from the
# project's tables (in WORK, such as kinds.js). It also holds two
# placeholders; each becomes the one-byte marker where the program writes the
# theme block (0x01) or the theme bridge (0x02). The parts name the layout
# numbers they share as "@NAME@" (layout.txt).
cmake_minimum_required(VERSION 3.20)

function(read_text path var)
  file(READ "${path}" text)
  if(text MATCHES "[\r\t]")
    message(FATAL_ERROR "${path}: only LF line ends and no tabs")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# Every "@PART name@" line replaced by that file's text from SRC, and every
# "@BUILT name@" line by that file's from WORK.
function(join_parts text var)
  string(REGEX MATCHALL "@(PART|BUILT) [^@\n]+@\n" parts "${text}")
  foreach(part IN LISTS parts)
    string(REGEX REPLACE "^@(PART|BUILT) ([^@\n]+)@\n$" "\\1" kind "${part}")
    string(REGEX REPLACE "^@(PART|BUILT) ([^@\n]+)@\n$" "\\2" name "${part}")
    if(kind STREQUAL "PART")
      read_text("${SRC}/${name}" body)
    else()
      read_text("${WORK}/${name}" body)
    endif()
    string(REPLACE "${part}" "${body}" text "${text}")
  endforeach()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# The script parts share one function scope, where a second function of a
# name silently replaces the first: each name is declared once.
function(check_declared_once text)
  string(REGEX MATCHALL "\n  function [A-Za-z_$][A-Za-z0-9_$]*" decls "${text}")
  set(seen "")
  foreach(decl IN LISTS decls)
    string(REGEX REPLACE "^\n  function " "" name "${decl}")
    if(name IN_LIST seen)
      message(FATAL_ERROR "page: function ${name} is declared by two parts")
    endif()
    list(APPEND seen "${name}")
  endforeach()
endfunction()

# The placeholder must stand exactly once, in the context given.
function(replace_once text context placeholder byte var)
  string(FIND "${text}" "${placeholder}" first)
  string(FIND "${text}" "${placeholder}" last REVERSE)
  string(FIND "${text}" "${context}" where)
  if(first EQUAL -1 OR NOT first EQUAL last OR where EQUAL -1)
    message(FATAL_ERROR "page template: ${placeholder} must occur once, as in: ${context}")
  endif()
  string(ASCII ${byte} mark)
  string(REPLACE "${placeholder}" "${mark}" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# Every "@NAME@" replaced by its value from layout.txt, lines of "NAME = value".
# A token layout.txt does not name, or a name no part uses, stops the build:
# the styles and the script must not drift apart from the one list.
function(apply_layout text var)
  read_text("${SRC}/layout.txt" layout)
  string(REGEX REPLACE "#[^\n]*" "" layout "${layout}")
  string(REGEX MATCHALL "[^\n]+" lines "${layout}")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([A-Z][A-Z0-9_]*) = ([0-9]+(\\.[0-9]+)?)$")
      message(FATAL_ERROR "layout.txt: not NAME = number: ${line}")
    endif()
    set(value "${CMAKE_MATCH_2}")
    set(token "@${CMAKE_MATCH_1}@")
    string(FIND "${text}" "${token}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "layout.txt: no part of the page uses ${token}")
    endif()
    string(REPLACE "${token}" "${value}" text "${text}")
  endforeach()
  string(REGEX MATCH "@[A-Z][A-Z0-9_]*@" unknown "${text}")
  if(unknown)
    message(FATAL_ERROR "page: ${unknown} is not named in layout.txt")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# The base64 form of a SHA-256 digest written as 64 hex digits: 10 groups of
# three bytes and a last one of two, whose padding is the final "=".
function(hex_base64 hex var)
  set(digits "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(out "")
  foreach(group RANGE 0 10)
    math(EXPR at "${group} * 6")
    string(SUBSTRING "${hex}00" ${at} 6 bits)
    math(EXPR bits "0x${bits}")
    foreach(shift 18 12 6 0)
      math(EXPR digit "(${bits} >> ${shift}) & 63")
      string(SUBSTRING "${digits}" ${digit} 1 c)
      string(APPEND out "${c}")
    endforeach()
  endforeach()
  string(SUBSTRING "${out}" 0 43 out)
  set(${var} "${out}=" PARENT_SCOPE)
endfunction()

# The policy's source for every inline script of text, in order, appended to
# var: the SHA-256 of exactly the text between <script> and </script>. A
# script tag with attributes would run unnamed, so outside the scripts there
# must be none; inside one, "<script" is only text of its code.
function(script_sources text var)
  set(sources "${${var}}")
  string(FIND "${text}" "<script" open)
  while(NOT open EQUAL -1)
    string(SUBSTRING "${text}" ${open} 8 tag)
    if(NOT tag STREQUAL "<script>")
      message(FATAL_ERROR "page: a script tag must be exactly <script>")
    endif()
    math(EXPR open "${open} + 8")
    string(SUBSTRING "${text}" ${open} -1 text)
    string(FIND "${text}" "</script>" close)
    if(close EQUAL -1)
      message(FATAL_ERROR "page: a script is not closed")
    endif()
    string(SUBSTRING "${text}" 0 ${close} body)
    string(SHA256 hex "${body}")
    hex_base64("${hex}" digest)
    string(APPEND sources " 'sha256-${digest}'")
    string(SUBSTRING "${text}" ${close} -1 text)
    string(FIND "${text}" "<script" open)
  endwhile()
  set(${var} "${sources}" PARENT_SCOPE)
endfunction()

# One C++ array, NUL-terminated, and its length without the NUL.
function(emit_array name text out_var)
  file(WRITE "${WORK}/${name}.bin" "${text}")
  file(READ "${WORK}/${name}.bin" hex HEX)
  string(LENGTH "${hex}" hex_len)
  math(EXPR len "${hex_len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  set(${out_var} "${${out_var}}extern const char ${name}[] = {\n${bytes}0};\nextern const size_t ${name}_len = ${len};\n\n" PARENT_SCOPE)
endfunction()

read_text("${SRC}/template.html" template)
join_parts("${template}" template)
check_declared_once("${template}")
read_text("${SRC}/theme_block.html" block)
read_text("${SRC}/theme_bridge.html" bridge)
replace_once("${template}" "<title>files</title>\n@THEME_BLOCK@\n" "@THEME_BLOCK@" 1 template)
string(FIND "${template}" "\n@THEME_BRIDGE@</body></html>\n" at REVERSE)
string(LENGTH "${template}" template_len)
math(EXPR expected_at "${template_len} - 30")
if(NOT at EQUAL expected_at)
  message(FATAL_ERROR "page template: the last line must be @THEME_BRIDGE@</body></html>")
endif()
replace_once("${template}" "\n@THEME_BRIDGE@" "@THEME_BRIDGE@" 2 template)
apply_layout("${template}" template)
# The block's own final LF stands in the template after its marker.
string(REGEX REPLACE "\n$" "" block "${block}")

set(code "/* Generated from src/page/ by cmake/embed_page.cmake; do not edit. */\n#include \"page.h\"\n\n")
emit_array(page_template "${template}" code)
emit_array(page_theme_block "${block}" code)
emit_array(page_theme_bridge "${bridge}" code)
file(WRITE "${OUT}.tmp" "${code}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)

# The page's scripts by their hashes, for the script-src of the page's policy
# (src/response.cpp): the browser runs those and no other.
set(sources "")
script_sources("${block}" sources)
script_sources("${template}" sources)
script_sources("${bridge}" sources)
string(STRIP "${sources}" sources)
file(WRITE "${OUT_POLICY}.tmp" "/* Generated from src/page/ by cmake/embed_page.cmake; do not edit. */\n#define PAGE_SCRIPT_SOURCES \"${sources}\"\n")
file(COPY_FILE "${OUT_POLICY}.tmp" "${OUT_POLICY}" ONLY_IF_DIFFERENT)
