#include "ShareViewController.h"

#include "BusySpinner.h"
#include "CharacterImage.h"
#include "ElidedLabel.h"
#include "PelkinUploader.h"
#include "UploadJob.h"
#include "ShareItemCollector.h"
#include "ShareProgressArea.h"
#include "TextLimits.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Places a widget by a frame whose origin is the lower-left corner of its
// parent and whose y grows upwards.
void placeFromBottom(QWidget *widget, int x, int y, int width, int height)
{
    const int parentHeight = widget->parentWidget()->height();
    widget->setGeometry(x, parentHeight - y - height, width, height);
}

int bottomY(const QWidget *widget)
{
    return widget->parentWidget()->height() - widget->geometry().bottom() - 1;
}

} // namespace

ShareViewController::ShareViewController(QList<ShareItemProvider> inputItems,
                                         std::unique_ptr<PelkinUploader> uploader,
                                         QString workFolder, QWidget *parent)
    : QWidget(parent)
    , m_inputItems(std::move(inputItems))
    , m_uploader(std::move(uploader))
    , m_workFolder(std::move(workFolder))
{
    resize(panelWidth, panelHeight);
    setWindowTitle(QStringLiteral("Pelkin Drop"));
    setupUI();
    collectFiles();
}

ShareViewController::~ShareViewController() = default;

double ShareViewController::currentProgress() const
{
    return m_progress->progress();
}

double ShareViewController::characterBaseY() const
{
    return m_progress->characterBaseY();
}

bool ShareViewController::hasWorkInFlight() const
{
    return m_uploadsInFlight > 0 || (m_collector && m_collector->isRunning());
}

void ShareViewController::setupUI()
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    m_titleLabel = new QLabel(QStringLiteral("Pelkin Drop"), this);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = font();
    titleFont.setPixelSize(18);
    titleFont.setBold(true);
    m_titleLabel->setFont(titleFont);
    m_titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_infoLabel = new ElidedLabel(QStringLiteral("ファイル取得中..."), this);
    m_infoLabel->setObjectName(QStringLiteral("infoLabel"));
    QFont infoFont = font();
    infoFont.setPixelSize(12);
    m_infoLabel->setFont(infoFont);

    m_protectCheck = new QCheckBox(QStringLiteral("パスワードで保護する"), this);
    m_protectCheck->setObjectName(QStringLiteral("protectCheck"));
    connect(m_protectCheck, &QCheckBox::clicked, this, &ShareViewController::toggleProtect);

    m_passwordField = new QLineEdit(this);
    m_passwordField->setObjectName(QStringLiteral("passwordField"));
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_passwordField->setPlaceholderText(QStringLiteral("パスワード"));
    m_passwordField->setEnabled(false);
    m_passwordField->hide();
    connect(m_passwordField, &QLineEdit::returnPressed, this, [this] {
        if (m_uploadButton->isEnabled()) {
            tapUpload();
        }
    });

    m_uploadButton = new QPushButton(QStringLiteral("アップロード"), this);
    m_uploadButton->setObjectName(QStringLiteral("uploadButton"));
    QFont uploadFont = font();
    uploadFont.setPixelSize(14);
    uploadFont.setWeight(QFont::DemiBold);
    m_uploadButton->setFont(uploadFont);
    m_uploadButton->setCursor(Qt::PointingHandCursor);
    connect(m_uploadButton, &QPushButton::clicked, this, &ShareViewController::tapUpload);

    m_cancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancelButton, &QPushButton::clicked, this, &ShareViewController::tapCancel);

    m_spinner = new BusySpinner(this);
    m_spinner->setObjectName(QStringLiteral("spinner"));

    m_progress = new ShareProgressArea(this);

    setWindowIcon(QIcon(PelkinCharacter::characterResource));
    applyColours();
    refreshProtectionControls();
    layoutContent();
}

