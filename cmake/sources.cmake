# The program's sources and the texts the build generates for it, named once
# for the program's build and for the fuzzers' (tests/fuzz), which compile
# the same sources with other flags. A new action is one line in
# PLUGIN_FILES_ACTIONS (and its row in src/actions.def).
set(PLUGIN_FILES_TOP ${CMAKE_CURRENT_LIST_DIR}/..)
set(PLUGIN_FILES_SRC ${PLUGIN_FILES_TOP}/src)

set(PLUGIN_FILES_ACTIONS
  act_roots.cpp
  act_ls.cpp
  act_read.cpp
  act_raw.cpp
  act_zip.cpp
  act_find.cpp
  act_grep.cpp
  act_du.cpp)

set(PLUGIN_FILES_MODULES
  buf.cpp str.cpp json.cpp response.cpp config.cpp query.cpp gate.cpp path.cpp timefmt.cpp
  http.cpp kinds.cpp listing.cpp walk.cpp sweep.cpp match.cpp zip.cpp actions.cpp heavy.cpp page.cpp)

# The platform layer: one file for each platform.
if(WIN32)
  set(PLUGIN_FILES_FS fs_win32.cpp)
else()
  set(PLUGIN_FILES_FS fs_posix.cpp)
endif()

# Sets `out` to the core sources, the generated ones included, and adds the
# commands that generate them into the current binary directory.
function(plugin_files_sources out)
  set(gen ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_command(
    OUTPUT ${gen}/kinds_table.inc ${gen}/kinds.js
    COMMAND ${CMAKE_COMMAND} -DTABLE=${PLUGIN_FILES_SRC}/kinds.table -DOUT_INC=${gen}/kinds_table.inc
            -DOUT_JS=${gen}/kinds.js -P ${PLUGIN_FILES_TOP}/cmake/file_kinds.cmake
    DEPENDS ${PLUGIN_FILES_SRC}/kinds.table ${PLUGIN_FILES_TOP}/cmake/file_kinds.cmake
    COMMENT "Making the tables of file kinds")
  file(GLOB_RECURSE page_texts CONFIGURE_DEPENDS ${PLUGIN_FILES_SRC}/page/*)
  add_custom_command(
    OUTPUT ${gen}/page_texts.cpp ${gen}/page_policy.inc
    COMMAND ${CMAKE_COMMAND} -DSRC=${PLUGIN_FILES_SRC}/page -DWORK=${gen}
            -DOUT=${gen}/page_texts.cpp -DOUT_POLICY=${gen}/page_policy.inc
            -P ${PLUGIN_FILES_TOP}/cmake/embed_page.cmake
    DEPENDS ${page_texts} ${gen}/kinds.js ${PLUGIN_FILES_TOP}/cmake/embed_page.cmake
    COMMENT "Embedding the page texts")
  set(files ${gen}/page_texts.cpp ${gen}/page_policy.inc ${gen}/kinds_table.inc)
  foreach(name IN LISTS PLUGIN_FILES_ACTIONS PLUGIN_FILES_MODULES PLUGIN_FILES_FS)
    list(APPEND files ${PLUGIN_FILES_SRC}/${name})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()
