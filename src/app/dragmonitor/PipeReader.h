#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <functional>

// Reads what a drag source writes into a pipe, to its end, without blocking;
// bounded in time and size, as a source may never write or never stop.
// Owns the descriptor and deletes itself once `done` has been called.
class PipeReader final : public QObject
{
public:
    using Done = std::function<void(bool ok, const QByteArray &data)>;

    PipeReader(int fd, int timeoutMs, Done done, QObject *parent);
    ~PipeReader() override;

private:
    void readSome();
    void finish(bool ok);

    int m_fd;
    Done m_done;
    QSocketNotifier m_notifier;
    QByteArray m_data;
};