void ShareViewController::applyColours()
{
    const QPalette base = QApplication::palette(this);
    const bool dark = base.color(QPalette::Window).lightness() < 128;

    QPalette secondary = m_infoLabel->palette();
    QColor text = base.color(QPalette::WindowText);
    text.setAlphaF(dark ? 0.55 : 0.5);
    secondary.setColor(QPalette::WindowText, text);
    m_infoLabel->setPalette(secondary);

    // The desktop's accent blue, lighter on dark backgrounds.
    const QString blue = dark ? QStringLiteral("#0a84ff") : QStringLiteral("#007aff");
    const QString pressed = dark ? QStringLiteral("#0071e0") : QStringLiteral("#0062cc");
    m_uploadButton->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: white; border: none;"
                       " border-radius: 7px; padding: 0 12px; }"
                       "QPushButton:pressed { background-color: %2; }"
                       "QPushButton:focus { border: 2px solid %5; }"
                       "QPushButton:disabled { background-color: %3; color: %4; }")
            .arg(blue, pressed, dark ? QStringLiteral("#24405f") : QStringLiteral("#9ec9ff"),
                 dark ? QStringLiteral("rgba(255,255,255,0.55)")
                      : QStringLiteral("rgba(255,255,255,0.9)"),
                 // Keyboard focus: a ring that stands out from the blue and the window.
                 dark ? QStringLiteral("#ffffff") : QStringLiteral("#1d1d1f")));
    m_cancelButton->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: palette(button); color: palette(button-text);"
        " border: 1px solid palette(mid); border-radius: 7px; padding: 0 12px; }"
        "QPushButton:pressed { background-color: palette(midlight); }"
        "QPushButton:focus { border: 2px solid palette(highlight); }"));
    m_progress->setAccentColour(blue);
}

void ShareViewController::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_infoLabel) {
        applyColours();
    }
}

void ShareViewController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutContent();
}

void ShareViewController::layoutContent()
{
    const int w = width();
    const int h = height();

    placeFromBottom(m_titleLabel, 18, h - 46, w - 36, 26);
    placeFromBottom(m_infoLabel, 18, bottomY(m_titleLabel) - 26, w - 36, 18);
    placeFromBottom(m_protectCheck, 18, bottomY(m_infoLabel) - 34, w - 36, 20);
    const int checkY = bottomY(m_protectCheck);
    const bool passwordShown = !m_passwordField->isHidden();
    if (passwordShown) {
        placeFromBottom(m_passwordField, 18, checkY - 34, w - 36, 26);
    } else {
        placeFromBottom(m_passwordField, 18, checkY - 4, w - 36, 0);
    }
    const int anchorY = passwordShown ? bottomY(m_passwordField) : checkY;
    const int progressHeight = 88;
    const int progressBottom = std::max(anchorY - 104, 74);
    m_progress->place(QRect(18, h - progressBottom - progressHeight, w - 36, progressHeight));

    const int uploadWidth = std::max(140, m_uploadButton->sizeHint().width() + 28);
    placeFromBottom(m_uploadButton, w - 18 - uploadWidth, 16, uploadWidth, 34);
    const int cancelWidth = std::max(110, m_cancelButton->sizeHint().width() + 28);
    placeFromBottom(m_cancelButton, m_uploadButton->x() - 10 - cancelWidth, 16, cancelWidth, 34);
    placeFromBottom(m_spinner, 18, 25, 16, 16);
}

void ShareViewController::refreshProtectionControls()
{
    m_protectCheck->setEnabled(!m_isUploading);
    m_passwordField->setEnabled(m_protectCheck->isChecked() && !m_isUploading);
}

void ShareViewController::toggleProtect()
{
    if (m_isUploading) {
        return;
    }
    if (m_protectCheck->isChecked()) {
        m_passwordField->setEnabled(true);
        m_passwordField->show();
        m_passwordField->setFocus();
    } else {
        m_passwordField->setEnabled(false);
        m_passwordField->hide();
        m_passwordField->clear();
    }
    layoutContent();
}

void ShareViewController::setLoading(bool loading, const std::optional<QString> &text)
{
    if (text) {
        m_infoLabel->setText(*text);
    }
    if (loading) {
        m_spinner->startAnimation();
        m_uploadButton->setEnabled(false);
    } else {
        m_spinner->stopAnimation();
        // A closing panel starts nothing new: an upload begun now would be
        // cut off by the close.
        m_uploadButton->setEnabled(!m_isUploading && !m_closing);
    }
    refreshProtectionControls();
}

