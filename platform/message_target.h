#pragma once
// A window's message queue as seen from code that knows nothing of Qt: a plain C structure with a
// context and a post function. The UI runtime makes one for each message window
// (ui/message_window.h); the TWAIN source manager receives it as the parent window and posts to it
// from its scan thread.
//
// Contract: `post` may be called from any thread. It returns 1 when the message was queued and 0
// when the window is gone; a post after the window's destruction is harmless. The message arrives
// later on the GUI thread, in the window's procedure.

#ifdef __cplusplus
#include <cstdint>
extern "C" {
#else
#include <stdint.h>
#endif

typedef struct VantrelMessageTarget {
    void* context;
    int (*post)(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam);
} VantrelMessageTarget;

#ifdef __cplusplus
}
#endif
