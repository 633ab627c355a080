#include <lmget_cipher.h>
#include <rt/value/codepage.h>

#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <thread>

namespace {

using lm_j_m_fn = char* (*)(char*, char*);
using lmdes_fn = void (*)(char*, char*);

const QByteArray key("Rkaze418265tgwmoLRwm306142LRwmo4");

/// The stored length of `clear_size` clear bytes: prefix + base64 of salt|nonce|body|tag.
qsizetype stored_size(qsizetype clear_size)
{
    return 4 + (16 + 12 + clear_size + 16 + 2) / 3 * 4;
}

/// A different base64 digit (or 'A' for padding): decodes to different bits in every position.
char flipped(char c)
{
    static const QByteArray alphabet(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    const qsizetype i = alphabet.indexOf(c);
    return i < 0 ? 'A' : alphabet[i ^ 1];
}

} // namespace

/// liblmget.so as a host uses it: loaded by path, both functions found by name.
class lmget_test : public QObject {
    Q_OBJECT

    void* handle_ = nullptr;
    lm_j_m_fn lm_j_m_ = nullptr;
    lmdes_fn lmdes_ = nullptr;

    /// Calls lm_j_m with writable copies of both arguments, as a host passing them by reference,
    /// and checks that the library wrote to neither.
    QByteArray decrypt(const QByteArray& k, const QByteArray& stored)
    {
        QByteArray key_buffer = k;
        QByteArray value_buffer = stored;
        const char* result = lm_j_m_(key_buffer.data(), value_buffer.data());
        [&] {
            QVERIFY(result);
            QCOMPARE(std::memcmp(key_buffer.constData(), k.constData(), k.size() + 1), 0);
            QCOMPARE(std::memcmp(value_buffer.constData(), stored.constData(), stored.size() + 1),
                     0);
        }();
        return result ? QByteArray(result) : QByteArray("<null>");
    }

    /// Calls lmdes on the clear text padded with blanks to `buffer_size`, as the host does.
    QByteArray encrypt(const QByteArray& k, const QByteArray& clear, qsizetype buffer_size = 1024)
    {
        QByteArray key_buffer = k;
        QByteArray buffer = clear.leftJustified(buffer_size, ' ');
        lmdes_(key_buffer.data(), buffer.data());
        [&] { QCOMPARE(key_buffer, k); }();
        return QByteArray(buffer.constData());
    }

private slots:
    void initTestCase()
    {
        handle_ = dlopen(LMGET_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(handle_, dlerror());
        lm_j_m_ = reinterpret_cast<lm_j_m_fn>(dlsym(handle_, "lm_j_m"));
        lmdes_ = reinterpret_cast<lmdes_fn>(dlsym(handle_, "lmdes"));
        QVERIFY(lm_j_m_);
        QVERIFY(lmdes_);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("clear");

        QTest::newRow("server name") << QByteArray("sql01.exam.local,1433");
        QTest::newRow("password with blanks inside") << QByteArray("p@ss w0rd!'\"");
        QTest::newRow("GBK bytes") << rt::to_ansi(QString::fromUtf8("考试管理服务器"));
        QTest::newRow("one byte") << QByteArray("x");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("longest that fits 1024") << QByteArray(700, 'a');
    }

    void roundTrip()
    {
        QFETCH(QByteArray, clear);
        const QByteArray stored = encrypt(key, clear);
        QCOMPARE(stored.size(), stored_size(clear.size()));
        QVERIFY(stored.startsWith("LM1:"));
        for (char c : stored)
            QVERIFY2(c > ' ' && c < 127, "stored form is printable ASCII");
        QCOMPARE(decrypt(key, stored), clear);
        // A fresh salt and nonce every time: equal settings do not look equal in the file.
        QVERIFY(encrypt(key, clear) != stored);
    }

    void cipherCarriesAnyBytes()
    {
        // The C++ API (the administrator's tool) is not limited to NUL-terminated text.
        const std::string clear("a\0b\xFF", 4);
        const std::string stored = lmget::encrypt("k", clear);
        QCOMPARE(lmget::decrypt("k", stored), std::optional<std::string>(clear));
        QCOMPARE(lmget::decrypt("K", stored), std::optional<std::string>());
    }

    void badValuesDecryptToEmptyText_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("with_key");

        const QByteArray good = QByteArray::fromStdString(lmget::encrypt(key.toStdString(), "sa"));
        const QByteArray body = good.mid(4);
        QTest::newRow("empty") << QByteArray() << key;
        QTest::newRow("garbage") << QByteArray("hello world") << key;
        QTest::newRow("prefix only") << QByteArray("LM1:") << key;
        QTest::newRow("shorter than salt, nonce and tag") << QByteArray("LM1:AAAA") << key;
        QTest::newRow("truncated by one group") << good.chopped(4) << key;
        QTest::newRow("truncated by one character") << good.chopped(1) << key;
        QTest::newRow("one character appended") << good + "A" << key;
        QTest::newRow("one group appended") << good + "AAAA" << key;
        QTest::newRow("wrong key") << good << QByteArray("Rkaze418265tgwmoLRwm306142LRwmo5");
        QTest::newRow("key differs in case") << good << key.toLower();
        QTest::newRow("empty key") << good << QByteArray();
        QTest::newRow("missing prefix") << body << key;
        QTest::newRow("prefix in lower case") << "lm1:" + body << key;
        QTest::newRow("other version") << "LM2:" + body << key;
        QTest::newRow("blank inside") << good.left(20) + ' ' + good.mid(21) << key;
        QTest::newRow("trailing newline") << good + "\n" << key;
        QTest::newRow("invalid base64 characters") << "LM1:" + QByteArray(88, '@') << key;
        // A value that has a '+' or a '/' to spell in the URL-safe alphabet.
        QByteArray with_62_or_63 = good;
        while (!with_62_or_63.contains('+') && !with_62_or_63.contains('/'))
            with_62_or_63 = QByteArray::fromStdString(lmget::encrypt(key.toStdString(), "sa"));
        QTest::newRow("url-safe alphabet")
            << with_62_or_63.replace('+', '-').replace('/', '_') << key;
        QTest::newRow("very long input") << "LM1:" + QByteArray(1 << 20, 'A') << key;
        QTest::newRow("valid base64 of random bytes") << "LM1:" + QByteArray(200, 'Q') << key;
    }

