#pragma once

#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;
class ThemeFollower;

// The C++ side of the views, one per QML engine (the QML singleton
// ViewSupport): file-row texts, history dates, the clipboard, text limits,
// spring curves, the system appearance and the application version.
class ViewSupport : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool systemDark READ systemDark NOTIFY systemDarkChanged)
    Q_PROPERTY(bool hasCharacter READ hasCharacter CONSTANT)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT)
    Q_PROPERTY(QString monospaceFamily READ monospaceFamily CONSTANT)

public:
    explicit ViewSupport(ThemeFollower *follower, QObject *parent = nullptr);
    // The engine's instance, following the process-wide theme follower.
    static ViewSupport *create(QQmlEngine *, QJSEngine *);

    bool systemDark() const;
    bool hasCharacter() const;
    QString version() const;
    QString fontFamily() const;
    QString monospaceFamily() const;

    Q_INVOKABLE QString iconName(const QUrl &url) const;
    // "" when the file cannot be inspected.
    Q_INVOKABLE QString fileSize(const QUrl &url) const;
    // Last path component, verbatim.
    Q_INVOKABLE QString fileName(const QUrl &url) const;
    Q_INVOKABLE QString historyDate(const QDateTime &timestamp) const;
    Q_INVOKABLE void copyText(const QString &text) const;
    // First `count` user-perceived characters.
    Q_INVOKABLE QString firstCharacters(const QString &text, int count) const;
    // Only the file:// URLs among `urls`, in order.
    Q_INVOKABLE QList<QUrl> fileUrls(const QList<QUrl> &urls) const;
    Q_INVOKABLE QVariantList springCurve(double response, double dampingFraction) const;
    // Milliseconds until the spring has settled.
    Q_INVOKABLE int springDuration(double response, double dampingFraction) const;

signals:
    void systemDarkChanged();

private:
    ThemeFollower *m_follower;
};
