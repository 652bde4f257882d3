#include "ContentViewHost.h"

#include "AppModel.h"
#include "ThemeFollower.h"
#include "ViewImageProvider.h"
#include "ViewSupport.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickView>
#include <mutex>

namespace PelkinViews {
namespace {

void registerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const char *why = "enumeration";
        qmlRegisterUncreatableMetaObject(AppTheme::staticMetaObject, "Pelkin.Model", 1, 0,
                                         "AppTheme", why);
        qmlRegisterUncreatableMetaObject(MainTab::staticMetaObject, "Pelkin.Model", 1, 0, "MainTab",
                                         why);
        qmlRegisterUncreatableMetaObject(HomeUploadState::staticMetaObject, "Pelkin.Model", 1, 0,
                                         "HomeUploadState", why);
    });
}

} // namespace

QQuickView *createContentView(AppModel *model, QWindow *parent)
{
    registerOnce();
    auto *view = new QQuickView(parent);
    QQmlEngine *engine = view->engine();
    engine->addImageProvider(QStringLiteral("pelkin"), new ViewImageProvider);
    auto *support = new ViewSupport(ThemeFollower::shared(), view);
    engine->rootContext()->setContextProperty(QStringLiteral("viewSupport"), support);
    view->setInitialProperties({{QStringLiteral("model"), QVariant::fromValue<QObject *>(model)}});
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setMinimumSize(QSize(minimumWidth, minimumHeight));
    view->setColor(support->systemDark() ? QColor(0x1f, 0x1f, 0x21) : QColor(0xf5, 0xf5, 0xf7));
    view->setSource(QUrl(QStringLiteral("qrc:/pelkin/views/qml/ContentView.qml")));
    if (view->status() != QQuickView::Ready || !view->rootObject()) {
        for (const QQmlError &error : view->errors())
            qWarning().noquote() << error.toString();
        delete view;
        return nullptr;
    }
    if (view->size().isEmpty())
        view->resize(minimumWidth + 140, minimumHeight + 120);
    return view;
}

} // namespace PelkinViews