    void badValuesDecryptToEmptyText()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, with_key);
        QCOMPARE(decrypt(with_key, stored), QByteArray());
    }

    void everyChangedCharacterIsDetected()
    {
        const QByteArray good = encrypt(key, "sa");
        QCOMPARE(decrypt(key, good), QByteArray("sa"));
        for (qsizetype i = 0; i < good.size(); ++i) {
            QByteArray bad = good;
            bad[i] = i < 4 ? 'X' : flipped(good[i]);
            QVERIFY2(decrypt(key, bad).isEmpty(), qPrintable(QStringLiteral("position %1").arg(i)));
        }
    }

    void nullPointersCountAsEmptyText()
    {
        QCOMPARE(QByteArray(lm_j_m_(nullptr, nullptr)), QByteArray());
        // A value sealed with the empty key opens with a null key.
        QByteArray stored = encrypt(QByteArray(), "sa");
        QCOMPARE(QByteArray(lm_j_m_(nullptr, stored.data())), QByteArray("sa"));
        lmdes_(nullptr, nullptr); // must simply return
    }

    void lmdesWritesOnlyWhenItFits_data()
    {
        QTest::addColumn<QByteArray>("clear");
        QTest::addColumn<int>("extra"); // buffer size relative to the stored size
        QTest::addColumn<bool>("written");

        QTest::newRow("exactly fits") << QByteArray("sa") << 0 << true;
        QTest::newRow("room to spare") << QByteArray("sa") << 100 << true;
        QTest::newRow("one byte short") << QByteArray("sa") << -1 << false;
        QTest::newRow("no padding at all") << QByteArray("password") << -1000 << false;
    }

    void lmdesWritesOnlyWhenItFits()
    {
        QFETCH(QByteArray, clear);
        QFETCH(int, extra);
        QFETCH(bool, written);
        const qsizetype size = std::max(clear.size(), stored_size(clear.size()) + extra);
        QByteArray buffer = clear.leftJustified(size, ' ');
        const QByteArray before = buffer;
        lmdes_(key.toStdString().data(), buffer.data());
        if (!written) {
            QCOMPARE(buffer, before);
            return;
        }
        const QByteArray stored(buffer.constData());
        QCOMPARE(stored.size(), stored_size(clear.size()));
        QCOMPARE(buffer.size(), size); // nothing written past the caller's buffer
        QCOMPARE(decrypt(key, stored), clear);
    }

    void resultBufferBelongsToTheThread()
    {
        const QByteArray first = encrypt(key, "first");
        QByteArray first_value = first;
        QByteArray key_buffer = key;
        const char* mine = lm_j_m_(key_buffer.data(), first_value.data());
        QByteArray other;
        std::thread([&] {
            QByteArray k = key;
            QByteArray second = encrypt(key, "second-value-longer");
            other = lm_j_m_(k.data(), second.data());
        }).join();
        QCOMPARE(other, QByteArray("second-value-longer"));
        QCOMPARE(QByteArray(mine), QByteArray("first"));
    }

    void exportsExactlyTheTwoFunctions()
    {
        QProcess nm;
        nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                        QStringLiteral(LMGET_PATH)});
        if (!nm.waitForFinished() || nm.exitCode() != 0)
            QSKIP("nm is not available");
        QStringList symbols;
        for (const QByteArray& line : nm.readAllStandardOutput().split('\n'))
            if (const QList<QByteArray> fields = line.simplified().split(' '); fields.size() == 3)
                symbols << QString::fromLatin1(fields[2]);
        symbols.sort();
        QCOMPARE(symbols, (QStringList{QStringLiteral("lm_j_m"), QStringLiteral("lmdes")}));
    }
};

QTEST_GUILESS_MAIN(lmget_test)
#include "lmget_test.moc"
