#include "app/qt/single_instance.h"

#include "app/settings/settings_location.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace mub {

namespace {

const QByteArray activateRequest = "activate\n";

// The title holds non-ASCII text; a hash of its bytes gives a file name
// that every copy computes alike.
QString baseName(const std::string& gbkName) {
    QByteArray hash = QCryptographicHash::hash(QByteArray(gbkName.data(), static_cast<qsizetype>(gbkName.size())),
                                               QCryptographicHash::Sha1);
    return QStringLiteral("upgrader-") + QString::fromLatin1(hash.toHex().left(16));
}

// The session's runtime folder; without one, the folder the program writes
// its settings to (never a folder shared with other users).
QString runtimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QString::fromStdString(writableFolder(QCoreApplication::applicationDirPath().toStdString()));
    QDir().mkpath(folder);
    return folder;
}

} // namespace

SingleInstance::SingleInstance(const std::string& gbkName, QObject* parent) : QObject(parent) {
    QString folder = runtimeFolder();
    QString base = baseName(gbkName);
    lockPath_ = folder + QLatin1Char('/') + base + QStringLiteral(".lock");
    socketPath_ = folder + QLatin1Char('/') + base + QStringLiteral(".sock");
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(activateRequest.trimmed())) emit activationRequested();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    server_.close();
    if (lock_) lock_->unlock();
}

bool SingleInstance::claim() {
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // A lock left by a copy that died is taken over (its process is gone).
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        QLocalServer::removeServer(socketPath_); // a socket file left by a copy that died
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        server_.listen(socketPath_);
        return true;
    }
    lock_.reset();
    askRunningCopy();
    return false;
}

void SingleInstance::askRunningCopy() {
    // The running copy may still be starting; try for a short while, then
    // give up silently.
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 2000) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(500)) {
            socket.write(activateRequest);
            socket.waitForBytesWritten(500);
            socket.disconnectFromServer();
            return;
        }
        QThread::msleep(50);
    }
}

} // namespace mub
