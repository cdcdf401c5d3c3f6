#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QLocalServer;

// Keeps one running application per store: the first instance listens on a private
// local socket named after its data folder; later starts and command-line tools send
// it requests (one JSON object each) and read one JSON reply.
class InstanceChannel : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<QJsonObject(const QJsonObject &request)>;

    // socketName identifies the store, so instances of different stores never meet.
    explicit InstanceChannel(const QString &socketName, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // The socket name for the store in dataFolder.
    static QString socketNameFor(const QString &dataFolder);

    // Starts listening unless another instance already does. False when one runs.
    bool listen();
    // Requests are answered on the main thread by this handler.
    void setHandler(Handler handler);

    // Sends one request to the running instance and waits (bounded) for its reply;
    // none when no instance runs or it did not answer in time.
    std::optional<QJsonObject> send(const QJsonObject &request, int timeoutMs = 5000) const;

private:
    void answerPendingConnections();

    QString m_socketName;
    QLocalServer *m_server = nullptr;
    Handler m_handler;
};
