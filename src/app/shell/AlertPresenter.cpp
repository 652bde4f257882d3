#include "AlertPresenter.h"

#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

namespace {
constexpr int minimumWidth = 380;
}

AlertPresenter::~AlertPresenter() = default;

void AlertPresenter::showAlert(const QString &title, const QString &message)
{
    QMessageBox box;
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(QStringLiteral("Pelkin Drop"));
    box.setText(title);
    box.setInformativeText(message);
    box.setStandardButtons(QMessageBox::Ok);
    // Messages carry file names and the service's own words: never let them
    // be read as markup. The URL can be selected and copied by hand.
    box.setTextFormat(Qt::PlainText);
    for (auto *label : box.findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    // Wide enough that a share URL does not wrap into a narrow column.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(minimumWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    // Arrives after a drop on another application's window: keep it in view.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}
