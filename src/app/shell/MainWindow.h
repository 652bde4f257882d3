#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickView>
#include <QRect>

class AppModel;
class QSettings;
class QTimer;

// The main window: a QQuickView hosting the QML ContentView bound to the
// model. 860 × 600 at first, centred on the screen under the pointer; at
// least 760 × 520. Closing only hides it. Its geometry is kept in the
// settings store under "PelkinDropMainWindow" and restored when it fits on
// a screen.
class MainWindow : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultWidth = 860;
    static constexpr int defaultHeight = 600;
    static constexpr int minimumWidth = 760;
    static constexpr int minimumHeight = 520;
    static inline const char *geometryKey = "PelkinDropMainWindow";

    // `store` receives the geometry; it must outlive this object.
    MainWindow(AppModel *model, QSettings *store, QObject *parent = nullptr);
    ~MainWindow() override;

    // False when the QML failed to load; the object is then unusable.
    bool isValid() const { return m_view != nullptr; }
    QQuickView *view() const { return m_view; }
    bool isVisible() const;

    // Shows the window (restored or centred the first time), raises it and
    // asks the window manager for focus.
    void showAndActivate();
    void saveGeometry();

signals:
    // The user closed the window; it is hidden already.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeFirstTime();

    QPointer<QQuickView> m_view;
    QSettings *m_store;
    QTimer *m_saveTimer;
    bool m_placed = false;
};
