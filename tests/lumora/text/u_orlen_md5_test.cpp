#include <lumora/text/u_orlen_fun.h>
#include <lumora/text/u_orlen_md5.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

/// Qt's own MD5, as an independent reference.
QString reference(const QByteArray& bytes)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
}

/// The reference digest of `size` zero bytes, computed block by block.
QString reference_of_zeros(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    const QByteArray block(1 << 20, '\0');
    for (qint64 left = size; left > 0; left -= block.size())
        hash.addData(QByteArrayView(block).first(std::min<qint64>(left, block.size())));
    return QString::fromLatin1(hash.result().toHex().toUpper());
}

const QString crlf = QStringLiteral("\r\n");

} // namespace

class u_orlen_md5_test : public QObject {
    Q_OBJECT

    const lumora::u_orlen_md5 md5{};
    QTemporaryDir tmp;

    QString write_file(const QString& name, const QByteArray& content)
    {
        QFile f(tmp.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        return f.fileName();
    }

    /// A sparse file of `size` bytes of zeros.
    QString sparse_file(const QString& name, qint64 size)
    {
        QFile f(tmp.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || !f.resize(size))
            qFatal("cannot create %s", qPrintable(f.fileName()));
        return f.fileName();
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    // The test suite of RFC 1321, digested as a blob, as a text and as a file.
    // Every case twice: with OpenSSL's MD5, and with an OpenSSL that offers FIPS algorithms
    // only (it refuses MD5; the digest must come all the same).
    void rfc1321_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("digest");
        QTest::addColumn<bool>("fips_only");
        const std::pair<QByteArray, const char*> cases[] = {
            {"", "D41D8CD98F00B204E9800998ECF8427E"},
            {"a", "0CC175B9C0F1B6A831C399E269772661"},
            {"abc", "900150983CD24FB0D6963F7D28E17F72"},
            {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
            {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
            {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
             "D174AB98D277D9F5A5611C2C9F419D9F"},
            {QByteArray("1234567890").repeated(8), "57EDF4A22BE3C955AC49DA2E2107B67A"}};
        for (const bool fips_only : {false, true}) {
            for (const auto& [input, digest] : cases) {
                const QByteArray name =
                    "\"" + input.left(16) + "\"" + (fips_only ? ", OpenSSL refusing MD5" : "");
                QTest::newRow(name.constData()) << input << QString(digest) << fips_only;
            }
        }
    }

    void rfc1321()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, digest);
        QFETCH(bool, fips_only);
        struct fips_guard {
            bool on;
            ~fips_guard()
            {
                if (on)
                    EVP_default_properties_enable_fips(nullptr, 0);
            }
        } guard{fips_only};
        if (fips_only) {
            QVERIFY(EVP_default_properties_enable_fips(nullptr, 1) == 1);
            EVP_MD* refused = EVP_MD_fetch(nullptr, "MD5", nullptr);
            EVP_MD_free(refused);
            QVERIFY2(!refused, "OpenSSL still offers MD5");
        }
        QString result = QStringLiteral("stale");
        QCOMPARE(md5.uf_md5string(input, result), QString(""));
        QCOMPARE(result, digest);

        result = QStringLiteral("stale");
        QCOMPARE(md5.uf_md5string(QString::fromLatin1(input), result), QString(""));
        QCOMPARE(result, digest);

        if (!input.isEmpty()) { // an empty file is refused
            result = QStringLiteral("stale");
            QCOMPARE(md5.uf_md5file(write_file("rfc.bin", input), result), QString(""));
            QCOMPARE(result, digest);
        }
    }

    void text_is_digested_as_utf8_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Chinese") << u8("中文摘要");
        QTest::newRow("mixed") << u8("MD5 校验 abc 😀");
    }

    void text_is_digested_as_utf8()
    {
        QFETCH(QString, text);
        QString from_text, from_blob;
        md5.uf_md5string(text, from_text);
        md5.uf_md5string(text.toUtf8(), from_blob);
        QCOMPARE(from_text, reference(text.toUtf8()));
        QCOMPARE(from_blob, from_text);
        QVERIFY(from_text != reference(QByteArray(reinterpret_cast<const char*>(text.utf16()),
                                                  text.size() * 2)));
    }

