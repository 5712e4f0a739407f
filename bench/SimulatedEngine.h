#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QWebSocket>

/// A light stand-in for an engine on the conference service's WebSocket, as load tools for such
/// services use: it signs in, enters and leaves a room by its key and chats, without media.
/// What it hears is handed on as parsed messages; the bench decides what to do with them.
class SimulatedEngine final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimulatedEngine)

public:
    SimulatedEngine(int index, int instance, QObject *parent = nullptr);

    void open(const QUrl &url);
    void signIn(const QString &user, const QString &password);
    void enter(const QString &roomKey);
    void leave();
    void chat(const QString &text);

    int index() const { return m_index; }
    int instance() const { return m_instance; }
    bool isSignedIn() const { return m_signedIn; }
    bool inRoom() const { return m_inRoom; }
    /// Its participant id ("u<entity id>") once signed in.
    QString tag() const { return m_tag; }
    /// Whether its session ended without it asking: closed, or signed out by the service.
    bool lost() const { return m_lost; }

Q_SIGNALS:
    void connected();
    void received(const QJsonObject &message);
    void sessionLost(const QString &why);

private:
    void heard(const QString &text);
    void send(const QJsonObject &message);
    void loseSession(const QString &why);

    QWebSocket m_socket;
    int m_index;
    int m_instance;
    QString m_tag;
    bool m_signedIn = false;
    bool m_inRoom = false;
    bool m_lost = false;
};
