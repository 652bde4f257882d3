// The Home tab's file chooser: the model asks, the shell shows a real
// non-blocking QFileDialog (offscreen) and hands the choice back.
#include "AppModel.h"
#include "FileChooser.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QtTest>

class TestFileChooser : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void choiceReachesTheModel_data();
    void choiceReachesTheModel();
    void modelGoneWhileOpen();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<FileChooser> m_chooser;
};

void TestFileChooser::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    for (const char *name : {"one.txt", "two.txt"}) {
        QFile file(QDir(m_folder->path()).filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    m_model = std::make_unique<AppModel>(m_folder->filePath(QStringLiteral("settings.ini")));
    m_chooser = std::make_unique<FileChooser>(m_model.get());
    m_model->onChooseFiles = [this] { m_chooser->open(); };
}

void TestFileChooser::cleanup()
{
    m_chooser.reset();
    m_model.reset();
    m_folder.reset();
}

void TestFileChooser::choiceReachesTheModel_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("accepted") << true;
    QTest::newRow("cancelled") << false;
}

void TestFileChooser::choiceReachesTheModel()
{
    QFETCH(bool, accept);
    m_model->chooseFiles();
    QPointer<QFileDialog> dialog = m_chooser->dialog();
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), 2000);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
    m_model->chooseFiles(); // raises the open one
    QCOMPARE(m_chooser->dialog(), dialog.data());

    dialog->setDirectory(m_folder->path());
    dialog->selectFile(QStringLiteral("\"one.txt\" \"two.txt\""));
    QMetaObject::invokeMethod(dialog, accept ? "accept" : "reject");
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 2000);
    if (!accept) {
        QTest::qWait(50);
        QVERIFY(m_model->selectedURLs().isEmpty());
        QCOMPARE(m_model->homeStatus(), QStringLiteral("ファイルを選んでください"));
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_model->selectedURLs().size(), 2, 2000);
    QStringList names{m_model->selectedURLs().at(0).fileName(),
                      m_model->selectedURLs().at(1).fileName()};
    names.sort();
    QCOMPARE(names, (QStringList{"one.txt", "two.txt"}));
    QCOMPARE(m_model->homeStatus(), QStringLiteral("2件選択"));
}

void TestFileChooser::modelGoneWhileOpen()
{
    m_model->chooseFiles();
    QPointer<QFileDialog> dialog = m_chooser->dialog();
    QVERIFY(dialog);
    dialog->setDirectory(m_folder->path());
    dialog->selectFile(QStringLiteral("one.txt"));
    // Accepted, and the model gone before the queued choice arrives.
    QMetaObject::invokeMethod(dialog, "accept");
    m_chooser.reset();
    QVERIFY(dialog.isNull());
    m_model.reset();
    QTest::qWait(50);
}

// The file dialog keeps state in the user's configuration: point HOME and
// XDG_CONFIG_HOME at a temporary folder before Qt starts.
int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral(".config")).toLocal8Bit());
    QApplication app(argc, argv);
    TestFileChooser test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_FileChooser.moc"
