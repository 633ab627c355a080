// Message boxes without a window system: a handler answers them, and without one nothing is
// printed and nothing is consented to.

#include <rt/ui/messagebox.h>

#include <QTemporaryFile>
#include <QTest>

#include <cstdio>

#include <unistd.h>

namespace {

/// Everything written to standard error while `f` runs.
template <typename F> QByteArray standard_error_of(F&& f)
{
    QTemporaryFile capture;
    if (!capture.open())
        qFatal("no temporary file");
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    f();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

class messagebox_test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { rt::set_messagebox_handler({}); }

    void answers_data()
    {
        QTest::addColumn<bool>("yes_no");
        QTest::addColumn<int>("handler_answer"); // 0: no handler
        QTest::addColumn<int>("expected");
        QTest::newRow("OK box without a handler is acknowledged") << false << 0 << 1;
        QTest::newRow("question without a handler is answered No") << true << 0 << 2;
        QTest::newRow("a handler answers Yes") << true << 1 << 1;
        QTest::newRow("a handler answers No") << true << 2 << 2;
    }
    void answers()
    {
        QFETCH(bool, yes_no);
        QFETCH(int, handler_answer);
        QFETCH(int, expected);
        QList<rt::message> seen;
        if (handler_answer != 0) {
            rt::set_messagebox_handler([&](const rt::message& m) {
                seen.append(m);
                return handler_answer;
            });
        }
        int answer = 0;
        const QByteArray printed = standard_error_of([&] {
            answer =
                rt::messagebox(QStringLiteral("标题"), QStringLiteral("第一行\r第二行"),
                               rt::icon::question, yes_no ? rt::buttons::yes_no : rt::buttons::ok);
        });
        QCOMPARE(answer, expected);
        QCOMPARE(printed, QByteArray());
        QCOMPARE(seen.size(), handler_answer != 0 ? 1 : 0);
        for (const rt::message& m : std::as_const(seen)) {
            QCOMPARE(m.title, QStringLiteral("标题"));
            QCOMPARE(m.text, QStringLiteral("第一行\r第二行"));
            QCOMPARE(m.icon, rt::icon::question);
            QCOMPARE(m.buttons, yes_no ? rt::buttons::yes_no : rt::buttons::ok);
        }
    }

    void replacing_gives_back_the_previous_handler()
    {
        QVERIFY(!rt::set_messagebox_handler([](const rt::message&) { return 7; }));
        const rt::messagebox_handler previous = rt::set_messagebox_handler({});
        QVERIFY(previous);
        QCOMPARE(previous(rt::message{}), 7);
    }
};

QTEST_GUILESS_MAIN(messagebox_test)
#include "messagebox_test.moc"