void ShareViewController::done(const QString &message)
{
    resetUploadProgressUI();
    const bool alreadyClosing = m_closing;
    m_closing = true;
    setLoading(false, message);
    if (alreadyClosing) {
        return;
    }
    emit outcomeShown(message, m_copiedLink.value_or(QString()));
    QTimer::singleShot(closeDelayMs, this, [this] {
        if (!m_cancelled) {
            emit requestCompleted();
        }
    });
}

void ShareViewController::tapCancel()
{
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    if (m_collector) {
        m_collector->abandon();
    }
    emit requestCancelled();
    settleIfIdle();
}

void ShareViewController::closeEvent(QCloseEvent *event)
{
    // Closing the window by its title bar is a cancel, unless the panel has
    // already finished.
    if (!m_closing) {
        tapCancel();
    }
    event->accept();
}

void ShareViewController::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        tapCancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ShareViewController::collectFiles()
{
    setLoading(true, QStringLiteral("ファイル取得中..."));
    if (m_inputItems.isEmpty()) {
        done(QStringLiteral("入力が空です"));
        return;
    }
    m_collector = new ShareItemCollector(m_workFolder, this);
    connect(m_collector, &ShareItemCollector::finished, this, [this](const QList<QUrl> &urls) {
        if (m_cancelled) {
            settleIfIdle();
            return;
        }
        m_collectedURLs = urls;
        QString text;
        if (urls.isEmpty()) {
            text = QStringLiteral("ファイルが取得できませんでした");
        } else if (urls.size() == 1) {
            text = urls.first().fileName();
        } else {
            text = QStringLiteral("選択されたファイル数: ") + QString::number(urls.size());
        }
        setLoading(false, text);
    });
    m_collector->collect(m_inputItems);
}

void ShareViewController::tapUpload()
{
    if (m_closing || m_cancelled || m_isUploading) {
        return;
    }
    if (m_collectedURLs.isEmpty()) {
        done(QStringLiteral("ファイルが取得できていません"));
        return;
    }
    std::optional<QString> password;
    if (m_protectCheck->isChecked()) {
        const QString trimmed = TextLimits::trimmed(m_passwordField->text());
        if (trimmed.isEmpty()) {
            done(QStringLiteral("パスワードを入力してください"));
            return;
        }
        password = trimmed;
    }
    setLoading(true, QStringLiteral("アップロード中..."));
    prepareUploadProgressUI();

    ++m_uploadsInFlight;
    auto *job = new UploadJob(this);
    connect(job, &UploadJob::progress, this, &ShareViewController::handleUploadProgress);
    connect(job, &UploadJob::finished, this, [this, job](const UploadResult &result) {
        job->deleteLater();
        handleUploadResult(result);
    });
    job->start(*m_uploader, m_collectedURLs, password);
}

void ShareViewController::handleUploadResult(const UploadResult &result)
{
    --m_uploadsInFlight;
    if (!m_cancelled) {
        if (!result.isSuccess()) {
            done(QStringLiteral("失敗: ") + result.localizedDescription());
        } else {
            handleUploadProgress(1.0);
            const UploadResponse &response = result.response();
            const std::optional<QString> link = response.url ? response.url : response.downloadUrl;
            if (!link) {
                done(QStringLiteral("アップロード成功"));
            } else {
                QGuiApplication::clipboard()->setText(*link, QClipboard::Clipboard);
                m_copiedLink = link;
                done(QStringLiteral("完了: URLをコピーしました"));
            }
        }
    }
    settleIfIdle();
}

void ShareViewController::settleIfIdle()
{
    if (!hasWorkInFlight()) {
        emit workSettled();
    }
}

void ShareViewController::prepareUploadProgressUI()
{
    if (m_isUploading) {
        return;
    }
    m_isUploading = true;
    refreshProtectionControls();
    m_spinner->stopAnimation();
    m_progress->appear();
}

void ShareViewController::resetUploadProgressUI()
{
    m_isUploading = false;
    refreshProtectionControls();
    m_progress->disappear();
}

void ShareViewController::handleUploadProgress(double fraction)
{
    if (!m_isUploading || m_cancelled) {
        return;
    }
    m_progress->setProgress(fraction);
    const long percent = std::lround(m_progress->progress() * 100.0);
    m_infoLabel->setText(QStringLiteral("アップロード中... %1%").arg(percent));
}
