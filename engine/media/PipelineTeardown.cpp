#include "engine/media/PipelineTeardown.h"

#include <gst/gst.h>

void stopPipeline(GstElement *pipeline)
{
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstBus *bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
}
