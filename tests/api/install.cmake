# Installs the library into a scratch prefix, then builds the README's library
# example against it twice, through the CMake package and through pkg-config,
# and runs it on a TPL file. KIND=static installs this build; KIND=shared makes
# a build of the shared library first. Also checks what the install holds: a
# version macro, no header or symbol of the window's rules, a shared library
# exporting only the public API under its versioned name, a tplforge-cli of the
# shared build that starts from the prefix with no LD_LIBRARY_PATH; and that the
# README still shows the example. With PYTHON, PYTHON_DIR and VERSION (static only):
# also installs the Python module and imports it from the prefix.
# The archive example replaces a member's texture of ARCHIVE with PICTURE; with
# CLI, the other textures are held to decode as before.
#   cmake -DBUILD=... -DSOURCE=... -DKIND=static|shared -DWORK=... -DCXX=... -DINPUT=...
#         -DARCHIVE=... -DPICTURE=... [-DCLI=...]
#         [-DPYTHON=... -DPYTHON_DIR=... -DVERSION=...] -P install.cmake
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
if(KIND STREQUAL "shared")
  # Unoptimised: the library only has to link and run the example, and builds a third faster so.
  run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_SHARED_LIBS=ON
      -DTPLFORGE_GUI=OFF -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER=${CXX})
  run(${CMAKE_COMMAND} --build ${WORK}/build --target tplforge_codec tplforge-cli)
  set(BUILD ${WORK}/build)
endif()
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component library)

# The programs' side of an install: manual pages that man reads, the completion.
if(KIND STREQUAL "static")
  run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component programs)
  foreach(page tplforge-cli tplforge)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 man -l ${prefix}/share/man/man1/${page}.1
                    RESULT_VARIABLE status OUTPUT_VARIABLE shown ERROR_VARIABLE complaints)
    if(NOT status EQUAL 0 OR NOT shown MATCHES "NAME" OR NOT shown MATCHES "${page}")
      message(FATAL_ERROR "man -l ${page}.1 does not show the page (${status}):\n${shown}${complaints}")
    endif()
  endforeach()
  if(NOT EXISTS ${prefix}/share/bash-completion/completions/tplforge-cli)
    message(FATAL_ERROR "no bash completion installed")
  endif()
endif()

# What the prefix holds.
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
file(READ ${prefix}/include/tplforge/version.h version)
if(NOT version MATCHES "#define TPLFORGE_VERSION_STRING \"[0-9]+\\.[0-9]+\\.[0-9]+\"")
  message(FATAL_ERROR "the installed version.h has no version macro")
endif()
foreach(file IN LISTS installed)
  if(file MATCHES "include/tplforge/(window_|picture_reader)")
    message(FATAL_ERROR "the library installs a header of the programs' own: ${file}")
  endif()
endforeach()
if(KIND STREQUAL "shared")
  file(GLOB library ${prefix}/lib*/libtplforge.so.*.*.*)
  file(GLOB link ${prefix}/lib*/libtplforge.so)
  if(NOT library OR NOT link)
    message(FATAL_ERROR "no versioned libtplforge.so in ${prefix}: ${installed}")
  endif()
  execute_process(COMMAND readelf -d ${library} OUTPUT_VARIABLE dynamic)
  if(NOT dynamic MATCHES "SONAME\\)[^\n]*libtplforge\\.so\\.[0-9]+\\.[0-9]+\\]")
    message(FATAL_ERROR "libtplforge.so has no MAJOR.MINOR soname:\n${dynamic}")
  endif()
  execute_process(COMMAND nm -DC --defined-only ${library} OUTPUT_VARIABLE symbols)
  set(sorts "tplforge::parseTpl" "tplforge::encodeTpl" "tplforge::readPng" "tplforge::version")
  foreach(wanted IN LISTS sorts)
    string(FIND "${symbols}" "${wanted}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "libtplforge.so does not export ${wanted}")
    endif()
  endforeach()
  if(symbols MATCHES "tplforge::(cmpr|palette|block_rows|runs|blocks)::")
    message(FATAL_ERROR "libtplforge.so exports internal symbols")
  endif()

  # The program finds the library of its own prefix, a prefix the loader does not search.
  run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component programs)
  set(cli ${prefix}/bin/tplforge-cli)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${cli} --version
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0 OR NOT out MATCHES "^tplforge-cli [0-9]+\\.[0-9]+\\.[0-9]+")
    message(FATAL_ERROR "the installed tplforge-cli does not start (${status}):\n${out}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ldd ${cli} OUTPUT_VARIABLE linked)
  if(NOT linked MATCHES "libtplforge\\.so\\.[0-9.]+ => ${prefix}/")
    message(FATAL_ERROR "the installed tplforge-cli does not load the prefix's libtplforge:\n${linked}")
  endif()
else()
  file(GLOB library ${prefix}/lib*/libtplforge.a)
  execute_process(COMMAND nm -C ${library} OUTPUT_VARIABLE symbols)
endif()
if(symbols MATCHES "window_rules")
  message(FATAL_ERROR "the library holds the window's rules")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE}/examples -B ${WORK}/example -G Ninja -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK}/example)
