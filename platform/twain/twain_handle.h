#pragma once
// Movable memory for TWAIN: the DIB handle of a native transfer and the capability containers.
// Same contract as the standard's global memory handles: whoever allocates may hand the handle on,
// the receiver locks it to reach the bytes, unlocks, and frees it. The block lives on the C heap,
// so a handle made inside the source manager library is freed by the application and vice versa.
//
// Everything here is inline so that both sides use the same code without a shared library.
//
// A block may also be borrowed from memory that outlives it (`kept`): freeing leaves it as it is.

#include "platform/twain/twain.h"

#ifdef __cplusplus
#include <cstddef>
#include <cstdlib>
#include <cstring>
#else
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#endif

struct TwHandleBlock {
    size_t size;
    size_t locks;
    size_t kept; // non-zero: the memory belongs to someone else, freeing does nothing
};

// Header size rounded up so the data keeps the heap's alignment.
#define TW_HANDLE_HEADER_SIZE ((sizeof(struct TwHandleBlock) + 15u) & ~(size_t)15u)

// A block of `size` bytes, zero-filled when `zeroFill` is non-zero; NULL when memory runs out.
static inline TW_HANDLE twHandleAlloc(size_t size, int zeroFill) {
    if (size > (size_t)-1 - TW_HANDLE_HEADER_SIZE) {
        return NULL;
    }
    void* raw =
        zeroFill ? calloc(1, TW_HANDLE_HEADER_SIZE + size) : malloc(TW_HANDLE_HEADER_SIZE + size);
    if (!raw) {
        return NULL;
    }
    TW_HANDLE handle = (TW_HANDLE)raw;
    handle->size = size;
    handle->locks = 0;
    handle->kept = 0;
    return handle;
}

static inline void* twHandleLock(TW_HANDLE handle) {
    if (!handle) {
        return NULL;
    }
    ++handle->locks;
    return (unsigned char*)handle + TW_HANDLE_HEADER_SIZE;
}

static inline void twHandleUnlock(TW_HANDLE handle) {
    if (handle && handle->locks > 0) {
        --handle->locks;
    }
}

static inline size_t twHandleSize(TW_HANDLE handle) {
    return handle ? handle->size : 0;
}

// A block over the first `blockBytes` of memory that its owner keeps (the scanner helper's page
// buffer), whose first TW_HANDLE_HEADER_SIZE bytes are free for the block's header: freeing the
// handle leaves the memory. Null when the memory cannot hold a header.
static inline TW_HANDLE twHandleBorrowMapping(void* mapping, size_t blockBytes) {
    if (!mapping || blockBytes < TW_HANDLE_HEADER_SIZE) {
        return NULL;
    }
    TW_HANDLE handle = (TW_HANDLE)mapping;
    handle->size = blockBytes - TW_HANDLE_HEADER_SIZE;
    handle->locks = 0;
    handle->kept = 1;
    return handle;
}

static inline void twHandleFree(TW_HANDLE handle) {
    if (handle && handle->kept) {
        return;
    }
    free(handle);
}
