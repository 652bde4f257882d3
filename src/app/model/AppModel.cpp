#include "AppModel.h"

#include "ModelStore.h"
#include "TextLimits.h"
#include "UploadHistoryCodec.h"

#include <QDir>
#include <QSet>
#include <QSettings>
#include <cmath>

namespace {

const QString themeKey = QStringLiteral("pelkin.settings.theme");
const QString defaultPasswordKey = QStringLiteral("pelkin.settings.defaultPassword");
const QString autoCopyKey = QStringLiteral("pelkin.settings.autoCopyToClipboard");
const QString menuBarIconKey = QStringLiteral("pelkin.settings.showsMenuBarIcon");
const QString historyKey = QStringLiteral("pelkin.history.items");

const QString chooseFilesStatus = QStringLiteral("ファイルを選んでください");
const QString uploadingStatus = QStringLiteral("アップロード中…");

QString firstPasswordCharacters(const QString &text)
{
    return TextLimits::firstCharacters(text, TextLimits::passwordCharacterLimit);
}

// The URL's path with "." and ".." resolved, symbolic links left alone.
QString standardizedPath(const QUrl &url)
{
    return QDir::cleanPath(url.path(QUrl::FullyDecoded));
}

QVariant nullable(const std::optional<QString> &text)
{
    return text ? QVariant(*text) : QVariant::fromValue(nullptr);
}

} // namespace

AppModel *AppModel::shared()
{
    static AppModel *instance = [] {
        const QSettings locator(QSettings::IniFormat, QSettings::UserScope,
                                QStringLiteral("Pelkin"), QStringLiteral("Pelkin Drop"));
        return new AppModel(locator.fileName());
    }();
    return instance;
}

AppModel::AppModel(const QString &settingsFilePath, QObject *parent)
    : QObject(parent)
    , m_store(std::make_unique<ModelStore>(settingsFilePath))
    , m_homeStatus(chooseFilesStatus)
{
    // The first write below drops whatever QSettings could not parse.
    if (m_store->openedDamaged())
        m_store->preserveOriginal();
    loadSettings();
    loadHistory();
    m_homePassword = m_defaultPassword;
}

AppModel::~AppModel() = default;

// --- settings ---

void AppModel::loadSettings()
{
    const QString storedTheme = m_store->text(themeKey);
    const QString storedPassword = m_store->text(defaultPasswordKey);
    const bool hasAutoCopy = m_store->contains(autoCopyKey);
    const bool storedAutoCopy = m_store->value(autoCopyKey).toBool();
    const bool hasMenuBarIcon = m_store->contains(menuBarIconKey);
    const bool storedMenuBarIcon = m_store->value(menuBarIconKey).toBool();

    // Each assignment below runs its change handling, but the store is
    // written once at the end: a crash half-way through loading must not
    // leave the initial values of the later settings in the file.
    m_loadingSettings = true;
    if (const auto theme = AppTheme::table().fromRawValue(storedTheme))
        setTheme(*theme);
    setDefaultPassword(storedPassword);
    setAutoCopyToClipboard(hasAutoCopy ? storedAutoCopy : true);
    setShowsMenuBarIcon(hasMenuBarIcon ? storedMenuBarIcon : true);
    m_loadingSettings = false;
    persistSettings();
}

void AppModel::persistSettings()
{
    if (m_loadingSettings)
        return;
    m_store->setValues({
        {themeKey, AppTheme::table().rawValue(m_theme)},
        {defaultPasswordKey, firstPasswordCharacters(m_defaultPassword)},
        {autoCopyKey, m_autoCopyToClipboard},
        {menuBarIconKey, m_showsMenuBarIcon},
    });
}

void AppModel::setTheme(AppTheme::Value theme)
{
    if (m_theme != theme) {
        m_theme = theme;
        emit themeChanged();
    }
    persistSettings();
}

QString AppModel::activeColorScheme() const
{
    return AppTheme::table().info(m_theme).colorScheme.toString();
}

void AppModel::setDefaultPassword(const QString &password)
{
    const QString previous = m_defaultPassword;
    if (m_defaultPassword != password) {
        m_defaultPassword = password;
        emit defaultPasswordChanged();
    }
    enforceDefaultPasswordLimit();
    // The Home password follows the default until the user types their own.
    if (m_homePassword == previous || m_homePassword.isEmpty())
        setHomePassword(firstPasswordCharacters(m_defaultPassword));
    persistSettings();
}

