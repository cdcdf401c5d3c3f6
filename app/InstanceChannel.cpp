#include "app/InstanceChannel.h"

#include "platform/log/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
// Requests are small; anything larger is not ours.
constexpr qint64 maxMessageBytes = 1024 * 1024;
}

InstanceChannel::InstanceChannel(const QString &socketName, QObject *parent)
    : QObject(parent)
    , m_socketName(socketName)
{
}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::socketNameFor(const QString &dataFolder)
{
    const QByteArray digest = QCryptographicHash::hash(QDir(dataFolder).absolutePath().toUtf8(),
                                                       QCryptographicHash::Sha256);
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    return runtime + QStringLiteral("/kestrelnote-") + QString::fromLatin1(digest.toHex().left(16));
}

bool InstanceChannel::listen()
{
    if (m_server)
        return true;
    // Anyone listening is a running instance, also one too busy to answer at once (a slow
    // clipboard owner, a long save): its socket must stay.
    {
        QLocalSocket probe;
        probe.connectToServer(m_socketName);
        if (probe.waitForConnected(1000))
            return false;
    }
    // Nobody listens: a socket file left behind by a crash is stale.
    QLocalServer::removeServer(m_socketName);
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_socketName)) {
        klog::error(klog::Category::App,
                    QStringLiteral("could not listen for other instances: %1").arg(server->errorString()));
        delete server;
        return false;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::answerPendingConnections);
    return true;
}

void InstanceChannel::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void InstanceChannel::answerPendingConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (socket->bytesAvailable() > maxMessageBytes) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QJsonDocument document = QJsonDocument::fromJson(socket->readLine());
            QJsonObject reply;
            if (!document.isObject()) {
                reply = {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("malformed request")}};
            } else if (document.object().value(QStringLiteral("command")) == QLatin1String("ping")) {
                reply = {{QStringLiteral("ok"), true}};
            } else if (m_handler) {
                reply = m_handler(document.object());
            } else {
                reply = {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("not ready")}};
            }
            socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

std::optional<QJsonObject> InstanceChannel::send(const QJsonObject &request, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(timeoutMs))
        return std::nullopt;
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return std::nullopt;
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (!socket.waitForReadyRead(timeoutMs))
            break;
        reply += socket.readAll();
        if (reply.size() > maxMessageBytes)
            return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(reply.trimmed());
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}
