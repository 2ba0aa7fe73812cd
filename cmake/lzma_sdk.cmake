# The LZMA SDK's C 7z decoder, compiled from the source that tools/setup.sh
# unpacks under deps/. Only the files the decoder and the payload digest
# (SHA-256) need are built.
set(LZMA_SDK_DIR "${CMAKE_SOURCE_DIR}/deps/7zip/C" CACHE PATH "The C folder of the LZMA SDK")
if(NOT EXISTS "${LZMA_SDK_DIR}/7zArcIn.c")
  message(FATAL_ERROR "LZMA SDK not found in ${LZMA_SDK_DIR}: run tools/setup.sh first")
endif()

set(lzma_sdk_sources 7zAlloc.c 7zArcIn.c 7zBuf.c 7zBuf2.c 7zCrc.c 7zCrcOpt.c 7zDec.c
    7zFile.c 7zStream.c Alloc.c Bcj2.c Bra.c Bra86.c BraIA64.c CpuArch.c Delta.c
    Lzma2Dec.c LzmaDec.c Sha256.c Sha256Opt.c)
list(TRANSFORM lzma_sdk_sources PREPEND "${LZMA_SDK_DIR}/")
add_library(lzma_sdk STATIC ${lzma_sdk_sources})
# The SDK is a dependency: its own warnings are not ours to fix.
target_compile_options(lzma_sdk PRIVATE -O2 -w)
target_include_directories(lzma_sdk SYSTEM PUBLIC "${LZMA_SDK_DIR}")