void AppModel::enforceDefaultPasswordLimit()
{
    if (TextLimits::characterCount(m_defaultPassword) > TextLimits::passwordCharacterLimit)
        setDefaultPassword(firstPasswordCharacters(m_defaultPassword));
    if (TextLimits::characterCount(m_homePassword) > TextLimits::passwordCharacterLimit)
        setHomePassword(firstPasswordCharacters(m_homePassword));
}

std::optional<QString> AppModel::normalizedDefaultPassword() const
{
    return TextLimits::normalizedPassword(m_defaultPassword);
}

QVariant AppModel::normalizedDefaultPasswordValue() const
{
    return nullable(normalizedDefaultPassword());
}

void AppModel::setAutoCopyToClipboard(bool on)
{
    if (m_autoCopyToClipboard != on) {
        m_autoCopyToClipboard = on;
        emit autoCopyToClipboardChanged();
    }
    persistSettings();
}

void AppModel::setShowsMenuBarIcon(bool on)
{
    if (m_showsMenuBarIcon != on) {
        m_showsMenuBarIcon = on;
        emit showsMenuBarIconChanged();
    }
    persistSettings();
    if (onMenuBarIconVisibilityChange)
        onMenuBarIconVisibilityChange(m_showsMenuBarIcon);
}

QVariantList AppModel::themes() const
{
    return AppTheme::choices();
}

QVariantList AppModel::tabs() const
{
    return MainTab::choices();
}

void AppModel::setSelectedTab(MainTab::Value tab)
{
    if (m_selectedTab == tab)
        return;
    m_selectedTab = tab;
    emit selectedTabChanged();
}

// --- history ---

void AppModel::loadHistory()
{
    if (!m_store->contains(historyKey)) {
        setHistory({});
        return;
    }
    // A hand-edited file may hold the JSON as plain text rather than as a blob.
    const QVariant stored = m_store->value(historyKey);
    const QByteArray bytes = stored.typeId() == QMetaType::QByteArray
                                 ? stored.toByteArray()
                                 : m_store->text(historyKey).toUtf8();
    std::optional<QList<UploadHistoryItem>> items = UploadHistoryCodec::decode(bytes);
    if (!items) {
        // The rewrite below discards the stored entries: keep a copy.
        m_store->preserveOriginal();
        items.emplace();
    }
    setHistory(*items);
}

void AppModel::persistHistory()
{
    // Should encoding ever fail, the stored history stays as it was rather
    // than being thrown away.
    if (const std::optional<QByteArray> json = UploadHistoryCodec::encode(m_history))
        m_store->setValues({{historyKey, *json}});
}

void AppModel::setHistory(const QList<UploadHistoryItem> &items)
{
    const bool changed = m_history != items;
    m_history = items;
    if (changed) {
        m_historyList.clear();
        m_historyList.reserve(m_history.size());
        for (const UploadHistoryItem &item : m_history)
            m_historyList.append(item.toVariantMap());
        emit historyChanged();
    }
    persistHistory();
}

QVariantList AppModel::historyList() const
{
    return m_historyList;
}

void AppModel::addHistory(const QStringList &fileNames, const std::optional<QString> &url,
                          bool success, const QString &message)
{
    const UploadHistoryItem item =
        UploadHistoryItem::recordedNow(fileNames, url, success, message);
    // Capped before it is stored: the file never holds more than the cap
    // because of an add, not even for a moment.
    QList<UploadHistoryItem> items = m_history;
    items.prepend(item);
    if (items.size() > historyLimit)
        items.resize(historyLimit);
    setHistory(items);
}

void AppModel::removeHistoryItem(const UploadHistoryItem &item)
{
    QList<UploadHistoryItem> items = m_history;
    items.removeIf([&](const UploadHistoryItem &entry) { return entry.id == item.id; });
    setHistory(items);
}

void AppModel::removeHistoryItemById(const QString &id)
{
    UploadHistoryItem item;
    item.id = QUuid::fromString(id);
    if (item.id.isNull()) {
        setHistory(m_history);
        return;
    }
    removeHistoryItem(item);
}

void AppModel::clearHistory()
{
    setHistory({});
}

// --- Home tab ---

void AppModel::setSelectedURLs(const QList<QUrl> &urls)
{
    if (m_selectedURLs == urls)
        return;
    m_selectedURLs = urls;
    emit selectedURLsChanged();
}

void AppModel::setHomePassword(const QString &password)
{
    if (m_homePassword == password)
        return;
    m_homePassword = password;
    emit homePasswordChanged();
}

void AppModel::setHomeStatus(const QString &status)
{
    if (m_homeStatus == status)
        return;
    m_homeStatus = status;
    emit homeStatusChanged();
}

