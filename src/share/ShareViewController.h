#pragma once

#include "ShareItemProvider.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

class BusySpinner;
class ElidedLabel;
class PelkinUploader;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ShareItemCollector;
class ShareProgressArea;
class UploadResult;

// The share panel: collects the shared items as local files, lets the user
// protect the upload with a password, uploads with its own uploader, copies
// the share URL to the clipboard, shows the outcome and asks its host to
// close 0.8 s later.
//
// The host shows the panel as a window and reacts to requestCompleted()
// (close; the normal end) and requestCancelled() (close at once). Work that
// outlives a cancel (an upload in flight) finishes silently; workSettled()
// says when nothing runs any more.
class ShareViewController : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 360;
    static constexpr int panelHeight = 260;
    static constexpr int closeDelayMs = 800;

    // workFolder: an existing private folder for the items' local copies.
    ShareViewController(QList<ShareItemProvider> inputItems,
                        std::unique_ptr<PelkinUploader> uploader, QString workFolder,
                        QWidget *parent = nullptr);
    ~ShareViewController() override;

    QList<QUrl> collectedURLs() const { return m_collectedURLs; }
    bool isUploading() const { return m_isUploading; }
    double currentProgress() const;
    // Where the character's bottom edge rests, in points above the progress
    // container's bottom edge.
    double characterBaseY() const;
    // Collection or an upload still running.
    bool hasWorkInFlight() const;
    // The link this panel put on the clipboard, if any.
    std::optional<QString> copiedLink() const { return m_copiedLink; }

public slots:
    void toggleProtect();
    void tapUpload();
    void tapCancel();
    // A progress report of the running upload (ignored when none runs).
    void handleUploadProgress(double fraction);

signals:
    void requestCompleted();
    void requestCancelled();
    // The final message is shown (the panel closes 0.8 s later); link is the
    // URL put on the clipboard, if any.
    void outcomeShown(const QString &message, const QString &link);
    void workSettled();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setupUI();
    void applyColours();
    void layoutContent();
    void refreshProtectionControls();
    void setLoading(bool loading, const std::optional<QString> &text = std::nullopt);
    void done(const QString &message);
    void prepareUploadProgressUI();
    void resetUploadProgressUI();
    void collectFiles();
    void handleUploadResult(const UploadResult &result);
    void settleIfIdle();

    QList<ShareItemProvider> m_inputItems;
    std::unique_ptr<PelkinUploader> m_uploader;
    QString m_workFolder;
    QList<QUrl> m_collectedURLs;

    QLabel *m_titleLabel = nullptr;
    ElidedLabel *m_infoLabel = nullptr;
    QCheckBox *m_protectCheck = nullptr;
    QLineEdit *m_passwordField = nullptr;
    QPushButton *m_uploadButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    BusySpinner *m_spinner = nullptr;
    ShareProgressArea *m_progress = nullptr;

    ShareItemCollector *m_collector = nullptr;
    bool m_isUploading = false;
    int m_uploadsInFlight = 0;
    bool m_closing = false;   // done() ran: the panel is about to close
    bool m_cancelled = false; // the user cancelled: nothing more is shown or copied
    std::optional<QString> m_copiedLink;
};
