// When the share panel's process may end at once after its window has
// closed, on a real X server. (Serving until another client takes the
// clipboard over is covered by the end-to-end test.)

#include "ClipboardKeeper.h"
#include "X11Support.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

// Another X client that owns CLIPBOARD_MANAGER, as a clipboard manager does.
class FakeClipboardManager
{
public:
    FakeClipboardManager()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        static const char name[] = "CLIPBOARD_MANAGER";
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
            nullptr);
        xcb_set_selection_owner(m_connection, m_window, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection),
                                            nullptr)); // round trip: the owner is set
    }
    ~FakeClipboardManager() { xcb_disconnect(m_connection); }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
};

} // namespace

class TestClipboardKeeper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QSKIP("needs an X server");
        }
    }

    // Nothing to keep: released at once (queued), never serving.
    void releasesAtOnce_data()
    {
        QTest::addColumn<bool>("manager");
        QTest::newRow("a clipboard manager will save it") << true;
        QTest::newRow("the clipboard is not ours") << false;
    }

    void releasesAtOnce()
    {
        QFETCH(bool, manager);
        std::unique_ptr<FakeClipboardManager> fake;
        if (manager) {
            fake = std::make_unique<FakeClipboardManager>();
            QVERIFY(X11Support::clipboardManagerRunning());
            QGuiApplication::clipboard()->setText(QStringLiteral("link"));
            QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::clipboard()->ownsClipboard(), 2000);
        } else {
            QGuiApplication::clipboard()->clear();
            QTRY_VERIFY_WITH_TIMEOUT(!QGuiApplication::clipboard()->ownsClipboard(), 2000);
        }
        ClipboardKeeper keeper;
        QSignalSpy released(&keeper, &ClipboardKeeper::released);
        keeper.keepUntilReleased();
        QVERIFY(!keeper.isServing());
        QVERIFY(released.isEmpty()); // queued, never inside the call
        QVERIFY(released.wait(1000));
        // Qt would offer the content to the manager on exit; this one never
        // answers, so give the clipboard up here instead.
        QGuiApplication::clipboard()->clear();
    }
};

QTEST_MAIN(TestClipboardKeeper)
#include "TestClipboardKeeper.moc"
