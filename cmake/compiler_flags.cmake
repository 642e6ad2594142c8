# Flags one compiler takes and another refuses, each checked before it is used:
#   tplforge_source_options(TARGETS t... SOURCES file... OPTIONS flag...)
# adds the flags this compiler knows to those files as the targets build them
# (targets of any folder) and drops the others.
include(CheckCXXCompilerFlag)

function(tplforge_source_options)
  cmake_parse_arguments(ARG "" "" "TARGETS;SOURCES;OPTIONS" ${ARGN})
  set(known)
  foreach(flag IN LISTS ARG_OPTIONS)
    string(MAKE_C_IDENTIFIER "TPLFORGE_HAS${flag}" var)
    check_cxx_compiler_flag(${flag} ${var})
    if(${var})
      list(APPEND known ${flag})
    endif()
  endforeach()
  if(known)
    set_property(SOURCE ${ARG_SOURCES} TARGET_DIRECTORY ${ARG_TARGETS} APPEND PROPERTY COMPILE_OPTIONS ${known})
  endif()
endfunction()
