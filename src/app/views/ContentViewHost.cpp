#include "ContentViewHost.h"

#include "AppModel.h"
#include "ThemeFollower.h"
#include "ViewImageProvider.h"

#include <QQmlEngine>
#include <QQuickView>
#include <QtQml/QQmlExtensionPlugin>

// The views' QML module lives in this static library; this pulls its
// plugin (and with it the type registrations) into every program.
Q_IMPORT_QML_PLUGIN(PelkinDrop_ViewsPlugin)

namespace PelkinViews {

QQuickView *createContentView(AppModel *model, QWindow *parent)
{
    auto *view = new QQuickView(parent);
    QQmlEngine *engine = view->engine();
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine->addImageProvider(QStringLiteral("pelkin"), new ViewImageProvider);
    const bool dark = ThemeFollower::shared() ? ThemeFollower::shared()->systemDark()
                                              : ThemeFollower::paletteIsDark();
    view->setInitialProperties({{QStringLiteral("model"), QVariant::fromValue<QObject *>(model)}});
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setMinimumSize(QSize(minimumWidth, minimumHeight));
    view->setColor(dark ? QColor(0x1f, 0x1f, 0x21) : QColor(0xf5, 0xf5, 0xf7));
    view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/PelkinDrop/Views/ContentView.qml")));
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
