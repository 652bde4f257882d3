#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running application per user login. The first process listens on an
// abstract-namespace local socket; a later one connects, asks it to reopen
// its main window and learns that it must exit. Abstract sockets leave
// nothing behind after a crash, and the kernel lets exactly one process
// bind a name, so simultaneous launches elect one primary.
//
// Any local user can connect to an abstract socket, so the only command
// accepted is the harmless "reopen".
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // `name` is the socket name without the user id, which is appended.
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The name the application uses.
    static QString defaultName();

    // Becomes the primary instance and returns true, or asks the running
    // primary to reopen and returns false. Blocks for at most a few seconds.
    bool claim();

    bool isPrimary() const { return m_server != nullptr; }
    QString socketName() const { return m_socketName; }

signals:
    // A second launch asked the primary to show its main window.
    void reopenRequested();

private:
    bool askPrimaryToReopen();
    void acceptConnections();

    QString m_socketName;
    QLocalServer *m_server = nullptr;
};