    // Contents across the read blocks of the file digest.
    void file_contents_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("one byte") << qint64(1);
        QTest::newRow("one block") << qint64(1 << 20);
        QTest::newRow("block and one byte") << qint64((1 << 20) + 1);
        QTest::newRow("several blocks and a part") << qint64(3 * (1 << 20) + 12345);
    }

    void file_contents()
    {
        QFETCH(qint64, size);
        QByteArray content(size, Qt::Uninitialized);
        QRandomGenerator random(static_cast<quint32>(size));
        for (char& c : content)
            c = static_cast<char>(random.bounded(256));
        QString result;
        QCOMPARE(md5.uf_md5file(write_file("content.bin", content), result), QString(""));
        QCOMPARE(result, reference(content));
    }

    void file_refusals_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("directory") << "directory" << u8("不能是文件夹!");
        QTest::newRow("missing") << "missing" << u8("文件不存在!");
        QTest::newRow("empty name") << "empty name" << u8("文件不存在!");
        QTest::newRow("NUL in the name") << "nul" << u8("文件不存在!");
        QTest::newRow("empty file") << "empty" << u8("文件内容不能为空:0") + crlf;
        QTest::newRow("FIFO never blocks") << "fifo" << u8("不是普通文件!");
        QTest::newRow("socket") << "socket" << u8("不是普通文件!");
        QTest::newRow("device") << "device" << u8("不是普通文件!");
        QTest::newRow("one byte over the limit") << "over" << u8("最大支持:1,352,663,040") + crlf;
        QTest::newRow("4 GiB and 3 bytes is not 3 bytes")
            << "over 4 GiB" << u8("最大支持:1,352,663,040") + crlf;
    }

    void file_refusals()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QString name;
        int socket_fd = -1;
        if (kind == u"directory") {
            name = tmp.path();
        } else if (kind == u"missing") {
            name = tmp.filePath("no such file");
        } else if (kind == u"nul") {
            const QString real = write_file("real", "x");
            name = real + QChar(0) + "tail";
        } else if (kind == u"empty") {
            name = write_file("empty", {});
        } else if (kind == u"fifo") {
            name = tmp.filePath("fifo");
            QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
        } else if (kind == u"socket") {
            name = tmp.filePath("sock");
            socket_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(name).constData(),
                     sizeof address.sun_path);
            QCOMPARE(::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        } else if (kind == u"device") {
            name = QStringLiteral("/dev/zero");
        } else if (kind == u"over") {
            name = sparse_file("over", lumora::u_orlen_md5::max_file_size + 1);
        } else if (kind == u"over 4 GiB") {
            name = sparse_file("over4g", (qint64(1) << 32) + 3);
        }
        QString result = QStringLiteral("stale");
        QCOMPARE(md5.uf_md5file(name, result), expected);
        QCOMPARE(result, QString(""));
        if (socket_fd >= 0)
            ::close(socket_fd);
        QFile::remove(tmp.filePath("over"));
        QFile::remove(tmp.filePath("over4g"));
    }

    void unreadable_file_reports_the_open()
    {
        const QString name = write_file("locked", "x");
        QVERIFY(QFile::setPermissions(name, {}));
        // Root reads every file: as root, files are checked as the unprivileged user and group
        // nobody (who may enter the directory, not read the file).
        const bool root = ::geteuid() == 0;
        const QFile::Permissions directory = QFile::permissions(tmp.path());
        if (root) {
            QVERIFY(QFile::setPermissions(tmp.path(), directory | QFile::ExeOther));
            ::setfsgid(65534);
            ::setfsuid(65534);
        }
        QString result;
        const QString answer = md5.uf_md5file(name, result);
        if (root) {
            ::setfsuid(0);
            ::setfsgid(0);
            QFile::setPermissions(tmp.path(), directory);
        }
        QCOMPARE(answer, QStringLiteral("CreateFile:-1") + crlf);
    }

    // The name is read as createpath() reads it: a file it created is found under the same name.
    void path_forms_of_createpath_data()
    {
        QTest::addColumn<QString>("form"); // ROOT stands for the temporary directory
        QTest::newRow("drive letter and backslashes") << "C:ROOT\\forms\\a.txt";
        QTest::newRow("backslashes") << "ROOT\\forms\\b.txt";
        QTest::newRow("host path") << "ROOT/forms/c.txt";
    }
    void path_forms_of_createpath()
    {
        QFETCH(QString, form);
        QString root = tmp.path();
        if (form.contains(u'\\'))
            root.replace(u'/', u'\\');
        const QString name = form.replace(QStringLiteral("ROOT"), root);
        QCOMPARE(lumora::u_orlen_fun().createpath(name), QString());
        QString host = name.startsWith(QStringLiteral("C:")) ? name.mid(2) : name;
        host.replace(u'\\', u'/');
        QFile file(host);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("abc");
        file.close();
        QString result;
        QCOMPARE(md5.uf_md5file(name, result), QString(""));
        QCOMPARE(result, QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    }

    // Only an ASCII letter followed by ":" is a drive (it stands for the root, so "a:z.txt" is
    // z.txt here); before any other character ":" is part of the name.
    void names_with_a_colon_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file"); // the file that holds "abc"
        QTest::newRow("ASCII letter: a drive") << "a:z.txt"
                                               << "z.txt";
        QTest::newRow("digit: part of the name") << "1:z.txt"
                                                 << "1:z.txt";
        QTest::newRow("non-ASCII letter: part of the name") << u8("ä:z.txt") << u8("ä:z.txt");
        QTest::newRow("Chinese: part of the name") << u8("中:z.txt") << u8("中:z.txt");
        QTest::newRow("colon: part of the name") << "::z.txt"
                                                 << "::z.txt";
    }
    void names_with_a_colon()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        // Not through QFile, which reads a leading ":" as a resource.
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT, 0600);
        const bool written = fd >= 0 && ::write(fd, "abc", 3) == 3;
        if (fd >= 0)
            ::close(fd);
        QString result;
        const QString answer = md5.uf_md5file(name, result);
        QDir::setCurrent(previous);
        QVERIFY(written);
        QCOMPARE(answer, QString(""));
        QCOMPARE(result, QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    }

    void largest_file_is_digested()
    {
        const qint64 size = lumora::u_orlen_md5::max_file_size;
        const QString name = sparse_file("largest", size);
        QString result;
        QCOMPARE(md5.uf_md5file(name, result), QString(""));
        QCOMPARE(result, reference_of_zeros(size));
        QFile::remove(name);
    }

    void hexencode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << QByteArray(1, '\0') << "00";
        QTest::newRow("15") << QByteArray(1, '\x0f') << "0F";
        QTest::newRow("16") << QByteArray(1, '\x10') << "10";
        QTest::newRow("255") << QByteArray(1, '\xff') << "FF";
        QTest::newRow("several") << QByteArray("\x01\xab\x7f", 3) << "01AB7F";
        QTest::newRow("none") << QByteArray() << "";
    }

    void hexencode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QString out;
        QCOMPARE(int(md5.hexencode(bytes, out)), 2 * bytes.size());
        QCOMPARE(out, expected);
    }

    void hexencode_keeps_characters_beyond()
    {
        QString out = QStringLiteral("xxxxxx");
        QCOMPARE(int(md5.hexencode(QByteArray("\xff", 1), out)), 2);
        QCOMPARE(out, QStringLiteral("FFxxxx"));
    }

    void hexencode_count_wraps_at_16_bits()
    {
        QString out;
        QCOMPARE(int(md5.hexencode(QByteArray(16384, 'a'), out)), -32768);
        QCOMPARE(out.size(), 32768);
        QCOMPARE(int(md5.hexencode(QByteArray(32768, 'a'), out)), 0);
    }

    void decto_is_the_general_one()
    {
        QCOMPARE(md5.decto(rt::decimal(255), 16), QStringLiteral("FF"));
        QCOMPARE(md5.decto(rt::decimal(5), 1), QString());
        QCOMPARE(md5.decto(std::nullopt, 16), QString());
    }
};

QTEST_GUILESS_MAIN(u_orlen_md5_test)
#include "u_orlen_md5_test.moc"
