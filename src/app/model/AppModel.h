#pragma once

#include "AppTheme.h"
#include "HomeUploadResult.h"
#include "HomeUploadState.h"
#include "MainTab.h"
#include "UploadHistoryItem.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

class ModelStore;

// The main application's single observable state: the four user settings,
// the upload history and the Home tab's selection and upload state. Lives on
// the main thread. Every change of a setting or of the history is written to
// the store at once.
//
// QML: expose the instance (e.g. setInitialProperties / a context property
// "appModel") and register the enumerations of AppTheme, MainTab and
// HomeUploadState (see their headers). Properties notify only when their value
// changes; assignments of an equal value still run the change handling
// (store write, menu-bar callback).
//
// history (QML): a list of objects, newest first, each
//   { id: string, timestamp: Date, fileNames: [string], hasUrl: bool,
//     url: string, success: bool, message: string }
// usable directly as a ListView/Repeater model (modelData.id, ...). Delete one
// with removeHistoryItemById(modelData.id).
//
// homeUploadResult (QML): null, or an object
//   { success, hasUrl, url, message, fileNames, didCopyToClipboard }.
class AppModel : public QObject
{
    Q_OBJECT

    Q_PROPERTY(
        MainTab::Value selectedTab READ selectedTab WRITE setSelectedTab NOTIFY selectedTabChanged)
    Q_PROPERTY(
        QList<QUrl> selectedURLs READ selectedURLs WRITE setSelectedURLs NOTIFY selectedURLsChanged)
    Q_PROPERTY(
        QString homePassword READ homePassword WRITE setHomePassword NOTIFY homePasswordChanged)
    Q_PROPERTY(QString homeStatus READ homeStatus WRITE setHomeStatus NOTIFY homeStatusChanged)
    Q_PROPERTY(
        HomeUploadState::Value homeUploadState READ homeUploadState NOTIFY homeUploadStateChanged)
    Q_PROPERTY(bool isHomeUploading READ isHomeUploading NOTIFY homeUploadStateChanged)
    Q_PROPERTY(double homeUploadProgress READ homeUploadProgress NOTIFY homeUploadProgressChanged)
    // Whole percent of homeUploadProgress, truncated (0.999 gives 99).
    Q_PROPERTY(int homeUploadPercent READ homeUploadPercent NOTIFY homeUploadProgressChanged)
    Q_PROPERTY(QVariant homeUploadResult READ homeUploadResultValue NOTIFY homeUploadResultChanged)
    Q_PROPERTY(bool hasHomeUploadResult READ hasHomeUploadResult NOTIFY homeUploadResultChanged)
    Q_PROPERTY(AppTheme::Value theme READ theme WRITE setTheme NOTIFY themeChanged)
    // "" (follow the system), "light" or "dark".
    Q_PROPERTY(QString activeColorScheme READ activeColorScheme NOTIFY themeChanged)
    Q_PROPERTY(QString defaultPassword READ defaultPassword WRITE setDefaultPassword NOTIFY
                   defaultPasswordChanged)
    // null when the trimmed default password is empty.
    Q_PROPERTY(QVariant normalizedDefaultPassword READ normalizedDefaultPasswordValue NOTIFY
                   defaultPasswordChanged)
    Q_PROPERTY(bool autoCopyToClipboard READ autoCopyToClipboard WRITE setAutoCopyToClipboard NOTIFY
                   autoCopyToClipboardChanged)
    Q_PROPERTY(bool showsMenuBarIcon READ showsMenuBarIcon WRITE setShowsMenuBarIcon NOTIFY
                   showsMenuBarIconChanged)
    Q_PROPERTY(QVariantList history READ historyList NOTIFY historyChanged)
    // [{ value: AppTheme.Value, rawValue, label }] in picker order.
    Q_PROPERTY(QVariantList themes READ themes CONSTANT)
    // [{ value: MainTab.Value, rawValue, label, icon }] in sidebar order.
    Q_PROPERTY(QVariantList tabs READ tabs CONSTANT)

public:
    static constexpr int historyLimit = 300;

    // The instance of the application, on the user's store
    // ($XDG_CONFIG_HOME/Pelkin/Pelkin Drop.ini). Created on first use, never destroyed.
    static AppModel *shared();

    // A model on the INI file at settingsFilePath (created when missing):
    // for tests and tools.
    explicit AppModel(const QString &settingsFilePath, QObject *parent = nullptr);
    ~AppModel() override;

    // Installed by the application shell. Not observable.
    // Called by requestHomeUpload with the selection and the normalized Home password.
    std::function<void(const QList<QUrl> &urls, const std::optional<QString> &password)>
        onRequestHomeUpload;
    // Called after every assignment to showsMenuBarIcon with its value.
    std::function<void(bool visible)> onMenuBarIconVisibilityChange;
    // Called by chooseFiles: show a file chooser that hands the chosen files
    // to appendFiles.
    std::function<void()> onChooseFiles;

