#include <lumora/lumora_c.h>

#include <QStringDecoder>
#include <QTest>

#include <dlfcn.h>

namespace {

using text_fn = char* (*)(const char*);
using cell_fn = char* (*)(int16_t, int16_t);
using free_fn = void (*)(char*);
using error_fn = int (*)();

} // namespace

/// liblumora.so opened with dlopen; every global function looked up by its own name.
class lumora_capi_test : public QObject {
    Q_OBJECT

    void* handle_ = nullptr;
    text_fn strtohex_ = nullptr;
    text_fn qj_bj_ = nullptr;
    cell_fn wf_wps_cell_ = nullptr;
    free_fn free_ = nullptr;
    error_fn last_error_ = nullptr;

    /// The result as a QString (or "<null>"), released through the library. A leading U+FEFF
    /// stays (QString::fromUtf8 would drop it).
    QString take(char* result)
    {
        const QString text = result ? QStringDecoder(QStringConverter::Utf8,
                                                     QStringConverter::Flag::Stateless |
                                                         QStringConverter::Flag::ConvertInitialBom)
                                          .decode(QByteArrayView(result))
                                    : QStringLiteral("<null>");
        free_(result);
        return text;
    }

    QString call(text_fn fn, const QByteArray& argument, bool null = false)
    {
        return take(fn(null ? nullptr : argument.constData()));
    }

private slots:
    void initTestCase()
    {
        handle_ = dlopen(LUMORA_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(handle_, dlerror());
        strtohex_ = reinterpret_cast<text_fn>(dlsym(handle_, "strtohex"));
        qj_bj_ = reinterpret_cast<text_fn>(dlsym(handle_, "qj_bj"));
        wf_wps_cell_ = reinterpret_cast<cell_fn>(dlsym(handle_, "wf_wps_cell"));
        free_ = reinterpret_cast<free_fn>(dlsym(handle_, "lumora_free"));
        last_error_ = reinterpret_cast<error_fn>(dlsym(handle_, "lumora_last_error"));
        QVERIFY(strtohex_ && qj_bj_ && wf_wps_cell_ && free_ && last_error_);
    }

    void cleanupTestCase()
    {
        if (handle_)
            dlclose(handle_);
    }

    void strtohex_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("255") << QByteArray("255") << "FF";
        QTest::newRow("five digits filled to eight") << QByteArray("74565") << "12345678";
        QTest::newRow("minus one is unsigned") << QByteArray("-1") << "FFFFFFFF";
        QTest::newRow("not a number") << QByteArray("zz") << "0";
        QTest::newRow("a leading U+FEFF is a character, not a byte-order mark")
            << QByteArray("\xef\xbb\xbf"
                          "255")
            << "0";
    }

    void strtohex()
    {
        QFETCH(QByteArray, argument);
        QFETCH(QString, expected);
        QCOMPARE(call(strtohex_, argument), expected);
        QCOMPARE(last_error_(), int(lumora_ok));
    }

    void qj_bj_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("full-width letters and digits")
            << QString::fromUtf8("ＡＢＣ１２３").toUtf8() << "ABC123";
        QTest::newRow("Chinese in full-width brackets")
            << QString::fromUtf8("（中文）【注】").toUtf8() << QString::fromUtf8("(中文)[注]");
        QTest::newRow("character outside the BMP kept")
            << QString::fromUtf8("😀Ａ").toUtf8() << QString::fromUtf8("😀A");
        QTest::newRow("invalid UTF-8 reads as U+FFFD") << QByteArray("a\xff"
                                                                     "b")
                                                       << QString::fromUtf8("a\xef\xbf\xbd"
                                                                            "b");
        QTest::newRow("leading U+FEFF kept")
            << QByteArray("\xef\xbb\xbf\xef\xbc\xa1") << QChar(0xfeff) + QStringLiteral("A");
        QTest::newRow("empty") << QByteArray("") << "";
    }

    void qj_bj()
    {
        QFETCH(QByteArray, argument);
        QFETCH(QString, expected);
        QCOMPARE(call(qj_bj_, argument), expected);
        QCOMPARE(last_error_(), int(lumora_ok));
    }

    void null_arguments()
    {
        QCOMPARE(call(qj_bj_, {}, true), QString(""));
        QCOMPARE(call(strtohex_, {}, true), QStringLiteral("<null>"));
        QCOMPARE(last_error_(), int(lumora_ok));
        free_(nullptr);
    }

    void wf_wps_cell_data()
    {
        QTest::addColumn<int>("c");
        QTest::addColumn<int>("r");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("error");
        QTest::newRow("A1") << 1 << 1 << "A1" << int(lumora_ok);
        QTest::newRow("AB3") << 28 << 3 << "AB3" << int(lumora_ok);
        QTest::newRow("ZZ10") << 702 << 10 << "ZZ10" << int(lumora_ok);
        QTest::newRow("negative row") << 2 << -7 << "B-7" << int(lumora_ok);
        QTest::newRow("column -64 would start with U+0000: refused, not cut")
            << -64 << 1 << "<null>" << int(lumora_text_with_nul);
        QTest::newRow("column -9000 would be a lone surrogate: refused, not turned into ?")
            << -9000 << 5 << "<null>" << int(lumora_text_with_lone_surrogate);
    }

    void wf_wps_cell()
    {
        QFETCH(int, c);
        QFETCH(int, r);
        QFETCH(QString, expected);
        QFETCH(int, error);
        QCOMPARE(take(wf_wps_cell_(static_cast<int16_t>(c), static_cast<int16_t>(r))), expected);
        QCOMPARE(last_error_(), error);
    }
};

QTEST_GUILESS_MAIN(lumora_capi_test)
#include "lumora_capi_test.moc"
