#pragma once

/* The conferencing library interface. Any engine that honours these five functions, the
 * record layouts of ConfRecords.h and the out-event callback can serve the client. */

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*ConfClientOutEventCallback)(uint32_t event, void *record, uint32_t size,
                                           void *userData);

typedef struct
{
    const char *filter;
    uintptr_t level;
    const char *pathPrefix;
    const char *filePrefix;
    void *reserved1;
    void *reserved2;
} ConfClientLogParams; /* six pointer-size fields */

typedef struct
{
    int32_t x, y, width, height;
} ConfClientRect;

bool ConfClientConsoleLogConfigure(int enable);
bool ConfClientInitialize(ConfClientOutEventCallback callback, void *userData,
                          const ConfClientLogParams *log);
bool ConfClientStart(ConfClientOutEventCallback callback, void *userData,
                     const ConfClientLogParams *log, void *videoView, const ConfClientRect *rect,
                     void *reserved, const uint8_t options[80], int reserved2);
uint32_t ConfClientSendRequest(uint32_t id, void *record, uint32_t size); /* 0 = success */
bool ConfClientSendEvent(uint32_t id, void *record, uint32_t size);

#ifdef __cplusplus
}
#endif
