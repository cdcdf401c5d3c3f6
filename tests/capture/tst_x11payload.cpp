#include "capture/ClipboardPayload.h"

#include "platform/x11/X11Pasteboard.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QGuiApplication>

using namespace Qt::StringLiterals;

namespace {

// The X11 clipboard, with something happening in the middle of a change's reads: right
// before the first read of the contents (after their type list was read), or right after
// the plain text was read.
class InterleavedPasteboard final : public Pasteboard
{
public:
    enum class When { BeforeContents, AfterText };

    InterleavedPasteboard(Pasteboard &real, When when, std::function<void()> event)
        : m_real(real)
        , m_when(when)
        , m_event(std::move(event))
    {
    }

    qint64 changeCount() const override { return m_real.changeCount(); }
    std::optional<QStringList> types() const override { return m_real.types(); }
    std::optional<QList<QUrl>> fileUrls() const override
    {
        happen(When::BeforeContents);
        return m_real.fileUrls();
    }
    std::optional<QByteArray> data(const QString &type) const override
    {
        happen(When::BeforeContents);
        return m_real.data(type);
    }
    std::optional<QString> string() const override
    {
        happen(When::BeforeContents);
        std::optional<QString> text = m_real.string();
        happen(When::AfterText);
        return text;
    }
    void clearContents() override { m_real.clearContents(); }
    void setData(const QByteArray &data, const QString &type) override { m_real.setData(data, type); }
    void setString(const QString &text, const QString &type) override { m_real.setString(text, type); }
    void writeAlsoToPrimarySelection() override { m_real.writeAlsoToPrimarySelection(); }

private:
    void happen(When when) const
    {
        if (when != m_when || std::exchange(m_happened, true))
            return;
        m_event();
    }

    Pasteboard &m_real;
    When m_when;
    std::function<void()> m_event;
    mutable bool m_happened = false;
};

} // namespace

// Reading a change from real clients on Xvfb.
class TestX11Payload : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<X11Pasteboard> m_pasteboard;

    bool xclipCopied(const QByteArray &text)
    {
        const qint64 before = m_pasteboard->changeCount();
        x11test::xclipCopy(text);
        return QTest::qWaitFor([&] { return m_pasteboard->changeCount() != before; }, 5000);
    }

private Q_SLOTS:
    void init()
    {
        m_pasteboard = X11Pasteboard::create();
        QVERIFY(m_pasteboard);
    }

    void cleanup() { m_pasteboard.reset(); }

    // A copy that replaces the contents while they are read is not taken for the change
    // whose type list was checked; the next read takes it, with its own markers.
    void aCopyDuringTheReadIsLeftToTheNextRead_data()
    {
        QTest::addColumn<QStringList>("newerEntries");
        // What the next read captures; empty for nothing.
        QTest::addColumn<QString>("nextText");
        QTest::newRow("password manager") << QStringList{u"text/plain=hunter2"_s, u"x-kde-passwordManagerHint=secret"_s}
                                          << QString();
        QTest::newRow("ordinary copy") << QStringList{u"text/plain=newer words"_s} << u"newer words"_s;
    }

    void aCopyDuringTheReadIsLeftToTheNextRead()
    {
        QFETCH(QStringList, newerEntries);
        QFETCH(QString, nextText);
        QVERIFY(xclipCopied("older words"));

        std::unique_ptr<QProcess> newer;
        InterleavedPasteboard racing(*m_pasteboard, InterleavedPasteboard::When::BeforeContents, [&] {
            const qint64 before = m_pasteboard->changeCount();
            newer = x11test::startClient(QStringLiteral(KN_COPIER), newerEntries);
            QVERIFY(newer);
            QVERIFY(QTest::qWaitFor([&] { return m_pasteboard->changeCount() != before; }, 5000));
        });
        QVERIFY(!makePayload(racing, std::nullopt));
        QVERIFY(newer);

        const std::optional<ClipboardPayload> next = makePayload(*m_pasteboard, std::nullopt);
        QCOMPARE(next.has_value(), !nextText.isEmpty());
        if (next)
            QCOMPARE(std::get<ClipboardPayload::Text>(next->content).text, nextText);
        x11test::stopClient(newer);
    }

    // An application that quits right after its copy was read leaves nothing newer: the
    // copy is kept.
    void anOwnerQuittingAfterTheReadKeepsItsCopy()
    {
        const qint64 before = m_pasteboard->changeCount();
        std::unique_ptr<QProcess> owner = x11test::startClient(QStringLiteral(KN_COPIER), {u"text/plain=last words"_s});
        QVERIFY(owner);
        QVERIFY(QTest::qWaitFor([&] { return m_pasteboard->changeCount() != before; }, 5000));

        InterleavedPasteboard quitting(*m_pasteboard, InterleavedPasteboard::When::AfterText, [&] {
            const qint64 owned = m_pasteboard->changeCount();
            x11test::stopClient(owner);
            QVERIFY(QTest::qWaitFor([&] { return m_pasteboard->changeCount() != owned; }, 5000));
        });
        const std::optional<ClipboardPayload> payload = makePayload(quitting, std::nullopt);
        QVERIFY(!owner);
        QVERIFY(payload);
        QCOMPARE(std::get<ClipboardPayload::Text>(payload->content).text, u"last words"_s);
    }
};

QTEST_MAIN(TestX11Payload)
#include "tst_x11payload.moc"
