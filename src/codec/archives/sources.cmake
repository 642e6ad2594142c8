# Archives and their wrappers: Yaz0, LZ77, MD5, U8, RARC, banners, member paths.
target_sources(tplforge_codec PRIVATE archives/lz_parse.cpp archives/lz77.cpp archives/md5.cpp archives/yaz0.cpp)
