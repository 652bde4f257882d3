#include "ShellMain.h"

#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "AutostartEntry.h"
#include "PelkinConfig.h"
#include "PelkinUploader.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
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

    // --version and --help print and exit before anything claims the
    // instance; --background is what the login autostart entry passes.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Pelkin Drop: drop files, get a share link."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption background(
        QString::fromLatin1(AutostartEntry::backgroundOption).mid(2),
        QStringLiteral("Start with the main window hidden (used at login)."));
    parser.addOption(background);
    parser.process(app);

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
    delegate.applicationDidFinishLaunching(!parser.isSet(background));
    return app.exec();
}
