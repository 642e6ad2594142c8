# A program that drops a result of the library must fail to compile with the
# project's warnings, one that reads them must compile.
#   cmake -DCXX=... -DSOURCE=... -DBUILD=... -DWORK=... -DPROGRAM=.../ignored_result.cpp -P nodiscard.cmake
file(MAKE_DIRECTORY ${WORK})
set(flags -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I${SOURCE}/include -I${BUILD}/include)
set(program ${PROGRAM})
execute_process(COMMAND ${CXX} ${flags} ${program} RESULT_VARIABLE status ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the program that reads every result does not compile:\n${out}")
endif()
foreach(call "tplforge::writeFileAtomically(\"\", bytes)" "tplforge::parseTpl(bytes)")
  execute_process(COMMAND ${CXX} ${flags} "-DDROP_RESULT=${call}" ${program} RESULT_VARIABLE status
                  ERROR_VARIABLE out)
  if(status EQUAL 0)
    message(FATAL_ERROR "dropping the result of ${call} compiles")
  endif()
  if(NOT out MATCHES "nodiscard|ignoring return value")
    message(FATAL_ERROR "dropping the result of ${call} fails for another reason:\n${out}")
  endif()
endforeach()
