// X11Support on Xvfb, asked on a connection of its own (as a thread would) and on Qt's.
#include "X11Support.h"

#include <QWindow>
#include <QtTest>

class TestX11Support : public QObject
{
    Q_OBJECT
private slots:
    void atomsAndSelectionOwners()
    {
        xcb_connection_t *asker = xcb_connect(nullptr, nullptr), *owner = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(asker) && !xcb_connection_has_error(owner));
        const QByteArray name = "PELKIN_TEST_" + QByteArray::number(QCoreApplication::applicationPid());
        // Never named: no atom unless asked to make one, and so no owner.
        QVERIFY(X11Support::internAtom(asker, name, true) == XCB_ATOM_NONE &&
                !X11Support::selectionOwned(asker, name));
        const xcb_atom_t atom = X11Support::internAtom(asker, name);
        QVERIFY(atom != XCB_ATOM_NONE && X11Support::internAtom(owner, name, true) == atom);
        const xcb_window_t window = xcb_generate_id(owner);
        xcb_create_window(owner, XCB_COPY_FROM_PARENT, window,
                          xcb_setup_roots_iterator(xcb_get_setup(owner)).data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(owner, window, atom, XCB_CURRENT_TIME), xcb_flush(owner);
        QTRY_COMPARE_WITH_TIMEOUT(X11Support::selectionOwner(asker, atom), window, 2000);
        xcb_disconnect(owner); // the owner goes away: so does the ownership
        QTRY_VERIFY_WITH_TIMEOUT(!X11Support::selectionOwned(asker, name), 2000);
        xcb_disconnect(asker);
    }

    void qtConnectionAnswers()
    {
        // Xvfb runs no compositor or clipboard manager of its own.
        QVERIFY(X11Support::applicationConnection() && !X11Support::compositorRunning() &&
                !X11Support::clipboardManagerRunning());
        QWindow window;
        QVERIFY(X11Support::addWindowStates(&window, {"_NET_WM_STATE_SKIP_TASKBAR"}) &&
                !X11Support::addWindowStates(nullptr, {"_NET_WM_STATE_SKIP_TASKBAR"}));
    }
};

QTEST_MAIN(TestX11Support)
#include "tst_x11support.moc"
