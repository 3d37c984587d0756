# Static libraries compiled from Debian's source packages (fetched by scripts/setup.sh):
#   VELUM_DEPS_SRC/7zip       the LZMA SDK's C 7z decoder
#   VELUM_DEPS_SRC/boringssl  BoringSSL, of which only SHA-256 is built (with its assembly)
# Headers go through a directory of links so the SDK's generic names (Alloc.h, ...)
# never shadow anything.

set(TP_INCLUDE ${CMAKE_BINARY_DIR}/3p-include)
file(MAKE_DIRECTORY ${TP_INCLUDE})
file(CREATE_LINK ${VELUM_DEPS_SRC}/7zip/C ${TP_INCLUDE}/lzma SYMBOLIC)

set(LZMA_C ${VELUM_DEPS_SRC}/7zip/C)
if(NOT EXISTS ${LZMA_C}/7zArcIn.c)
  message(FATAL_ERROR "7zip sources not found in ${LZMA_C}: run scripts/setup.sh")
endif()
# What SzArEx_Open/SzArEx_Extract pull in, BCJ and BCJ2 included; 7zAlloc/7zFile are helpers.
add_library(lzma_sdk STATIC
  ${LZMA_C}/7zArcIn.c   ${LZMA_C}/7zBuf.c     ${LZMA_C}/7zCrc.c     ${LZMA_C}/7zCrcOpt.c
  ${LZMA_C}/7zDec.c     ${LZMA_C}/7zStream.c  ${LZMA_C}/Bcj2.c      ${LZMA_C}/Bra.c
  ${LZMA_C}/Bra86.c     ${LZMA_C}/Delta.c     ${LZMA_C}/Lzma2Dec.c  ${LZMA_C}/LzmaDec.c
  ${LZMA_C}/7zAlloc.c   ${LZMA_C}/7zFile.c)
target_compile_definitions(lzma_sdk PRIVATE Z7_EXTRACT_ONLY)
target_include_directories(lzma_sdk INTERFACE ${TP_INCLUDE})   # #include "lzma/7z.h"
set_target_properties(lzma_sdk PROPERTIES C_STANDARD 99)

set(BSSL ${VELUM_DEPS_SRC}/boringssl)
if(NOT EXISTS ${BSSL}/src/crypto/fipsmodule/sha/sha256.c)
  message(FATAL_ERROR "boringssl sources not found in ${BSSL}: run scripts/setup.sh")
endif()
# The smallest closure that links: sha256.c -> OPENSSL_cleanse (mem.c) -> ERR (err.c,
# err_data.c) -> thread helpers (BoringSSL uses pthreads on MinGW).
add_library(bssl_sha256 STATIC
  ${BSSL}/src/crypto/fipsmodule/sha/sha256.c
  ${BSSL}/src/crypto/mem.c
  ${BSSL}/src/crypto/err/err.c
  ${BSSL}/src/crypto/thread_pthread.c
  ${BSSL}/err_data.c)
target_include_directories(bssl_sha256 PUBLIC ${BSSL}/src/include)
target_compile_definitions(bssl_sha256
  PRIVATE BORINGSSL_IMPLEMENTATION WIN32_LEAN_AND_MEAN NOMINMAX)
set_target_properties(bssl_sha256 PROPERTIES C_STANDARD 11)

# The package is hashed on every install, so SHA-256 runs on the source package's own
# win64 assembly, assembled with nasm. The assembly picks its code path (SHA extensions,
# AVX, SSSE3 or plain x86-64) from OPENSSL_ia32cap_P, which crypto.c defines and fills
# through cpu_intel.c in a static constructor; crypto.c needs fork_detect.c to link.
# Without nasm the library falls back to its portable C (OPENSSL_NO_ASM).
find_program(VELUM_NASM nasm)
set(BSSL_SHA256_ASM ${BSSL}/win-x86_64/crypto/fipsmodule/sha256-x86_64.asm)
if(VELUM_NASM AND EXISTS ${BSSL_SHA256_ASM})
  set(BSSL_SHA256_OBJ ${CMAKE_BINARY_DIR}/3p-obj/sha256-x86_64.obj)
  add_custom_command(OUTPUT ${BSSL_SHA256_OBJ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/3p-obj
    COMMAND ${VELUM_NASM} -f win64 -o ${BSSL_SHA256_OBJ} ${BSSL_SHA256_ASM}
    DEPENDS ${BSSL_SHA256_ASM}
    COMMENT "Assembling BoringSSL's SHA-256 with nasm")
  target_sources(bssl_sha256 PRIVATE
    ${BSSL_SHA256_OBJ}
    ${BSSL}/src/crypto/crypto.c
    ${BSSL}/src/crypto/cpu_intel.c
    ${BSSL}/src/crypto/fipsmodule/rand/fork_detect.c)
  message(STATUS "SHA-256: BoringSSL x86-64 assembly (${VELUM_NASM})")
else()
  target_compile_definitions(bssl_sha256 PUBLIC OPENSSL_NO_ASM)
  message(WARNING "nasm not found: SHA-256 uses BoringSSL's portable C")
endif()

# zlib: without this CMake picks the import library and every EXE needs zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
