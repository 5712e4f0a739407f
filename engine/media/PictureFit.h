#pragma once

#include <QSize>

#include <gst/gst.h>

/// Scales a stream's pictures, before they are converted for the painter, down to the width the
/// painter shows them at: converting and drawing a picture larger than its tile was much of
/// what each picture cost, and a picture of the tile's size is drawn without scaling. Made with
/// the stream's pipeline; adjust() runs on its streaming thread.
class PictureFit final
{
    Q_DISABLE_COPY_MOVE(PictureFit)

public:
    /// `scaler` names the stream's `videoscale` in `bin`, `size` the capsfilter after it.
    PictureFit(GstElement *bin, const char *scaler, const char *size);
    ~PictureFit();

    /// Asks for pictures `shownWidth` wide (as decoded for 0, or when that is no smaller), and
    /// says the size they are decoded at.
    QSize adjust(int shownWidth);

private:
    GstPad *m_in = nullptr;
    GstElement *m_size = nullptr;
    int m_applied = 0; ///< the width asked for, 0 for as decoded
};
