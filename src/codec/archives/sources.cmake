# Archives and their wrappers: Yaz0, LZ77, MD5, U8, RARC, banners, member paths.
target_sources(tplforge_codec PRIVATE
  archives/file_kind.cpp archives/lz_parse.cpp archives/lz77.cpp archives/md5.cpp archives/member_path.cpp
  archives/rarc.cpp archives/relay.cpp archives/u8.cpp archives/yaz0.cpp)
