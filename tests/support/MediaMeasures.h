#pragma once

#include <QString>

class QColor;
class QImage;

// What end-to-end media tests measure of the sound and pictures that arrived.

/// Why this machine offers no ICE candidate (it has no non-loopback IPv4 address), or empty.
QString iceUnavailable();
/// Why media cannot flow through Janus on this machine, or empty.
QString mediaUnavailable();

/// The amplitude of `hz` in the last fifth of a second of a raw S16LE 48 kHz mono file.
double levelAt(const QString &path, int hz);

/// The share of the picture's pixels that show `colour` (VP8 moves colours a little).
double shareOf(const QImage &image, const QColor &colour);
