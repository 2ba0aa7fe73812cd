// The LZMA SDK as the package's own units use it: the archive database, the
// CRC and SHA-256 sums, and the plain heap every decoder allocates from.
// Internal to the package (only src/package/*.cpp include it); the SDK's
// headers declare their functions extern "C" themselves.
#pragma once

#include "7z.h"
#include "7zCrc.h"
#include "7zTypes.h"
#include "Sha256.h"

#include <cstdlib>

// The block index the database gives an entry without data.
inline constexpr UInt32 kNoBlock = 0xFFFFFFFF;

// The decoders' allocators are the plain heap, shared by every thread.
inline void* SdkHeapAllocate(ISzAllocPtr, size_t size) { return size ? std::malloc(size) : nullptr; }
inline void SdkHeapRelease(ISzAllocPtr, void* address) { std::free(address); }
inline constexpr ISzAlloc kHeap = {SdkHeapAllocate, SdkHeapRelease};
