#include "test_files.h"

#include <rt/value/codepage.h>
#include <rt/value/profile.h>
#include <rt/value/profile_p.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/fsuid.h>
#include <unistd.h>

using qorv::test::read_file;
using qorv::test::write_file;

namespace {

/// Root passes every permission check; for the lifetime of this object the thread's file
/// accesses run as "nobody" instead, so that a read-only directory is read-only for the test.
class unprivileged_files {
public:
    unprivileged_files() : was_root_(geteuid() == 0)
    {
        if (was_root_)
            setfsuid(65534);
    }
    ~unprivileged_files()
    {
        if (was_root_)
            setfsuid(0);
    }

private:
    bool was_root_;
};

/// `text` as a file in UTF-16LE with its byte-order mark.
QByteArray utf16(const char* text)
{
    const QString s = QString::fromUtf8(text);
    return QByteArray("\xFF\xFE", 2) +
           QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

} // namespace

class profile_test : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString ini() const { return dir_.filePath(QStringLiteral("qorv.ini")); }

private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        QFile::remove(ini());
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("plain") << QByteArray("[qorv]\nver=1.3\n") << "qorv"
                               << "ver"
                               << "1.3";
        QTest::newRow("quotes stripped") << QByteArray("[qorv]\nver=\"1.3\"\n") << "qorv"
                                         << "ver"
                                         << "1.3";
        QTest::newRow("only one pair stripped") << QByteArray("[q]\nv=\"\"x\"\"\n") << "q"
                                                << "v"
                                                << "\"x\"";
        QTest::newRow("lone quote kept") << QByteArray("[q]\nv=\"x\n") << "q"
                                         << "v"
                                         << "\"x";
        QTest::newRow("blanks inside quotes kept") << QByteArray("[q]\nv=\" a \"\n") << "q"
                                                   << "v"
                                                   << " a ";
        QTest::newRow("blanks around name and value")
            << QByteArray("[ qorv ]\n  ver \t=  1.3  \n") << "qorv"
            << "ver"
            << "1.3";
        QTest::newRow("section case") << QByteArray("[QORV]\nver=2\n") << "qorv"
                                      << "ver"
                                      << "2";
        QTest::newRow("key case") << QByteArray("[qorv]\nServerName=s1\n") << "QORV"
                                  << "servername"
                                  << "s1";
        QTest::newRow("CRLF") << QByteArray("[qorv]\r\nver=1.3\r\n") << "qorv"
                              << "ver"
                              << "1.3";
        QTest::newRow("no newline at end") << QByteArray("[qorv]\nver=1.3") << "qorv"
                                           << "ver"
                                           << "1.3";
        QTest::newRow("equals sign in value") << QByteArray("[q]\nk=a=b\n") << "q"
                                              << "k"
                                              << "a=b";
        QTest::newRow("empty value is not the default") << QByteArray("[q]\nk=\n") << "q"
                                                        << "k"
                                                        << "";
        QTest::newRow("key of another section") << QByteArray("[a]\nk=1\n[b]\nj=2\n") << "b"
                                                << "k"
                                                << "<default>";
        QTest::newRow("commented key") << QByteArray("[q]\n;k=1\n") << "q"
                                       << "k"
                                       << "<default>";
        QTest::newRow("key before any section") << QByteArray("k=1\n[q]\n") << "q"
                                                << "k"
                                                << "<default>";
        QTest::newRow("missing section") << QByteArray("[a]\nk=1\n") << "q"
                                         << "k"
                                         << "<default>";
        QTest::newRow("first of duplicate keys") << QByteArray("[q]\nk=1\nk=2\n") << "q"
                                                 << "k"
                                                 << "1";
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBF[q]\nname=\xE4\xB8\xAD\n") << "q"
            << "name" << QString::fromUtf8("中");
        QTest::newRow("UTF-16LE with byte-order mark")
            << utf16("[qorv]\r\nservername=考试中心\r\nver=\"1.3\"\r\n") << "qorv"
            << "ver"
            << "1.3";
        QTest::newRow("UTF-16LE Chinese value")
            << utf16("[qorv]\r\nservername=考试中心\r\n") << "QORV"
            << "servername" << QString::fromUtf8("考试中心");
        QTest::newRow("UTF-16LE with a stray last byte") << utf16("[q]\nk=1\n") + 'x' << "q"
                                                         << "k"
                                                         << "1";
        QTest::newRow("UTF-8 section name")
            << QByteArray("[\xE8\x80\x83\xE8\xAF\x95]\nk=1\n") << QString::fromUtf8("考试") << "k"
            << "1";
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QVERIFY(write_file(ini(), content));
        QCOMPARE(rt::profile_string(ini(), section, key, QStringLiteral("<default>")), expected);
    }

    void missingFileGivesDefault()
    {
        QCOMPARE(rt::profile_string(ini(), "qorv", "ver", "0"), QStringLiteral("0"));
        QCOMPARE(rt::profile_string(ini(), "qorv", "ver"), QString());
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("replace keeps comments, sections, order and CRLF")
            << QByteArray("; settings\r\n[db]\r\nx=1\r\n\r\n[qorv]\r\nuser=u\r\nver=1.0\r\nk=2\r\n")
            << "qorv"
            << "ver"
            << "\"1.3\""
            << QByteArray(
                   "; settings\r\n[db]\r\nx=1\r\n\r\n[qorv]\r\nuser=u\r\nver=\"1.3\"\r\nk=2\r\n");
        QTest::newRow("key matched without case keeps its spelling")
            << QByteArray("[QORV]\nVer = 1\n") << "qorv"
            << "VER"
            << "2" << QByteArray("[QORV]\nVer = 2\n");
        QTest::newRow("mixed line endings kept") << QByteArray("[a]\r\nx=1\ny=2\r\n") << "a"
                                                 << "y"
                                                 << "3" << QByteArray("[a]\r\nx=1\ny=3\r\n");
        QTest::newRow("missing key after the last key of its section")
            << QByteArray("[a]\nx=1\n\n; about b\n[b]\ny=2\n") << "a"
            << "z"
            << "3" << QByteArray("[a]\nx=1\nz=3\n\n; about b\n[b]\ny=2\n");
        QTest::newRow("missing key in an empty section") << QByteArray("[a]\n[b]\n") << "a"
                                                         << "k"
                                                         << "v" << QByteArray("[a]\nk=v\n[b]\n");
        QTest::newRow("missing key in the last line's section")
            << QByteArray("[a]\nx=1") << "a"
            << "y"
            << "2" << QByteArray("[a]\nx=1\ny=2\n");
        QTest::newRow("missing section appended with the file's line ending")
            << QByteArray("[a]\r\nx=1\r\n") << "qorv"
            << "ver"
            << "1.3" << QByteArray("[a]\r\nx=1\r\n[qorv]\r\nver=1.3\r\n");
        QTest::newRow("missing section after a last line without newline")
            << QByteArray("[a]\nx=1") << "b"
            << "y"
            << "2" << QByteArray("[a]\nx=1\n[b]\ny=2\n");
        QTest::newRow("same key in another section untouched")
            << QByteArray("[a]\nver=1\n[qorv]\nver=1\n") << "qorv"
            << "ver"
            << "2" << QByteArray("[a]\nver=1\n[qorv]\nver=2\n");
        QTest::newRow("byte-order mark kept")
            << QByteArray("\xEF\xBB\xBF[q]\nk=1\n") << "q"
            << "k" << QString::fromUtf8("中") << QByteArray("\xEF\xBB\xBF[q]\nk=\xE4\xB8\xAD\n");
        QTest::newRow("UTF-8 file stays UTF-8")
            << QByteArray("[q]\nname=\xE4\xB8\xAD\n") << "q"
            << "city" << QString::fromUtf8("北京")
            << QByteArray("[q]\nname=\xE4\xB8\xAD\ncity=\xE5\x8C\x97\xE4\xBA\xAC\n");
        QTest::newRow("UTF-16LE file stays UTF-16LE")
            << utf16("; 设置\r\n[qorv]\r\nservername=考试中心\r\nver=\"1.0\"\r\n") << "qorv"
            << "ver"
            << "\"1.3\"" << utf16("; 设置\r\n[qorv]\r\nservername=考试中心\r\nver=\"1.3\"\r\n");
        QTest::newRow("UTF-16LE key added with the file's line ending")
            << utf16("[qorv]\nservername=x") << "qorv"
            << "ver"
            << "\"2\"" << utf16("[qorv]\nservername=x\nver=\"2\"\n");
        QTest::newRow("UTF-16LE section added after a line of odd characters")
            << utf16("[a]\r\nk=😀\r\n") << "qorv"
            << "ver"
            << "1" << utf16("[a]\r\nk=😀\r\n[qorv]\r\nver=1\r\n");
        QTest::newRow("GBK file stays GBK")
            << QByteArray("[q]\r\nname=\xD6\xD0\r\n") << "q"
            << "city" << QString::fromUtf8("北京")
            << QByteArray("[q]\r\nname=\xD6\xD0\r\ncity=\xB1\xB1\xBE\xA9\r\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        QVERIFY(write_file(ini(), before));
        QCOMPARE(rt::set_profile_string(ini(), section, key, value), 1);
        QCOMPARE(read_file(ini()), after);
        const QString written = rt::profile_string(ini(), section, key, QStringLiteral("<none>"));
        QCOMPARE(written, value.size() >= 2 && value.startsWith(u'"')
                              ? value.mid(1, value.size() - 2)
                              : value);
    }

    void newFileIsCreated()
    {
        QCOMPARE(rt::set_profile_string(ini(), "qorv", "ver", "\"1.3\""), 1);
        QCOMPARE(read_file(ini()), QByteArray("[qorv]\r\nver=\"1.3\"\r\n"));
    }

    void gbkFileIsReadInTheAnsiCodePage()
    {
        QVERIFY(write_file(ini(), rt::to_ansi(QString::fromUtf8("[升级]\r\n服务器=考试中心\r\n"))));
        QCOMPARE(rt::profile_string(ini(), QString::fromUtf8("升级"), QString::fromUtf8("服务器")),
                 QString::fromUtf8("考试中心"));
    }

    void rejectedWritesLeaveTheFileAlone_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");

        const QByteArray ini("[q]\nk=1\n");
        const QByteArray gbk("[q]\nname=\xD6\xD0\n");
        QTest::newRow("empty key") << ini << "q"
                                   << " "
                                   << "v";
        QTest::newRow("empty section") << ini << ""
                                       << "k"
                                       << "v";
        QTest::newRow("equals sign in key") << ini << "q"
                                            << "a=b"
                                            << "v";
        QTest::newRow("bracket in section") << ini << "a]b"
                                            << "k"
                                            << "v";
        QTest::newRow("line break in value") << ini << "q"
                                             << "k"
                                             << "a\r\n[x]";
        QTest::newRow("character a GBK file cannot hold") << gbk << "q"
                                                          << "k" << QString::fromUtf8("😀");
    }

    void rejectedWritesLeaveTheFileAlone()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(write_file(ini(), before));
        QCOMPARE(rt::set_profile_string(ini(), section, key, value), -1);
        QCOMPARE(read_file(ini()), before);
    }

    void replaceIsAtomic()
    {
        QVERIFY(write_file(ini(), "[qorv]\nver=1.0\n"));
        // A hard link still sees the old contents only if the new file was renamed into place.
        const QString old_link = dir_.filePath(QStringLiteral("old.ini"));
        QFile::remove(old_link);
        QCOMPARE(
            ::link(QFile::encodeName(ini()).constData(), QFile::encodeName(old_link).constData()),
            0);
        QCOMPARE(rt::set_profile_string(ini(), "qorv", "ver", "1.3"), 1);
        QCOMPARE(read_file(old_link), QByteArray("[qorv]\nver=1.0\n"));
        QCOMPARE(read_file(ini()), QByteArray("[qorv]\nver=1.3\n"));
        QFile::remove(old_link);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("qorv.ini")});
    }

    void unwritableDirectoryFailsAndKeepsTheFile()
    {
        const QString locked = dir_.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        const QString file = locked + QStringLiteral("/qorv.ini");
        QVERIFY(write_file(file, "[qorv]\nver=1.0\n"));
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                          QFile::ExeOther);
        int result = 0;
        {
            unprivileged_files as_nobody;
            result = rt::set_profile_string(file, "qorv", "ver", "1.3");
        }
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(result, -1);
        QCOMPARE(read_file(file), QByteArray("[qorv]\nver=1.0\n"));
        QCOMPARE(QDir(locked).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("qorv.ini")});
    }
};

QTEST_GUILESS_MAIN(profile_test)
#include "profile_test.moc"
