// X11Support on Xvfb, asked on a connection of its own, as a thread would. Its answers on Qt's
// connection are checked where they matter: the drop zone's window states, the fading only with
// a compositor, the share panel's clipboard manager.
#include "X11Support.h"

#include <QtTest>

class TestX11Support : public QObject
{
    Q_OBJECT
private slots:
    void atomsAndSelectionOwners()
    {
        xcb_connection_t *asker = xcb_connect(nullptr, nullptr),
                         *owner = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(asker) && !xcb_connection_has_error(owner));
        const QByteArray name = "PELKIN_TEST_" + QByteArray::number(qApp->applicationPid());
        // Never named: no atom unless asked to make one, and so no owner.
        QVERIFY(X11Support::internAtom(asker, name, true) == XCB_ATOM_NONE &&
                !X11Support::selectionOwned(asker, name));
        const xcb_atom_t atom = X11Support::internAtom(asker, name);
        QVERIFY(atom != XCB_ATOM_NONE && X11Support::internAtom(owner, name, true) == atom);
        const xcb_window_t window = xcb_generate_id(owner);
        xcb_create_window(owner, XCB_COPY_FROM_PARENT, window,
                          xcb_setup_roots_iterator(xcb_get_setup(owner)).data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(owner, window, atom, XCB_CURRENT_TIME);
        xcb_flush(owner);
        QTRY_COMPARE_WITH_TIMEOUT(X11Support::selectionOwner(asker, atom), window, 2000);
        xcb_disconnect(owner); // the owner goes away: so does the ownership
        QTRY_VERIFY_WITH_TIMEOUT(!X11Support::selectionOwned(asker, name), 2000);
        xcb_disconnect(asker);
    }
};

QTEST_MAIN(TestX11Support)
#include "tst_x11support.moc"
