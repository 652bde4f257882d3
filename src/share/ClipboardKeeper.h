#pragma once

#include <QObject>

// Keeps the process's clipboard content alive after its window has closed.
// On X11 (and Wayland) the clipboard is served by the process that set it:
// if it exits, the content is gone. So the process stays, windowless, until
// another client takes the clipboard over, or, on X11, hands the content to
// a clipboard manager (Qt does that on exit when one runs).
class ClipboardKeeper : public QObject
{
    Q_OBJECT

public:
    explicit ClipboardKeeper(QObject *parent = nullptr);

    // Emits released() (queued) once nothing needs this process any more:
    // at once when it does not own the clipboard, when the platform keeps
    // clipboards by itself or when a clipboard manager will save it;
    // otherwise when another client takes ownership.
    void keepUntilReleased();
    bool isServing() const { return m_serving; }

signals:
    void released();

private:
    bool m_serving = false;
};
