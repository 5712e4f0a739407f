#pragma once

typedef struct _GstElement GstElement;

/// Takes `pipeline` to NULL, which joins its streaming threads, and removes its bus's sync
/// handler, so that nothing of it calls its owner any more. The reference stays the caller's.
void stopPipeline(GstElement *pipeline);
