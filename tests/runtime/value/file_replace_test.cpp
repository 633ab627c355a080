// Whole-file replacement: what is refused, what is kept of the replaced file, links, and the
// order of the system calls that makes it durable.

#include "test_files.h"
#include "test_process.h"

#include <rt/value/file_replace.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

using qorv::test::read_file;
using qorv::test::write_file;

namespace {

bool replace(const QString& path, const QByteArray& bytes, QString* error = nullptr)
{
    rt::file_replacement out(path);
    const bool ok = out.write(bytes) && out.commit();
    if (error)
        *error = out.error();
    return ok;
}

struct stat status_of(const QString& path)
{
    struct stat s {};
    ::lstat(QFile::encodeName(path).constData(), &s);
    return s;
}

// Replaces `path` as an unprivileged user (nobody, when started as root) under umask 0277, the
// new contents written through a second opening of the temporary file by name, as libxlsxwriter
// writes a workbook. Prints why when it fails.
int replace_under_narrow_umask(const char* path)
{
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return 3;
    ::umask(0277);
    rt::file_replacement out(QString::fromLocal8Bit(path));
    FILE* f = std::fopen(QFile::encodeName(out.open_name()).constData(), "wb");
    if (!f) {
        std::perror("reopen");
        return 1;
    }
    const bool written = std::fputs("new", f) >= 0;
    if (std::fclose(f) != 0 || !written || !out.commit()) {
        std::fprintf(stderr, "%s\n", qPrintable(out.error()));
        return 2;
    }
    return 0;
}

} // namespace

