# libvorn's sources in three parts, named once for both builds that use them:
# the native one (compress/CMakeLists.txt) and the installer stub
# (setup/win32/CMakeLists.txt), which takes the core and the expanders only.
# A new file goes in one list here and reaches every build that needs it.
include_guard(DIRECTORY)

# Streams, the header, the engine, the component and TVornCodec's expand
# side, with the platform's file and clock shims.
if(WIN32)
  set(vorn_platform win32)
else()
  set(vorn_platform posix)
endif()
set(VORN_CORE_SOURCES
  clock_${vorn_platform}.cpp
  component.cpp
  engine.cpp
  file_stream_${vorn_platform}.cpp
  stream.cpp
  vorn_codec.cpp
  vorn_header.cpp
)

# The expanders' table, the expanders and what a codec's two directions share.
set(VORN_EXPANDER_SOURCES
  expander_table.cpp
  rle.cpp
  lh5/lh5_expand.cpp
  lh5/lh5_state.cpp
  lzh/lzh_expand.cpp
  lzh/lzh_model.cpp
  lzh/lzh_prefix_table.cpp
  lzma/crc32.cpp
  lzma/lzma_chunks.cpp
  lzma/lzma_expand.cpp
  lzma/lzma_format.cpp
  lzma/lzma_method.cpp
  lzma/lzma_symbols.cpp
  lzma/x86_filter.cpp
)

# The compressors' table, the compressors and TVornCodec's compress side.
set(VORN_COMPRESSOR_SOURCES
  compressor_table.cpp
  rle_compress.cpp
  vorn_codec_compress.cpp
  lh5/lh5_block_coder.cpp
  lh5/lh5_compress.cpp
  lzh/lzh_compress.cpp
  lzh/lzh_match.cpp
  lzma/lzma_chain.cpp
  lzma/lzma_compress.cpp
  lzma/lzma_writer.cpp
  lzma/x86_encode.cpp
)

foreach(part CORE EXPANDER COMPRESSOR)
  list(TRANSFORM VORN_${part}_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
endforeach()
