#include "engine/media/RtcpFeedbackOrder.h"

#include <QMap>
#include <QTest>

#include <gst/rtp/rtp.h>

namespace {

constexpr quint32 sound = 1111, picture = 2222, resent = 3333;
constexpr quint32 second = 4444;     ///< another participant's picture on the same connection
constexpr quint32 fresh = 5555;      ///< a line's new picture, which no report block names yet
constexpr quint32 unnamed = 0;       ///< a FIR, whose header names no source, about the picture
constexpr quint32 unnamedSecond = 1; ///< a FIR about the second picture

/// A receiver's compound report: blocks about sound, picture and the second picture, then one
/// feedback packet per entry of `asked` (a NACK; a PLI, the last of two for the picture; or a
/// FIR).
GstBuffer *compound(const QList<quint32> &asked)
{
    GstBuffer *buffer = gst_rtcp_buffer_new(1400);
    GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
    gst_rtcp_buffer_map(buffer, GST_MAP_READWRITE, &rtcp);
    GstRTCPPacket packet;
    gst_rtcp_buffer_add_packet(&rtcp, GST_RTCP_TYPE_RR, &packet);
    gst_rtcp_packet_rr_set_ssrc(&packet, 42);
    gst_rtcp_packet_add_rb(&packet, sound, 10, 5, 100, 7, 0, 0);
    gst_rtcp_packet_add_rb(&packet, picture, 20, 9, 200, 8, 0, 0);
    gst_rtcp_packet_add_rb(&packet, second, 30, 11, 300, 9, 0, 0);
    for (const quint32 media : asked) {
        const bool fir = media == unnamed || media == unnamedSecond;
        const bool pli = media == picture && asked.count(picture) > 1 && &media == &asked.last();
        gst_rtcp_buffer_add_packet(&rtcp, pli || fir ? GST_RTCP_TYPE_PSFB : GST_RTCP_TYPE_RTPFB,
                                   &packet);
        gst_rtcp_packet_fb_set_type(&packet, fir   ? GST_RTCP_PSFB_TYPE_FIR
                                             : pli ? GST_RTCP_PSFB_TYPE_PLI
                                                   : GST_RTCP_RTPFB_TYPE_NACK);
        gst_rtcp_packet_fb_set_sender_ssrc(&packet, 42);
        gst_rtcp_packet_fb_set_media_ssrc(&packet, fir ? 0 : media);
        if (fir) { // the source asked, and a request number
            gst_rtcp_packet_fb_set_fci_length(&packet, 2);
            GST_WRITE_UINT32_BE(gst_rtcp_packet_fb_get_fci(&packet),
                                media == unnamed ? picture : second);
            GST_WRITE_UINT32_BE(gst_rtcp_packet_fb_get_fci(&packet) + 4, 0x01000000);
        } else if (!pli) {
            gst_rtcp_packet_fb_set_fci_length(&packet, 1);
            GST_WRITE_UINT32_BE(gst_rtcp_packet_fb_get_fci(&packet), 0x00070000);
        }
    }
    gst_rtcp_buffer_unmap(&rtcp);
    return buffer;
}

struct Read
{
    quint32 firstBlock = 0;
    guint32 firstLost = 0;
    QList<quint32> asked;
    QList<int> kinds; ///< each feedback packet's type and format
};

Read read(GstBuffer *buffer)
{
    Read r;
    GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
    if (!gst_rtcp_buffer_validate(buffer) || !gst_rtcp_buffer_map(buffer, GST_MAP_READ, &rtcp))
        return r;
    GstRTCPPacket packet;
    for (bool more = gst_rtcp_buffer_get_first_packet(&rtcp, &packet); more;
         more = gst_rtcp_packet_move_to_next(&packet)) {
        const GstRTCPType type = gst_rtcp_packet_get_type(&packet);
        if (type == GST_RTCP_TYPE_RR) {
            gint32 lost = 0;
            gst_rtcp_packet_get_rb(&packet, 0, &r.firstBlock, nullptr, &lost, nullptr, nullptr,
                                   nullptr, nullptr);
            r.firstLost = guint32(lost);
        } else if (type == GST_RTCP_TYPE_RTPFB || type == GST_RTCP_TYPE_PSFB) {
            r.asked.append(gst_rtcp_packet_fb_get_media_ssrc(&packet));
            r.kinds.append(type * 100 + gst_rtcp_packet_fb_get_type(&packet));
        }
    }
    gst_rtcp_buffer_unmap(&rtcp);
    return r;
}

} // namespace