class file_replace_test : public QObject {
    Q_OBJECT

private slots:
    void refused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("directory") << "directory"
                                   << "is a directory";
        QTest::newRow("write-protected file") << "0444"
                                              << "is write-protected";
        QTest::newRow("fifo") << "fifo"
                              << "is not a regular file";
        QTest::newRow("link to a directory") << "link-directory"
                                             << "is a directory";
        QTest::newRow("link loop") << "loop"
                                   << "Too many levels of symbolic links";
    }
    void refused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t"));
        if (kind == u"directory") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == u"0444") {
            QVERIFY(write_file(path, "old"));
            QVERIFY(QFile::setPermissions(path,
                                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        } else if (kind == u"link-directory") {
            QVERIFY(QFile::link(dir.path(), path));
        } else {
            QVERIFY(QFile::link(path, path));
        }
        QVERIFY(rt::replace_refusal(path).contains(reason));
        QString error;
        QVERIFY(!replace(path, "new", &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        if (kind == u"0444") // as root too: a plain write by the owner would be refused
            QCOMPARE(read_file(path), QByteArray("old"));
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System)
                .size(),
            1);
    }

    // New files get 0666 less the umask; a replaced file keeps its mode, and its owner where the
    // process may give files away.
    void permissions_and_owner()
    {
        QTemporaryDir dir;
        const QString fresh = dir.filePath(QStringLiteral("new"));
        const mode_t saved = ::umask(077);
        const bool written = replace(fresh, "x");
        ::umask(saved);
        QVERIFY(written);
        QCOMPARE(status_of(fresh).st_mode & 07777, mode_t(0600));

        const QString old = dir.filePath(QStringLiteral("old"));
        QVERIFY(write_file(old, "old"));
        QCOMPARE(::chmod(QFile::encodeName(old).constData(), 0640), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(old).constData(), 1234, 4321), 0);
        QVERIFY(replace(old, "new"));
        QCOMPARE(read_file(old), QByteArray("new"));
        QCOMPARE(status_of(old).st_mode & 07777, mode_t(0640));
        if (root) {
            QCOMPARE(status_of(old).st_uid, uid_t(1234));
            QCOMPARE(status_of(old).st_gid, gid_t(4321));
        }
    }

    // A target that became write-protected while the new contents were written is kept.
    void target_protected_meanwhile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("book"));
        rt::file_replacement out(file);
        QVERIFY(out.write("new"));
        QVERIFY(write_file(file, "landed meanwhile"));
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0444), 0);
        QVERIFY(!out.commit());
        QVERIFY2(out.error().endsWith(QStringLiteral("is write-protected")),
                 qPrintable(out.error()));
        QCOMPARE(read_file(file), QByteArray("landed meanwhile"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // A umask that takes the owner's own access away still lets the writer reopen the temporary
    // file; the new file then gets what the umask allows (0400).
    void narrow_umask()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::WriteOther | QFile::ExeOther));
        const QString file = dir.filePath(QStringLiteral("new"));
        const auto run = qorv::test::run_process(QCoreApplication::applicationFilePath(),
                                                 {QStringLiteral("--narrow-umask"), file});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(read_file(file), QByteArray("new"));
        QCOMPARE(status_of(file).st_mode & 07777, mode_t(0400));
    }

    // A link stays a link: the file it ends at (through a relative chain) is replaced in its own
    // directory; a dangling link makes its target.
    void symbolic_links()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("data")));
        const QString real = dir.filePath(QStringLiteral("data/real.xlsx"));
        QVERIFY(write_file(real, "old"));
        const QString middle = dir.filePath(QStringLiteral("data/middle"));
        const QString link = dir.filePath(QStringLiteral("link.xlsx"));
        QCOMPARE(::symlink("real.xlsx", QFile::encodeName(middle).constData()), 0);
        QCOMPARE(::symlink("data/middle", QFile::encodeName(link).constData()), 0);
        QVERIFY(replace(link, "new"));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo(middle).isSymLink());
        QCOMPARE(read_file(real), QByteArray("new"));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("data")))
                     .entryList(QDir::Files | QDir::Hidden | QDir::System)
                     .size(),
                 2);

        const QString dangling = dir.filePath(QStringLiteral("dangling"));
        QCOMPARE(::symlink("data/made", QFile::encodeName(dangling).constData()), 0);
        QVERIFY(replace(dangling, "made"));
        QVERIFY(QFileInfo(dangling).isSymLink());
        QCOMPARE(read_file(dir.filePath(QStringLiteral("data/made"))), QByteArray("made"));
    }

    // Abandoned, nothing is left; the old file is untouched.
    void abandoned()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t"));
        QVERIFY(write_file(path, "old"));
        {
            rt::file_replacement out(path);
            QVERIFY(out.write("half"));
            QVERIFY(QFile::exists(out.temporary()));
        }
        QCOMPARE(read_file(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Under strace: the temporary is created exclusively without following links, synced before
    // the rename, and the directory synced after it.
    void durable_order()
    {
        if (qEnvironmentVariableIsSet("QORV_REPLACE_ONCE")) {
            QVERIFY(replace(qEnvironmentVariable("QORV_REPLACE_ONCE"), "contents"));
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
            QSKIP("strace is not installed");
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("t"));
        QVERIFY(write_file(target, "old"));
        const QString log = dir.filePath(QStringLiteral("strace.log"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QORV_REPLACE_ONCE"), target);
        // LeakSanitizer cannot stop the threads of a traced process.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        const auto run = qorv::test::run_process(
            QStringLiteral("strace"),
            {QStringLiteral("-f"), QStringLiteral("-o"), log, QStringLiteral("-e"),
             QStringLiteral("trace=openat,fsync,fdatasync,rename,renameat,renameat2,close"),
             QCoreApplication::applicationFilePath(), QStringLiteral("durable_order")},
            {}, env);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(read_file(target), QByteArray("contents"));

        // Each call by its order in the log.
        const QStringList lines = QString::fromUtf8(read_file(log)).split(u'\n');
        const QString temp_prefix = u'"' + dir.filePath(QStringLiteral(".t."));
        int created = -1, synced = -1, renamed = -1, dir_opened = -1, dir_synced = -1;
        QString temp_fd, dir_fd;
        for (int i = 0; i < lines.size(); ++i) {
            const QString& l = lines[i];
            const QString result = l.section(QStringLiteral(" = "), -1).section(u' ', 0, 0);
            if (l.contains(QStringLiteral("openat(")) && l.contains(temp_prefix)) {
                QVERIFY2(l.contains(QStringLiteral("O_EXCL")) &&
                             l.contains(QStringLiteral("O_NOFOLLOW")),
                         qPrintable(l));
                created = i;
                temp_fd = result;
            } else if (l.contains(QStringLiteral("openat(")) &&
                       l.contains(u'"' + dir.path() + u'"') &&
                       l.contains(QStringLiteral("O_DIRECTORY"))) {
                dir_opened = i;
                dir_fd = result;
            } else if (!dir_fd.isEmpty() && l.contains(QStringLiteral("fsync(") + dir_fd + u')')) {
                dir_synced = i;
            } else if (!temp_fd.isEmpty() && synced < 0 &&
                       l.contains(QStringLiteral("fsync(") + temp_fd + u')')) {
                synced = i;
            } else if (l.contains(QStringLiteral("rename")) && l.contains(temp_prefix)) {
                renamed = i;
            }
        }
        QVERIFY2(created >= 0 && created < synced && synced < renamed && renamed < dir_opened &&
                     dir_opened < dir_synced,
                 qPrintable(lines.join(u'\n')));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--narrow-umask") == 0)
        return replace_under_narrow_umask(argv[2]);
    QCoreApplication app(argc, argv);
    file_replace_test test;
    return QTest::qExec(&test, argc, argv);
}
#include "file_replace_test.moc"
