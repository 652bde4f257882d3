#include "ShellMain.h"

#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "PelkinConfig.h"
#include "PelkinUploader.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QIcon>

int runPelkinDrop(int argc, char **argv, const ShellOptions &options)
{
    // Other applications' drags can only be watched through X11: inside a
    // Wayland session, run on its X11 server when there is one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pelkin"));
    QApplication::setApplicationName(QStringLiteral("Pelkin Drop"));
    QApplication::setApplicationVersion(QString::fromLatin1(PelkinConfig::version));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pelkin.PelkinDrop"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pelkin/DropCharacter.png")));

    SingleInstance instance(options.instanceName);
    if (!instance.claim())
        return 0;

    AppDelegate::Parts parts;
    parts.model = AppModel::shared();
    parts.uploader = std::make_unique<PelkinUploader>(options.uploadEndpoint,
                                                      PelkinUploader::defaultIdleTimeout);
    AppDelegate delegate(std::move(parts));
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     &AppDelegate::applicationShouldHandleReopen);
    QObject::connect(&delegate, &AppDelegate::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
