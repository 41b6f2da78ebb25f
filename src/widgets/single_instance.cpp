#include "widgets/single_instance.h"

#include "platform/file_lock.h"

#include "common/error_codes.h"
#include "common/md5.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>


namespace brindle {

namespace {

// The one command a second instance sends. A client that sends anything
// else, more than this, or nothing within the limit is cut off.
constexpr char SHOW_COMMAND[] = "BRINDLE SHOW\n";
constexpr qint64 SHOW_COMMAND_SIZE = sizeof SHOW_COMMAND - 1;
constexpr int CLIENT_LIMIT_MS = 5000;
constexpr int CONNECT_LIMIT_MS = 2000;

} // namespace

uint32_t SingleInstanceName(std::string_view program, const std::string& dataFolder,
                            QString& name) {
    // The same folder as the relay lock file (WebDavLockPath).
    std::string folder;
    if (uint32_t rc = RuntimeLockFolder(folder); rc != 0)
        return rc;
    std::string path = folder + "/" + std::string(program) + "-" + Md5HexOf(dataFolder);
    name = QString::fromStdString(path);
    return 0;
}

SingleInstance::SingleInstance(std::string_view program, const std::string& dataFolder,
                               QObject* parent)
    : QObject(parent) {
    nNameError_ = SingleInstanceName(program, dataFolder, name_);
}

SingleInstance::~SingleInstance() = default;

uint32_t SingleInstance::Listen() {
    if (nNameError_ != 0)
        return nNameError_;
    if (server_ && server_->isListening())
        return 0;
    {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (probe.waitForConnected(CONNECT_LIMIT_MS))
            return ERROR_ALREADY_EXISTS_CODE;
    }
    // Nobody answers: whatever file is there is left from a crashed run.
    QLocalServer::removeServer(name_);
    delete server_;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
    if (server_->listen(name_))
        return 0;
    switch (server_->serverError()) {
    case QAbstractSocket::AddressInUseError:
        return ERROR_ALREADY_EXISTS_CODE;
    case QAbstractSocket::SocketAccessError:
        return ERROR_ACCESS_DENIED_CODE;
    default:
        return ERROR_INVALID_PARAMETER_CODE; // a path too long for a socket, say
    }
}

uint32_t SingleInstance::NotifyRunning() {
    if (nNameError_ != 0)
        return nNameError_;
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(CONNECT_LIMIT_MS))
        return ERROR_FILE_NOT_FOUND_CODE;
    socket.write(SHOW_COMMAND, SHOW_COMMAND_SIZE);
    if (!socket.waitForBytesWritten(CONNECT_LIMIT_MS))
        return ERROR_CONNECTION_ABORTED_CODE;
    socket.disconnectFromServer();
    return 0;
}

void SingleInstance::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        QTimer::singleShot(CLIENT_LIMIT_MS, socket, [socket] { socket->abort(); });
        Read(socket);
    }
}

void SingleInstance::Read(QLocalSocket* socket) {
    // The command so far is kept on the socket; it is never longer than
    // the command itself.
    QByteArray received = socket->property("received").toByteArray();
    received += socket->read(SHOW_COMMAND_SIZE - received.size() + 1);
    if (!QByteArray(SHOW_COMMAND, SHOW_COMMAND_SIZE).startsWith(received)) {
        socket->abort();
        return;
    }
    socket->setProperty("received", received);
    if (received.size() < SHOW_COMMAND_SIZE)
        return;
    socket->abort();
    emit ShowRequested();
}

} // namespace brindle
