# liblzma's LZMA2 encoder for a mingw build, which Debian does not package, compiled from
# Debian's source package xz-utils of the version the native build links: vexa.exe then
# compresses to the same bytes as vexa. Only what the packer calls: the raw encoder with
# the LZMA2 and x86 filters, the presets and the properties byte. (Debian's patches of
# this version mend the decoders and the index, none of which is compiled here.) Defines
# vexa_liblzma.

include(${CMAKE_CURRENT_LIST_DIR}/debian_source.cmake)

vexa_debian_source_as_installed(liblzma-dev xz-utils tar.xz xz xz_source)

set(liblzma ${xz_source}/src/liblzma)
add_library(vexa_liblzma STATIC
  ${liblzma}/common/common.c ${liblzma}/common/filter_common.c
  ${liblzma}/common/filter_encoder.c ${liblzma}/lz/lz_encoder.c ${liblzma}/lz/lz_encoder_mf.c
  ${liblzma}/lzma/lzma_encoder.c ${liblzma}/lzma/lzma_encoder_optimum_fast.c
  ${liblzma}/lzma/lzma_encoder_optimum_normal.c ${liblzma}/lzma/lzma_encoder_presets.c
  ${liblzma}/lzma/lzma2_encoder.c ${liblzma}/lzma/fastpos_table.c
  ${liblzma}/rangecoder/price_table.c ${liblzma}/simple/simple_coder.c
  ${liblzma}/simple/simple_encoder.c ${liblzma}/simple/x86.c ${liblzma}/check/crc32_table.c)
# What configure would find for this target, and every match finder the presets use.
target_compile_definitions(vexa_liblzma
  PRIVATE HAVE_STDINT_H HAVE_INTTYPES_H HAVE_STDBOOL_H HAVE__BOOL HAVE_ENCODER_LZMA2
          HAVE_ENCODER_X86 HAVE_MF_HC3 HAVE_MF_HC4 HAVE_MF_BT2 HAVE_MF_BT3 HAVE_MF_BT4
          TUKLIB_SYMBOL_PREFIX=lzma_ TUKLIB_FAST_UNALIGNED_ACCESS
  PUBLIC LZMA_API_STATIC)
target_include_directories(vexa_liblzma
  PRIVATE ${liblzma}/common ${liblzma}/lz ${liblzma}/lzma ${liblzma}/rangecoder
          ${liblzma}/simple ${liblzma}/check ${liblzma}/delta ${xz_source}/src/common
  SYSTEM PUBLIC ${liblzma}/api)
# The encoder is the slow part of packing: optimised for speed, whatever the build type.
target_compile_options(vexa_liblzma PRIVATE -O2 -w)