int AppModel::homeUploadPercent() const
{
    return int(std::trunc(m_homeUploadProgress * 100.0));
}

QVariant AppModel::homeUploadResultValue() const
{
    return m_homeUploadResult ? QVariant(m_homeUploadResult->toVariantMap())
                              : QVariant::fromValue(nullptr);
}

QString AppModel::selectionStatusText(qsizetype count)
{
    if (count <= 0)
        return chooseFilesStatus;
    return QString::number(count) + QStringLiteral("件選択");
}

void AppModel::appendFiles(const QList<QUrl> &urls)
{
    if (urls.isEmpty()) {
        if (!m_selectedURLs.isEmpty())
            return;
        setHomeStatus(chooseFilesStatus);
    } else {
        QSet<QString> selected;
        for (const QUrl &url : std::as_const(m_selectedURLs))
            selected.insert(standardizedPath(url));
        // Checked against the selection before this call only, so a file given
        // twice in one call is added twice.
        QList<QUrl> combined = m_selectedURLs;
        for (const QUrl &url : urls) {
            if (!selected.contains(standardizedPath(url)))
                combined.append(url);
        }
        setSelectedURLs(combined);
        setHomeStatus(selectionStatusText(m_selectedURLs.size()));
    }
    if (m_homePassword.isEmpty())
        setHomePassword(m_defaultPassword);
}

void AppModel::clearSelectedFiles()
{
    setSelectedURLs({});
    setHomeStatus(chooseFilesStatus);
}

void AppModel::removeSelectedFile(const QUrl &url)
{
    QList<QUrl> urls = m_selectedURLs;
    urls.removeAll(url);
    setSelectedURLs(urls);
    setHomeStatus(selectionStatusText(m_selectedURLs.size()));
}

void AppModel::requestHomeUpload()
{
    if (isHomeUploading())
        return;
    const std::optional<QString> password = TextLimits::normalizedPassword(m_homePassword);
    if (onRequestHomeUpload)
        onRequestHomeUpload(m_selectedURLs, password);
}

void AppModel::markHomeUploadStarted()
{
    if (m_homeUploadState != HomeUploadState::Uploading) {
        m_homeUploadState = HomeUploadState::Uploading;
        emit homeUploadStateChanged();
    }
    if (m_homeUploadProgress != 0.0) {
        m_homeUploadProgress = 0.0;
        emit homeUploadProgressChanged();
    }
    setHomeStatus(uploadingStatus);
}

void AppModel::updateHomeUploadProgress(double fraction)
{
    // A report that arrives after the outcome was handled would overwrite the
    // finished state; it is dropped.
    if (m_homeUploadState != HomeUploadState::Uploading)
        return;
    double progress = fraction;
    if (std::isnan(progress) || progress <= 0.0)
        progress = 0.0;
    else if (progress > 1.0)
        progress = 1.0;
    if (m_homeUploadProgress != progress) {
        m_homeUploadProgress = progress;
        emit homeUploadProgressChanged();
    }
    setHomeStatus(uploadingStatus + u' ' + QString::number(homeUploadPercent()) + u'%');
}

void AppModel::markHomeUploadSucceeded(const std::optional<QString> &url,
                                       const QStringList &fileNames, bool didCopyToClipboard)
{
    if (m_homeUploadState != HomeUploadState::Idle) {
        m_homeUploadState = HomeUploadState::Idle;
        emit homeUploadStateChanged();
    }
    const QString message = HomeUploadResult::successMessage(url, didCopyToClipboard);
    m_homeUploadResult = HomeUploadResult{true, url, message, fileNames, didCopyToClipboard};
    emit homeUploadResultChanged();
}

void AppModel::markHomeUploadFailed(const QString &errorMessage, const QStringList &fileNames)
{
    if (m_homeUploadState != HomeUploadState::Idle) {
        m_homeUploadState = HomeUploadState::Idle;
        emit homeUploadStateChanged();
    }
    m_homeUploadResult = HomeUploadResult{false, std::nullopt, errorMessage, fileNames, false};
    emit homeUploadResultChanged();
}

void AppModel::dismissHomeUploadResult()
{
    if (m_homeUploadResult) {
        m_homeUploadResult.reset();
        emit homeUploadResultChanged();
    }
    setSelectedURLs({});
    setHomePassword(m_defaultPassword);
    setHomeStatus(chooseFilesStatus);
}

void AppModel::chooseFiles()
{
    if (onChooseFiles)
        onChooseFiles();
}

QString AppModel::settingsFilePath() const
{
    return m_store->filePath();
}

QString AppModel::damagedStoreCopyPath() const
{
    return m_store->preservedCopyPath();
}
