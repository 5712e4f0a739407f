#pragma once

#include <QHttpServerResponse>

class MediaAssets;
class ServiceDatabase;
struct ServicesConfig;

/// The live-broadcast REST service: lists, countdowns, cover pictures and the HLS stream.
class LiveEndpoint final
{
public:
    LiveEndpoint(ServiceDatabase &db, const ServicesConfig &config, MediaAssets &media);

    QHttpServerResponse liveList(const QString &coId) const;
    QHttpServerResponse countdown(const QString &coId, const QString &liveId) const;
    QHttpServerResponse cover(const QString &file) const;
    QHttpServerResponse playlist() const;
    QHttpServerResponse segment(const QString &file) const;

private:
    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
    MediaAssets &m_media;
};