class TestRtcpFeedbackOrder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { gst_init(nullptr, nullptr); }

    void pictureFeedbackIsFiledUnderThePicture_data()
    {
        QTest::addColumn<QList<quint32>>("asked");
        QTest::addColumn<quint32>("firstBlock");
        QTest::addColumn<guint32>("firstLost"); // the block moves whole, not just its source
        QTest::addColumn<QList<quint32>>("kept");
        QTest::addColumn<quint32>("last"); // the source kept the time before
        QTest::newRow("nothing asked") << QList<quint32>{} << sound << 5u << QList<quint32>{} << 0u;
        QTest::newRow("picture asked")
            << QList<quint32>{picture} << picture << 9u << QList<quint32>{picture} << 0u;
        QTest::newRow("sound asked first, then the picture twice")
            << QList<quint32>{sound, picture, picture} << picture << 9u
            << QList<quint32>{picture, picture} << 0u;
        QTest::newRow("only sound asked")
            << QList<quint32>{sound} << sound << 5u << QList<quint32>{} << 0u;
        QTest::newRow("a new picture asked by FIR")
            << QList<quint32>{sound, unnamed} << picture << 9u << QList<quint32>{picture} << 0u;
        // Two pictures on one connection: the relay reads a compound against one of them.
        QTest::newRow("two pictures' packets asked")
            << QList<quint32>{second, picture} << second << 11u << QList<quint32>{second} << 0u;
        QTest::newRow("a new second picture asked by FIR")
            << QList<quint32>{picture, unnamedSecond} << second << 11u << QList<quint32>{second}
            << 0u;
        QTest::newRow("a new source's packets asked")
            << QList<quint32>{fresh} << fresh << 5u << QList<quint32>{fresh} << 0u;
        QTest::newRow("two pictures' packets asked, the other's turn")
            << QList<quint32>{second, picture} << picture << 9u << QList<quint32>{picture}
            << second;
    }

    void pictureFeedbackIsFiledUnderThePicture()
    {
        QFETCH(QList<quint32>, asked);
        QFETCH(quint32, last);
        GstBuffer *buffer = compound(asked);
        RtcpFeedbackOrder::Turns turns{last, 0};
        QVERIFY(RtcpFeedbackOrder::reorder(buffer, {picture, resent, second, fresh}, &turns));
        QVERIFY(RtcpFeedbackOrder::reorder(buffer, {})); // before the offer: left as it is
        const Read r = read(buffer);
        gst_buffer_unref(buffer);
        QVERIFY(!r.kinds.contains(GST_RTCP_TYPE_PSFB * 100 + GST_RTCP_PSFB_TYPE_FIR));
        QTEST(r.firstBlock, "firstBlock");
        QTEST(r.firstLost, "firstLost");
        QTEST(r.asked, "kept");
    }

    /// The relay measures a picture's round trip in whole milliseconds, and keeps nothing to
    /// send again while it reads 0: the delay told is a millisecond short.
    void pictureRoundTripIsMeasured_data()
    {
        QTest::addColumn<guint32>("lastReport");
        QTest::addColumn<guint32>("delay");
        QTest::addColumn<guint32>("told");
        QTest::newRow("report 300 ms ago") << 0x1234u << 19661u << 19595u;
        QTest::newRow("report under 1 ms ago") << 0x1234u << 40u << 0u;
        QTest::newRow("no report yet") << 0u << 19661u << 19661u;
    }

    void pictureRoundTripIsMeasured()
    {
        QFETCH(guint32, lastReport);
        QFETCH(guint32, delay);
        GstBuffer *buffer = gst_rtcp_buffer_new(1400);
        GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
        gst_rtcp_buffer_map(buffer, GST_MAP_READWRITE, &rtcp);
        GstRTCPPacket packet;
        gst_rtcp_buffer_add_packet(&rtcp, GST_RTCP_TYPE_RR, &packet);
        gst_rtcp_packet_add_rb(&packet, sound, 0, 0, 100, 7, lastReport, delay);
        gst_rtcp_packet_add_rb(&packet, picture, 0, 0, 200, 8, lastReport, delay);
        gst_rtcp_packet_add_rb(&packet, resent, 0, 0, 300, 8, 0, 0); // no report of its own
        gst_rtcp_packet_add_rb(&packet, second, 0, 0, 400, 8, lastReport, delay);
        gst_rtcp_buffer_unmap(&rtcp);
        QVERIFY(RtcpFeedbackOrder::reorder(buffer, {picture, second, resent}));
        gst_rtcp_buffer_map(buffer, GST_MAP_READ, &rtcp);
        gst_rtcp_buffer_get_first_packet(&rtcp, &packet);
        QMap<quint32, guint32> told;
        for (guint i = 0; i < gst_rtcp_packet_get_rb_count(&packet); ++i) {
            quint32 ssrc = 0;
            guint32 dlsr = 0;
            gst_rtcp_packet_get_rb(&packet, i, &ssrc, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &dlsr);
            told.insert(ssrc, dlsr);
        }
        gst_rtcp_buffer_unmap(&rtcp);
        gst_buffer_unref(buffer);
        QCOMPARE(told.value(sound), delay);
        QTEST(told.value(picture), "told");
        QTEST(told.value(second), "told");
    }

    /// The relay measures a picture's round trip only from reports that lead with its block:
    /// reports without feedback lead with each picture in turn, then with the sound.
    void plainReportsTakeTurnsToLead_data()
    {
        QTest::addColumn<QList<quint32>>("blocks");      // in the order the session writes them
        QTest::addColumn<QList<quint32>>("reported");    // those answering a sender report
        QTest::addColumn<QList<quint32>>("firstBlocks"); // of six reports in a row
        QTest::newRow("one picture")
            << QList<quint32>{picture, sound} << QList<quint32>{picture, sound}
            << QList<quint32>{picture, sound, picture, sound, picture, sound};
        QTest::newRow("two pictures")
            << QList<quint32>{second, sound, picture} << QList<quint32>{picture, second, sound}
            << QList<quint32>{picture, second, sound, picture, second, sound};
        QTest::newRow("a picture not yet reported by its sender")
            << QList<quint32>{picture, second, sound} << QList<quint32>{second, sound}
            << QList<quint32>{second, sound, second, sound, second, sound};
        QTest::newRow("no picture reported yet")
            << QList<quint32>{picture, sound} << QList<quint32>{}
            << QList<quint32>{picture, picture, picture, picture, picture, picture};
    }

    void plainReportsTakeTurnsToLead()
    {
        QFETCH(QList<quint32>, blocks);
        QFETCH(QList<quint32>, reported);
        RtcpFeedbackOrder::Turns turns;
        QList<quint32> firstBlocks;
        for (int i = 0; i < 6; ++i) {
            GstBuffer *buffer = gst_rtcp_buffer_new(1400);
            GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
            gst_rtcp_buffer_map(buffer, GST_MAP_READWRITE, &rtcp);
            GstRTCPPacket packet;
            gst_rtcp_buffer_add_packet(&rtcp, GST_RTCP_TYPE_RR, &packet);
            for (const quint32 source : blocks)
                gst_rtcp_packet_add_rb(&packet, source, 0, 0, 100, 7,
                                       reported.contains(source) ? 0x1234 : 0, 0);
            gst_rtcp_buffer_unmap(&rtcp);
            QVERIFY(RtcpFeedbackOrder::reorder(buffer, {picture, resent, second}, &turns));
            firstBlocks.append(read(buffer).firstBlock);
            gst_buffer_unref(buffer);
        }
        QTEST(firstBlocks, "firstBlocks");
    }

    void videoSourcesComeFromTheVideoMedia()
    {
        const QByteArray sdp = "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=-\r\nt=0 0\r\n"
                               "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\na=ssrc:1111 cname:x\r\n"
                               "m=video 9 UDP/TLS/RTP/SAVPF 96 97\r\na=ssrc:3333 cname:x\r\n"
                               "a=ssrc-group:FID 2222 3333\r\na=ssrc:2222 cname:x\r\n";
        GstSDPMessage *message = nullptr;
        QCOMPARE(gst_sdp_message_new_from_text(sdp.constData(), &message), GST_SDP_OK);
        QCOMPARE(RtcpFeedbackOrder::videoSourcesOf(message), (QList<quint32>{picture, resent}));
        gst_sdp_message_free(message);
    }
};

QTEST_GUILESS_MAIN(TestRtcpFeedbackOrder)
#include "tst_rtcpfeedbackorder.moc"
