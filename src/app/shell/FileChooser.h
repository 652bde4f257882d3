#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class AppModel;
class QFileDialog;

// The Home tab's file chooser, which the model asks for through
// AppModel::onChooseFiles: a non-blocking file dialog (existing files only,
// several at once) whose choice goes to AppModel::appendFiles. A request
// while one is open raises it. Main thread; needs a QApplication.
class FileChooser : public QObject
{
    Q_OBJECT
public:
    // The model must outlive the chooser.
    explicit FileChooser(AppModel *model, QObject *parent = nullptr);
    ~FileChooser() override;

    void open();
    // The dialog while it is open.
    QFileDialog *dialog() const;

private:
    AppModel *m_model;
    QPointer<QFileDialog> m_dialog;
    QString m_directory; // where the last dialog was left
};
