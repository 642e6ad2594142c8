# Texture containers besides TPL: BTI and J3D, BRRES with TEX0 and PLT0, banners.
target_sources(tplforge_codec PRIVATE
  containers/banners.cpp containers/brres.cpp containers/bti.cpp containers/common.cpp containers/tex0.cpp
  containers/textures.cpp)
