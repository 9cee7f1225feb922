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
  act_du.cpp
  act_thumb.cpp)

set(PLUGIN_FILES_MODULES
  buf.cpp str.cpp json.cpp response.cpp config.cpp query.cpp gate.cpp path.cpp timefmt.cpp
  http.cpp kinds.cpp listing.cpp walk.cpp sweep.cpp match.cpp zip.cpp actions.cpp heavy.cpp page.cpp
  exif.cpp picture.cpp)

# The platform layer: one file of each kind for each platform.
if(WIN32)
  set(PLUGIN_FILES_FS fs_win32.cpp img_win32.cpp)
else()
  set(PLUGIN_FILES_FS fs_posix.cpp img_posix.cpp)
endif()

# Links the libraries the program needs into `target`, from their static
# archives: the dynamic loader would cost every request its time, and the
# program must stay one file. zlib makes archives; on POSIX the picture
# libraries are Debian's (stb_image, a header, is compiled into
# img_posix.cpp), on Windows they are the system's own.
function(plugin_files_libraries target)
  if(WIN32)
    set(archives libz.a)
    set(system windowscodecs ole32 uuid)
  else()
    # libpng before the zlib it calls.
    set(archives libjpeg.a libpng.a libwebp.a libgif.a libz.a)
    set(system m)
  endif()
  foreach(archive IN LISTS archives)
    string(MAKE_C_IDENTIFIER ${archive} var)
    find_library(PLUGIN_FILES_${var} NAMES ${archive} REQUIRED)
    target_link_libraries(${target} PUBLIC ${PLUGIN_FILES_${var}})
  endforeach()
  target_link_libraries(${target} PUBLIC ${system})
  find_path(ZLIB_INCLUDE zlib.h REQUIRED)
  target_include_directories(${target} PRIVATE ${ZLIB_INCLUDE})
endfunction()

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
  # The highlighting library comes from npm (package.json): npm ci puts it here.
  set(hljs ${PLUGIN_FILES_TOP}/node_modules/@highlightjs/cdn-assets)
  if(NOT EXISTS ${hljs}/package.json)
    message(FATAL_ERROR "${hljs} is missing: run npm ci in ${PLUGIN_FILES_TOP} first")
  endif()
  add_custom_command(
    OUTPUT ${gen}/highlight.js
    COMMAND ${CMAKE_COMMAND} -DLIB=${hljs} -DOUT=${gen}/highlight.js -P ${PLUGIN_FILES_TOP}/cmake/highlight.cmake
    DEPENDS ${hljs}/package.json ${PLUGIN_FILES_TOP}/cmake/highlight.cmake
    COMMENT "Taking the highlighting library into the page")
  file(GLOB_RECURSE page_texts CONFIGURE_DEPENDS ${PLUGIN_FILES_SRC}/page/*)
  add_custom_command(
    OUTPUT ${gen}/page_texts.cpp ${gen}/page_policy.inc
    COMMAND ${CMAKE_COMMAND} -DSRC=${PLUGIN_FILES_SRC}/page -DWORK=${gen}
            -DOUT=${gen}/page_texts.cpp -DOUT_POLICY=${gen}/page_policy.inc
            -P ${PLUGIN_FILES_TOP}/cmake/embed_page.cmake
    DEPENDS ${page_texts} ${gen}/kinds.js ${gen}/highlight.js ${PLUGIN_FILES_TOP}/cmake/embed_page.cmake
    COMMENT "Embedding the page texts")
  set(files ${gen}/page_texts.cpp ${gen}/page_policy.inc ${gen}/kinds_table.inc)
  foreach(name IN LISTS PLUGIN_FILES_ACTIONS PLUGIN_FILES_MODULES PLUGIN_FILES_FS)
    list(APPEND files ${PLUGIN_FILES_SRC}/${name})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()