run(${WORK}/example/read_write ${INPUT} ${WORK}/out.tpl)
file(READ ${WORK}/out.tpl written HEX LIMIT 4)
if(NOT written STREQUAL "0020af30")
  message(FATAL_ERROR "the example wrote no TPL file: ${written}")
endif()

# The archive example on a Yaz0 archive of real textures: the member's texture
# changes, and every other texture decodes as before.
run(${WORK}/example/replace_in_archive ${ARCHIVE} timg/logo.tpl ${PICTURE} ${WORK}/edited.szs)
if(CLI)
  run(${CLI} decode ${ARCHIVE} -o ${WORK}/before)
  run(${CLI} decode ${WORK}/edited.szs -o ${WORK}/after)
  get_filename_component(stem ${ARCHIVE} NAME_WE)
  file(GLOB_RECURSE pictures RELATIVE ${WORK}/before/${stem} ${WORK}/before/${stem}/*.png)
  list(LENGTH pictures count)
  if(count LESS 2)
    message(FATAL_ERROR "the archive decoded to ${count} pictures")
  endif()
  foreach(picture IN LISTS pictures)
    file(SHA256 ${WORK}/before/${stem}/${picture} was)
    file(SHA256 ${WORK}/after/edited/${picture} now)
    if(picture STREQUAL "timg/logo.png" AND was STREQUAL now)
      message(FATAL_ERROR "replace_in_archive left timg/logo.tpl as it was")
    elseif(NOT picture STREQUAL "timg/logo.png" AND NOT was STREQUAL now)
      message(FATAL_ERROR "replace_in_archive changed ${picture} too")
    endif()
  endforeach()
endif()

file(GLOB_RECURSE pc ${prefix}/tplforge.pc)
get_filename_component(pcdir "${pc}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
execute_process(COMMAND pkg-config --cflags --libs tplforge OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know tplforge")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++20 ${SOURCE}/examples/read_write.cpp ${flags} -o ${WORK}/read_write_pc)
get_filename_component(libdir "${pcdir}" DIRECTORY)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${WORK}/read_write_pc ${INPUT} ${WORK}/out2.tpl)
file(READ ${WORK}/out2.tpl written HEX LIMIT 4)
if(NOT written STREQUAL "0020af30")
  message(FATAL_ERROR "the pkg-config build of the example wrote no TPL file: ${written}")
endif()

# The Python module, found through PYTHONPATH alone, from a folder that holds no
# other copy of it.
if(PYTHON)
  run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component python)
  foreach(file __init__.py __init__.pyi py.typed)
    if(NOT EXISTS ${prefix}/${PYTHON_DIR}/tplforge/${file})
      message(FATAL_ERROR "the Python package has no ${file} in ${prefix}/${PYTHON_DIR}/tplforge")
    endif()
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PYTHON_DIR}
                          ${PYTHON} -c "import tplforge; print(tplforge.__version__); print(tplforge.__file__)"
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "${VERSION}\n${prefix}/${PYTHON_DIR}/tplforge/__init__.py")
    message(FATAL_ERROR "python3 -c 'import tplforge' from ${prefix}/${PYTHON_DIR} gave:\n${out}")
  endif()
endif()

# The README shows the example as it is compiled here.
file(READ ${SOURCE}/examples/read_write.cpp example)
file(READ ${SOURCE}/README.md readme)
string(FIND "${readme}" "${example}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show examples/read_write.cpp as it is")
endif()
