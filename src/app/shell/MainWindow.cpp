#include "MainWindow.h"

#include "ContentViewHost.h"

#include <QCursor>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QQuickView>
#include <QScreen>
#include <QSettings>
#include <QTimer>

namespace {
constexpr int saveDelayMs = 500;
}

MainWindow::MainWindow(AppModel *model, QSettings *store, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_saveTimer(new QTimer(this))
{
    m_view = PelkinViews::createContentView(model);
    if (!m_view)
        return;
    m_view->setTitle(QStringLiteral("Pelkin Drop"));
    m_view->setMinimumSize(QSize(minimumWidth, minimumHeight));
    m_view->resize(defaultWidth, defaultHeight);
    m_view->installEventFilter(this);

    // Moving and resizing come in bursts: store once the burst is over, so a
    // killed process still finds a recent geometry.
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(saveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, &MainWindow::saveGeometry);
    const auto scheduleSave = [this] {
        if (m_placed && m_view->isVisible())
            m_saveTimer->start();
    };
    connect(m_view, &QWindow::xChanged, this, scheduleSave);
    connect(m_view, &QWindow::yChanged, this, scheduleSave);
    connect(m_view, &QWindow::widthChanged, this, scheduleSave);
    connect(m_view, &QWindow::heightChanged, this, scheduleSave);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::saveGeometry);
}

MainWindow::~MainWindow()
{
    // The window still emits and sends events while it is torn down; clear
    // the guarded pointer first so nothing here looks at a half-destroyed view.
    if (QQuickView *view = m_view.data()) {
        view->removeEventFilter(this);
        disconnect(view, nullptr, this, nullptr);
        m_view.clear();
        delete view;
    }
}

bool MainWindow::isVisible() const
{
    return m_view && m_view->isVisible();
}

void MainWindow::showAndActivate()
{
    if (!m_view)
        return;
    if (!m_placed)
        placeFirstTime();
    if (m_view->windowStates() & Qt::WindowMinimized)
        m_view->setWindowStates(m_view->windowStates() & ~Qt::WindowMinimized);
    m_view->show();
    m_view->raise();
    m_view->requestActivate();
}

void MainWindow::saveGeometry()
{
    if (!m_view || !m_placed || !m_store)
        return;
    m_saveTimer->stop();
    m_store->setValue(QLatin1String(geometryKey), m_view->geometry());
    m_store->sync();
    // The store holds the default password: it stays private to the user.
    QFile::setPermissions(m_store->fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

void MainWindow::placeFirstTime()
{
    m_placed = true;
    const QRect saved = m_store ? m_store->value(QLatin1String(geometryKey)).toRect() : QRect();
    if (saved.isValid() && saved.width() >= minimumWidth && saved.height() >= minimumHeight) {
        // Only where its title bar can still be reached: screens come and go.
        for (QScreen *screen : QGuiApplication::screens()) {
            const QRect area = screen->availableGeometry();
            if (area.contains(saved.topLeft() + QPoint(saved.width() / 2, 0))) {
                m_view->setGeometry(saved);
                return;
            }
        }
    }
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame(QPoint(), m_view->size());
    frame.moveCenter(area.center());
    m_view->setPosition(frame.topLeft());
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Close) {
        // Closing only hides: the window, its QML state and its place are
        // kept for the next time.
        event->ignore();
        saveGeometry();
        m_view->hide();
        emit closed();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
