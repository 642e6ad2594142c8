# Every third-party dependency, found once and one way each: CMake packages where
# Debian ships them, pkg-config where it ships only that, find_library for
# libemf2svg, which ships neither. The Qt side is found only for the GUI build.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
# PNG's deflate both ways and its CRC-32. The programs take Debian's static
# archive of it where there is one (its objects are position-independent): a
# short run such as `info` pays for every shared library it loads.
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET GLOBAL libdeflate)
list(GET DEFLATE_LINK_LIBRARIES 0 TPLFORGE_DEFLATE_SHARED)
get_filename_component(TPLFORGE_DEFLATE_DIR "${TPLFORGE_DEFLATE_SHARED}" DIRECTORY)
set(TPLFORGE_DEFLATE_STATIC "${TPLFORGE_DEFLATE_DIR}/libdeflate.a")
# XXH64, the hash of the Dolphin emulator's texture names; its static archive
# taken the same way.
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET GLOBAL libxxhash)
list(GET XXHASH_LINK_LIBRARIES 0 TPLFORGE_XXHASH_SHARED)
get_filename_component(TPLFORGE_XXHASH_DIR "${TPLFORGE_XXHASH_SHARED}" DIRECTORY)
set(TPLFORGE_XXHASH_STATIC "${TPLFORGE_XXHASH_DIR}/libxxhash.a")
find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json CONFIG REQUIRED)

if(BUILD_TESTING)
  find_package(GTest CONFIG REQUIRED)
endif()
# libspng: the reference PNG reader and writer of the tests, the fuzz targets and
# the benchmarks (the library reads and writes PNG itself).
if(BUILD_TESTING OR TPLFORGE_BENCH OR TPLFORGE_FUZZ)
  pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET GLOBAL spng)
endif()

if(TPLFORGE_GUI OR TPLFORGE_FUZZ)
  find_package(Qt6 REQUIRED COMPONENTS Gui Widgets Svg)
  if(BUILD_TESTING)
    find_package(Qt6 REQUIRED COMPONENTS Test)
  endif()
  pkg_check_modules(LIBWMF REQUIRED IMPORTED_TARGET GLOBAL libwmf)
  # libwmf's gd headers include their siblings by bare name.
  find_path(LIBWMF_GD_INCLUDE_DIR gd_io.h PATH_SUFFIXES libwmf/gd REQUIRED)
  find_library(EMF2SVG_LIBRARY emf2svg REQUIRED)
  find_path(EMF2SVG_INCLUDE_DIR emf2svg.h REQUIRED)
endif()

if(TPLFORGE_BENCH)
  find_package(benchmark CONFIG REQUIRED)
  # The PNG benchmark inflates the photo's stream with ISA-L and zlib beside libdeflate.
  pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
  pkg_check_modules(ISAL REQUIRED IMPORTED_TARGET libisal)
  # The CMPR benchmark's peers: optional, the benchmark leaves them out when missing.
  find_library(SQUISH_LIBRARY squish)
  find_path(SQUISH_INCLUDE_DIR squish.h)
  find_library(STB_LIBRARY stb)
  find_path(STB_DXT_INCLUDE_DIR stb_dxt.h PATH_SUFFIXES stb)
endif()

if(TPLFORGE_PYTHON)
  find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module NumPy)
  find_package(pybind11 CONFIG REQUIRED)
endif()
