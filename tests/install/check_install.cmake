# Installs the build into a scratch prefix, then builds the README's library
# example against it twice, through the CMake package and through pkg-config,
# and runs it on a TPL file. Also checks the README still shows the example.
#   cmake -DBUILD=... -DSOURCE=... -DWORK=... -DINPUT=... -P check_install.cmake
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix --component Unspecified)

run(${CMAKE_COMMAND} -S ${SOURCE}/examples -B ${WORK}/example -G Ninja -DCMAKE_PREFIX_PATH=${WORK}/prefix)
run(${CMAKE_COMMAND} --build ${WORK}/example)
run(${WORK}/example/read_write ${INPUT} ${WORK}/out.tpl)
file(READ ${WORK}/out.tpl written HEX LIMIT 4)
if(NOT written STREQUAL "0020af30")
  message(FATAL_ERROR "the example wrote no TPL file: ${written}")
endif()

file(GLOB_RECURSE pc ${WORK}/prefix/tplforge.pc)
get_filename_component(pcdir "${pc}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
execute_process(COMMAND pkg-config --cflags --libs tplforge OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know tplforge")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ -std=c++20 ${SOURCE}/examples/read_write.cpp ${flags} -o ${WORK}/read_write_pc)
run(${WORK}/read_write_pc ${INPUT} ${WORK}/out2.tpl)

# The README shows the example as it is compiled here.
file(READ ${SOURCE}/examples/read_write.cpp example)
file(READ ${SOURCE}/README.md readme)
string(FIND "${readme}" "${example}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show examples/read_write.cpp as it is")
endif()
