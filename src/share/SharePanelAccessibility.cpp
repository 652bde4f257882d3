#include "SharePanelAccessibility.h"

#include "ElidedLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

const char *const panelName = "sharePanel";

// The information line, read as a status bar; its whole text is the name even
// when the line is cut short on screen.
class StatusLineInterface : public QAccessibleWidget
{
public:
    explicit StatusLineInterface(ElidedLabel *label)
        : QAccessibleWidget(label, QAccessible::StatusBar)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<ElidedLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *panelInterfaces(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    // Without this the top-level widget is a nameless "filler".
    if (widget->objectName() == QLatin1String(panelName))
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    if (auto *label = qobject_cast<ElidedLabel *>(widget);
        label && label->parentWidget() &&
        label->parentWidget()->objectName() == QLatin1String(panelName))
        return new StatusLineInterface(label);
    return nullptr;
}

} // namespace

namespace SharePanelAccessibility {

void apply(QWidget *panel)
{
    static const bool installed = [] {
        QAccessible::installFactory(panelInterfaces);
        return true;
    }();
    Q_UNUSED(installed);

    panel->setObjectName(QLatin1String(panelName));
    panel->setAccessibleName(QStringLiteral("Pelkin Drop で共有"));
    auto *check = panel->findChild<QCheckBox *>(QStringLiteral("protectCheck"));
    auto *password = panel->findChild<QLineEdit *>(QStringLiteral("passwordField"));
    auto *cancel = panel->findChild<QPushButton *>(QStringLiteral("cancelButton"));
    auto *upload = panel->findChild<QPushButton *>(QStringLiteral("uploadButton"));
    if (!check || !password || !cancel || !upload)
        return;
    password->setAccessibleName(QStringLiteral("パスワード"));
    for (QPushButton *button : {cancel, upload})
        button->setFocusPolicy(Qt::StrongFocus);
    QWidget::setTabOrder(check, password);
    QWidget::setTabOrder(password, cancel);
    QWidget::setTabOrder(cancel, upload);
}

} // namespace SharePanelAccessibility
