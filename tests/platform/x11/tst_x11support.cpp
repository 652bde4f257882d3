// X11Support on a real X server (Xvfb): atoms and selection owners asked on
// a connection of the caller's own, as a thread with its own connection
// would, while another client claims and gives up a selection.
#include "X11Support.h"

#include <QGuiApplication>
#include <QRandomGenerator>
#include <QWindow>
#include <QtTest>

class TestX11Support : public QObject
{
    Q_OBJECT
private slots:
    void atomsAndSelectionOwners();
    void qtConnectionAnswers();
};

void TestX11Support::atomsAndSelectionOwners()
{
    xcb_connection_t *asker = xcb_connect(nullptr, nullptr);
    xcb_connection_t *owner = xcb_connect(nullptr, nullptr);
    QVERIFY(!xcb_connection_has_error(asker) && !xcb_connection_has_error(owner));
    const QByteArray name =
        "PELKIN_TEST_SELECTION_" + QByteArray::number(QRandomGenerator::global()->generate());

    // Never named: no atom unless asked to make one, and so no owner.
    QCOMPARE(X11Support::internAtom(asker, name, true), xcb_atom_t(XCB_ATOM_NONE));
    QVERIFY(!X11Support::selectionOwned(asker, name));
    const xcb_atom_t atom = X11Support::internAtom(asker, name);
    QVERIFY(atom != XCB_ATOM_NONE);
    QCOMPARE(X11Support::internAtom(owner, name, true), atom); // the server's, not the client's
    QCOMPARE(X11Support::selectionOwner(asker, atom), xcb_window_t(XCB_WINDOW_NONE));

    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(owner)).data;
    const xcb_window_t window = xcb_generate_id(owner);
    xcb_create_window(owner, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(owner, window, atom, XCB_CURRENT_TIME);
    xcb_flush(owner);
    QTRY_COMPARE_WITH_TIMEOUT(X11Support::selectionOwner(asker, atom), window, 2000);
    QVERIFY(X11Support::selectionOwned(asker, name));

    // The owner goes away: so does the ownership.
    xcb_disconnect(owner);
    QTRY_VERIFY_WITH_TIMEOUT(!X11Support::selectionOwned(asker, name), 2000);
    xcb_disconnect(asker);

    // No connection: every answer is "no".
    QCOMPARE(X11Support::internAtom(nullptr, name), xcb_atom_t(XCB_ATOM_NONE));
    QVERIFY(!X11Support::selectionOwned(nullptr, name));
}

void TestX11Support::qtConnectionAnswers()
{
    QVERIFY(X11Support::applicationConnection());
    // Xvfb runs no compositor or clipboard manager of its own.
    QVERIFY(!X11Support::compositorRunning());
    QVERIFY(!X11Support::clipboardManagerRunning());
    QWindow window;
    QVERIFY(X11Support::addWindowStates(&window, {"_NET_WM_STATE_SKIP_TASKBAR"}));
    QVERIFY(!X11Support::addWindowStates(nullptr, {"_NET_WM_STATE_SKIP_TASKBAR"}));
}

QTEST_MAIN(TestX11Support)
#include "tst_x11support.moc"