    // --- settings ---
    AppTheme::Value theme() const { return m_theme; }
    void setTheme(AppTheme::Value theme);
    QString activeColorScheme() const;
    QString defaultPassword() const { return m_defaultPassword; }
    void setDefaultPassword(const QString &password);
    std::optional<QString> normalizedDefaultPassword() const;
    QVariant normalizedDefaultPasswordValue() const;
    bool autoCopyToClipboard() const { return m_autoCopyToClipboard; }
    void setAutoCopyToClipboard(bool on);
    bool showsMenuBarIcon() const { return m_showsMenuBarIcon; }
    void setShowsMenuBarIcon(bool on);
    QVariantList themes() const;
    QVariantList tabs() const;

    // --- window ---
    MainTab::Value selectedTab() const { return m_selectedTab; }
    void setSelectedTab(MainTab::Value tab);

    // --- history (newest first) ---
    QList<UploadHistoryItem> history() const { return m_history; }
    // Every assignment is written to the store.
    void setHistory(const QList<UploadHistoryItem> &items);
    QVariantList historyList() const;
    void addHistory(const QStringList &fileNames, const std::optional<QString> &url, bool success,
                    const QString &message);
    void removeHistoryItem(const UploadHistoryItem &item);
    Q_INVOKABLE void removeHistoryItemById(const QString &id);
    Q_INVOKABLE void clearHistory();

    // --- Home tab ---
    QList<QUrl> selectedURLs() const { return m_selectedURLs; }
    void setSelectedURLs(const QList<QUrl> &urls);
    QString homePassword() const { return m_homePassword; }
    void setHomePassword(const QString &password);
    QString homeStatus() const { return m_homeStatus; }
    void setHomeStatus(const QString &status);
    HomeUploadState::Value homeUploadState() const { return m_homeUploadState; }
    bool isHomeUploading() const { return m_homeUploadState == HomeUploadState::Uploading; }
    double homeUploadProgress() const { return m_homeUploadProgress; }
    int homeUploadPercent() const;
    std::optional<HomeUploadResult> homeUploadResult() const { return m_homeUploadResult; }
    QVariant homeUploadResultValue() const;
    bool hasHomeUploadResult() const { return m_homeUploadResult.has_value(); }

    // Asks the shell for a file chooser (onChooseFiles); the chosen files
    // come back through appendFiles.
    Q_INVOKABLE void chooseFiles();
    Q_INVOKABLE void appendFiles(const QList<QUrl> &urls);
    Q_INVOKABLE void clearSelectedFiles();
    // Removes every occurrence of url from the selection and updates the status
    // (the Home tab's row remove button).
    Q_INVOKABLE void removeSelectedFile(const QUrl &url);
    Q_INVOKABLE void requestHomeUpload();
    Q_INVOKABLE void dismissHomeUploadResult();
    // Called by the upload orchestration on the main thread.
    void markHomeUploadStarted();
    void updateHomeUploadProgress(double fraction);
    void markHomeUploadSucceeded(const std::optional<QString> &url, const QStringList &fileNames,
                                 bool didCopyToClipboard);
    void markHomeUploadFailed(const QString &errorMessage, const QStringList &fileNames);

    // "ファイルを選んでください" for 0, otherwise e.g. "3件選択".
    static QString selectionStatusText(qsizetype count);

    // The store file, and where a damaged one was copied at this start
    // (empty when the store was fine).
    QString settingsFilePath() const;
    QString damagedStoreCopyPath() const;

signals:
    void selectedTabChanged();
    void selectedURLsChanged();
    void homePasswordChanged();
    void homeStatusChanged();
    void homeUploadStateChanged();
    void homeUploadProgressChanged();
    void homeUploadResultChanged();
    void themeChanged();
    void defaultPasswordChanged();
    void autoCopyToClipboardChanged();
    void showsMenuBarIconChanged();
    void historyChanged();

private:
    void loadSettings();
    void persistSettings();
    void enforceDefaultPasswordLimit();
    void applyDefaultPassword(const QString &password);
    void loadHistory();
    void persistHistory();

    std::unique_ptr<ModelStore> m_store;

    MainTab::Value m_selectedTab = MainTab::Home;
    QList<QUrl> m_selectedURLs;
    QString m_homePassword;
    QString m_homeStatus;
    HomeUploadState::Value m_homeUploadState = HomeUploadState::Idle;
    double m_homeUploadProgress = 0.0;
    std::optional<HomeUploadResult> m_homeUploadResult;
    AppTheme::Value m_theme = AppTheme::System;
    QString m_defaultPassword;
    bool m_autoCopyToClipboard = true;
    bool m_showsMenuBarIcon = true;
    QList<UploadHistoryItem> m_history;
    QVariantList m_historyList;
    bool m_loadingSettings = false;
};
