#pragma once

#include <QDir>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

// Finding and clicking items of a QML scene by objectName.
namespace ViewTest {

inline void collect(QQuickItem *item, const QString &name, QList<QQuickItem *> &out)
{
    if (!item)
        return;
    if (item->objectName() == name)
        out << item;
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        collect(child, name, out);
}

// Every item of that name under the window's content item (popups included).
inline QList<QQuickItem *> findAll(QQuickView *view, const QString &name)
{
    QList<QQuickItem *> out;
    collect(view->contentItem(), name, out);
    return out;
}

// The one visible item of that name, or null.
inline QQuickItem *find(QQuickView *view, const QString &name)
{
    QQuickItem *found = nullptr;
    for (QQuickItem *item : findAll(view, name)) {
        if (item->isVisible())
            found = item;
    }
    return found;
}

inline QPoint centre(QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

inline void click(QQuickView *view, QQuickItem *item, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(view, button, Qt::NoModifier, centre(item));
}

inline QString text(QQuickItem *item)
{
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
}

inline QString screenshotDir()
{
    const QString dir = qEnvironmentVariable("PELKIN_BINARY_DIR", QDir::tempPath()) +
                        QStringLiteral("/screenshots/views");
    QDir().mkpath(dir);
    return dir;
}

} // namespace ViewTest
