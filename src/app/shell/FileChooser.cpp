#include "FileChooser.h"

#include "AppModel.h"

#include <QFileDialog>
#include <QStandardPaths>

FileChooser::FileChooser(AppModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{}

FileChooser::~FileChooser()
{
    delete m_dialog;
}

QFileDialog *FileChooser::dialog() const
{
    return m_dialog;
}

void FileChooser::open()
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    auto *dialog = new QFileDialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setDirectory(m_directory.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                             : m_directory);
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        m_directory = dialog->directory().absolutePath();
        if (result != QDialog::Accepted)
            return;
        // Queued on the model, as from any dialog: the choice is taken in
        // once the dialog's own handling is over.
        QMetaObject::invokeMethod(
            m_model, [model = m_model, urls = dialog->selectedUrls()] { model->appendFiles(urls); },
            Qt::QueuedConnection);
    });
    m_dialog = dialog;
    dialog->open();
}
