# The third-party picture decoders behind the Qt picture loader, found once for
# the loader itself and for the fuzz target that runs it.
find_package(Qt6 REQUIRED COMPONENTS Gui Svg)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBWMF REQUIRED IMPORTED_TARGET libwmf)
# libwmf's gd headers include their siblings by bare name.
find_path(LIBWMF_GD_INCLUDE_DIR gd_io.h PATH_SUFFIXES libwmf/gd REQUIRED)
# libemf2svg ships no pkg-config file.
find_library(EMF2SVG_LIBRARY emf2svg REQUIRED)
find_path(EMF2SVG_INCLUDE_DIR emf2svg.h REQUIRED)
