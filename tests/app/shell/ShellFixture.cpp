#include "ShellFixture.h"

#include "DropZonePresenter.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "PelkinUploader.h"
#include "TestFiles.h"

#include <QDir>

using namespace std::chrono_literals;

namespace {

class RecordingAlerts : public AlertPresenter
{
public:
    explicit RecordingAlerts(ShellFixture &fixture)
        : m_fixture(fixture)
    {}
    void showAlert(const QString &title, const QString &message) override
    {
        ShellFixture::ShownAlert alert{title, message, {}, {},
                                       m_fixture.delegate->dropZone()->uploadInProgress(),
                                       m_fixture.model->history().size()};
        if (DropZoneWindow *zone = m_fixture.delegate->dropZone()->window()) {
            alert.zoneTitle = zone->dropView()->titleText();
            alert.zoneSubtitle = zone->dropView()->subtitleText();
        }
        m_fixture.alerts.append(alert);
    }

private:
    ShellFixture &m_fixture;
};

} // namespace

ShellFixture::ShellFixture()
    : model(std::make_unique<AppModel>(dir.filePath(QStringLiteral("settings.ini"))))
{
    restart();
}

ShellFixture::~ShellFixture()
{
    delegate.reset();
    model.reset();
}

void ShellFixture::restart()
{
    delegate.reset();
    AppDelegate::Parts parts;
    parts.model = model.get();
    parts.uploader = std::make_unique<PelkinUploader>(server.url(), 10s);
    parts.alerts = std::make_unique<RecordingAlerts>(*this);
    parts.dragSource = drags;
    delegate = std::make_unique<AppDelegate>(std::move(parts));
}

void ShellFixture::launch(bool iconOn)
{
    model->setShowsMenuBarIcon(iconOn);
    delegate->applicationDidFinishLaunching();
}

bool ShellFixture::zoneVisible() const
{
    return delegate->dropZone()->window() && delegate->dropZone()->window()->isVisible();
}

QUrl ShellFixture::makeFile(const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    if (name.endsWith(QLatin1String(".app")))
        QDir().mkpath(path);
    else
        TestFiles::write(dir.path(), name, content);
    return QUrl::fromLocalFile(path);
}
