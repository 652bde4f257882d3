#include "ShareViewController.h"

#include "BusySpinner.h"
#include "CharacterImage.h"
#include "CharacterTrack.h"
#include "CharacterView.h"
#include "ElidedLabel.h"
#include "PelkinUploader.h"
#include "ShareItemCollector.h"
#include "TextLimits.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Ease in, ease out: the standard cubic curve (0.42, 0) (0.58, 1).
QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

constexpr int progressScale = 1000; // the bar counts in thousandths

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

    m_progressContainer = new QWidget(this);
    m_progressContainer->setObjectName(QStringLiteral("progressContainer"));
    m_progressContainer->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_containerOpacity = new QGraphicsOpacityEffect(m_progressContainer);
    m_containerOpacity->setOpacity(0.0);
    m_progressContainer->setGraphicsEffect(m_containerOpacity);
    m_progressContainer->hide();

    m_progressBar = new QProgressBar(m_progressContainer);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, progressScale);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);

    // A sibling above the container rather than its child, so the bounce can
    // rise past the container's top edge without being cut off.
    m_characterImageView = new CharacterView(this);
    m_characterImageView->setObjectName(QStringLiteral("characterImageView"));
    m_characterImageView->setImage(
        PelkinCharacter::loadCharacterImage(PelkinCharacter::Deliverable::sharePanel));
    m_characterImageView->setOpacity(0.0);
    m_characterImageView->setFrame(QRect(0, 0, PelkinCharacter::sharePanelCharacterSize,
                                         PelkinCharacter::sharePanelCharacterSize));
    m_characterImageView->hide();
    m_characterMove = new QPropertyAnimation(m_characterImageView, "frameTopLeft", this);
    m_characterMove->setDuration(PelkinCharacter::moveDurationMs);
    m_characterMove->setEasingCurve(easeInEaseOut());

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
    m_progressBar->setStyleSheet(
        QStringLiteral("QProgressBar { border: none; border-radius: 5px;"
                       " background-color: rgba(128,128,128,0.25); }"
                       "QProgressBar::chunk { border-radius: 5px; background-color: %1; }")
            .arg(blue));
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
    placeFromBottom(m_progressContainer, 18, std::max(anchorY - 104, 74), w - 36, 88);
    placeFromBottom(m_progressBar, 16, 18, std::max(m_progressContainer->width() - 32, 120), 10);

    const int uploadWidth = std::max(140, m_uploadButton->sizeHint().width() + 28);
    placeFromBottom(m_uploadButton, w - 18 - uploadWidth, 16, uploadWidth, 34);
    const int cancelWidth = std::max(110, m_cancelButton->sizeHint().width() + 28);
    placeFromBottom(m_cancelButton, m_uploadButton->x() - 10 - cancelWidth, 16, cancelWidth, 34);
    placeFromBottom(m_spinner, 18, 25, 16, 16);

    m_characterBaseY = bottomY(m_progressBar) + m_progressBar->height() + 8;
    updateCharacterPosition(false);
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
    const QPointer<ShareViewController> self(this);
    m_uploader->upload(
        m_collectedURLs, password,
        [self](double fraction) {
            QMetaObject::invokeMethod(
                qApp,
                [self, fraction] {
                    if (self) {
                        self->handleUploadProgress(fraction);
                    }
                },
                Qt::QueuedConnection);
        },
        [self](UploadResult result) {
            QMetaObject::invokeMethod(
                qApp,
                [self, result] {
                    if (self) {
                        self->handleUploadResult(result);
                    }
                },
                Qt::QueuedConnection);
        });
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
    m_currentProgress = 0;
    m_progressBar->setValue(0);
    updateCharacterPosition(false);
    m_containerOpacity->setOpacity(0.0);
    m_characterImageView->setOpacity(0.0);
    m_progressContainer->show();
    m_characterImageView->show();
    m_characterImageView->raise();
    m_spinner->stopAnimation();
    fadeProgress(1.0, showProgressMs, false);
}

void ShareViewController::resetUploadProgressUI()
{
    const bool wasShown = !m_progressContainer->isHidden() || m_isUploading;
    m_isUploading = false;
    refreshProtectionControls();
    m_currentProgress = 0;
    m_progressBar->setValue(0);
    updateCharacterPosition(false);
    if (!wasShown) {
        return;
    }
    fadeProgress(0.0, hideProgressMs, true);
}

void ShareViewController::fadeProgress(qreal to, int durationMs, bool hideWhenDone)
{
    if (m_fade) {
        // A newer fade replaces the running one; stop() does not signal
        // finished, so a replaced fade-out never hides a shown container.
        m_fade->stop();
    }
    auto *group = new QParallelAnimationGroup(this);
    for (QObject *target : {static_cast<QObject *>(m_containerOpacity),
                            static_cast<QObject *>(m_characterImageView)}) {
        auto *animation = new QPropertyAnimation(target, "opacity", group);
        animation->setDuration(durationMs);
        animation->setEasingCurve(easeInEaseOut());
        animation->setEndValue(to);
        group->addAnimation(animation);
    }
    if (hideWhenDone) {
        connect(group, &QAbstractAnimation::finished, this, [this] {
            m_progressContainer->hide();
            m_characterImageView->hide();
        });
    }
    m_fade = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void ShareViewController::handleUploadProgress(double fraction)
{
    if (!m_isUploading || m_cancelled) {
        return;
    }
    setUploadProgress(fraction);
    const long percent = std::lround(m_currentProgress * 100.0);
    m_infoLabel->setText(QStringLiteral("アップロード中... %1%").arg(percent));
}

void ShareViewController::setUploadProgress(double fraction)
{
    m_currentProgress = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    m_progressBar->setValue(int(std::lround(m_currentProgress * progressScale)));
    updateCharacterPosition(true);
}

void ShareViewController::updateCharacterPosition(bool animated)
{
    const QRect bar = m_progressBar->geometry();
    const double restBottomY = m_progressContainer->height() - m_characterBaseY;
    const std::optional<QPointF> topLeft = PelkinCharacter::sharePanelTopLeft(
        QRectF(bar), QSizeF(m_characterImageView->frame().size()), restBottomY, m_currentProgress,
        m_characterBounceAmplitude);
    if (!topLeft) {
        return;
    }
    const QPoint target = m_progressContainer->pos() + topLeft->toPoint();
    m_characterMove->stop();
    if (PelkinCharacter::sharePanelShouldAnimate(animated, m_containerOpacity->opacity())) {
        m_characterMove->setStartValue(m_characterImageView->frameTopLeft());
        m_characterMove->setEndValue(target);
        m_characterMove->start();
    } else {
        m_characterImageView->setFrameTopLeft(target);
    }
}
