# One place for the warning flags every target of ours gets.
add_library(tplforge_warnings INTERFACE)
target_compile_options(tplforge_warnings INTERFACE -Wall -Wextra -Wpedantic)
# GCC 12 at -O3 warns of overlapping copies inside std::string's own operator+
# (GCC bug 105329), which no code of ours can avoid.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tplforge_warnings INTERFACE -Wno-restrict)
endif()
if(TPLFORGE_WERROR)
  target_compile_options(tplforge_warnings INTERFACE -Werror)
endif()

# Registers a GoogleTest or Qt Test executable with CTest, one CTest entry per
# executable so that the closing summary counts them.
function(tplforge_add_test name)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
