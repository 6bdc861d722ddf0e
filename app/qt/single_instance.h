// One copy of the program per user session: a lock file named from the
// title, and a local socket on which the running copy listens so that a
// later copy can ask it to come to the front.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>
#include <string>

namespace mub {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `gbkName` names the lock and the socket (the window title); they live
    // in the user's runtime folder.
    explicit SingleInstance(const std::string& gbkName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when no other copy runs: the lock is held and later copies are
    // listened for. False when another copy holds the lock; it has been asked
    // to come to the front (if it could be reached).
    bool claim();

    QString lockPath() const { return lockPath_; }
    QString socketPath() const { return socketPath_; }

signals:
    // A later copy asked this one to come to the front.
    void activationRequested();

private:
    void askRunningCopy();

    QString lockPath_;
    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace mub
