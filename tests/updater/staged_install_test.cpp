// Target paths of server file names, the install journal, and the all-or-nothing installation
// of a version's files.

#include "install_journal.h"
#include "staged_install.h"
#include "target_path.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qorv;

namespace {

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

/// The one temporary file in `dir`.
QString temporary_in(const QString& dir)
{
    const QStringList found = QDir(dir).entryList({".qorv-n-*"}, QDir::Files | QDir::Hidden);
    return found.size() == 1 ? QDir(dir).filePath(found[0]) : QString();
}

/// Puts a non-empty directory where `path` was, so that nothing can be renamed onto it or
/// removed from there (also not by root).
void block(const QString& path)
{
    QFile::remove(path);
    QVERIFY(QDir().mkpath(path + QStringLiteral("/x")));
}

} // namespace

class staged_install_test : public QObject {
    Q_OBJECT

private slots:
    void target_path_keeps_names_inside_the_base_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // relative to the base; empty: refused

        QTest::newRow("plain name") << "qorv.exe"
                                    << "qorv.exe";
        QTest::newRow("subdirectory") << "lib/a.dll"
                                      << "lib/a.dll";
        QTest::newRow("backslash separates") << "lib\\a.dll"
                                             << "lib/a.dll";
        QTest::newRow("chinese") << "考务\\成绩.xlsx"
                                 << "考务/成绩.xlsx";
        QTest::newRow("dots inside a name") << "a..b"
                                            << "a..b";
        QTest::newRow("blank inside a name") << "my file.txt"
                                             << "my file.txt";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("parent") << "../x"
                                << "";
        QTest::newRow("parent after a directory") << "lib/../../x"
                                                  << "";
        QTest::newRow("parent with backslashes") << "lib\\..\\x"
                                                 << "";
        QTest::newRow("current directory") << "./x"
                                           << "";
        QTest::newRow("absolute") << "/etc/passwd"
                                  << "";
        QTest::newRow("absolute with backslash") << "\\x"
                                                 << "";
        QTest::newRow("drive letter") << "C:\\x"
                                      << "";
        QTest::newRow("drive letter relative") << "c:x"
                                               << "";
        QTest::newRow("empty component") << "lib//x"
                                         << "";
        QTest::newRow("trailing separator") << "lib/"
                                            << "";
        QTest::newRow("NUL character") << QStringLiteral("a%1b").arg(QChar(0)) << "";
        QTest::newRow("through a link that leaves") << "out/x"
                                                    << "";
        QTest::newRow("through a link that stays") << "in/x"
                                                   << "lib/x";
    }

    void target_path_keeps_names_inside_the_base()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir base, elsewhere;
        QDir(base.path()).mkpath(QStringLiteral("lib"));
        QDir(base.path()).mkpath(QStringLiteral("考务"));
        QVERIFY(QFile::link(elsewhere.path(), base.filePath(QStringLiteral("out"))));
        QVERIFY(
            QFile::link(base.filePath(QStringLiteral("lib")), base.filePath(QStringLiteral("in"))));

        const auto path = target_path(base.path(), name);
        if (expected.isEmpty()) {
            QVERIFY2(!path, qPrintable(path.value_or(QString())));
        } else {
            QVERIFY(path);
            // Compared with links resolved, so that "in/x" is seen to land in lib/.
            const QFileInfo info(*path);
            const QString resolved = QFileInfo(info.absolutePath()).canonicalFilePath() +
                                     QLatin1Char('/') + info.fileName();
            QCOMPARE(QDir(QFileInfo(base.path()).canonicalFilePath()).relativeFilePath(resolved),
                     expected);
        }
    }

    void journal_reads_back_what_was_written_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QStringList>("names"); // targets relative to the base
        QTest::newRow("staging, no file yet") << int(install_phase::staging) << QStringList{};
        QTest::newRow("moving") << int(install_phase::moving)
                                << QStringList{"qorv.exe", "lib/a.dll"};
        QTest::newRow("undoing, names to encode")
            << int(install_phase::undoing) << QStringList{"考务/成绩 1.xlsx", "100%.txt"};
        QTest::newRow("done") << int(install_phase::done) << QStringList{"qorv.ini"};
    }
    void journal_reads_back_what_was_written()
    {
        QFETCH(int, phase);
        QFETCH(QStringList, names);
        QTemporaryDir base;
        install_journal written{install_phase(phase), {}};
        quint32 number = 0;
        for (const QString& name : names) {
            const QString target = base.filePath(name);
            const QString dir = QFileInfo(target).absolutePath();
            written.files.push_back(
                {target, QDir(dir).filePath(scratch_file_name(scratch_kind::new_file, ++number)),
                 QDir(dir).filePath(scratch_file_name(scratch_kind::old_file, ++number)),
                 number % 4 == 0});
        }
        QVERIFY(write_journal(base.path(), written));
        QCOMPARE(entries(base.path()), QStringList{journal_name}); // nothing else left
        install_journal read;
        QCOMPARE(read_journal(base.path(), &read), journal_status::read);
        QCOMPARE(read.phase, written.phase);
        QCOMPARE(read.files.size(), written.files.size());
        for (std::size_t i = 0; i < read.files.size(); ++i) {
            QCOMPARE(read.files[i].target, written.files[i].target);
            QCOMPARE(read.files[i].temporary, written.files[i].temporary);
            QCOMPARE(read.files[i].backup, written.files[i].backup);
            QCOMPARE(read.files[i].had_old, written.files[i].had_old);
        }
    }

    void journal_is_trusted_only_as_written_data()
    {
        QTest::addColumn<QByteArray>("text"); // empty: no journal at all
        QTest::addColumn<journal_status>("expected");
        const QByteArray head = "qorv-journal 1\nmoving\n";
        QTest::newRow("well formed") << head + "file 1 .qorv-n-0000000a .qorv-o-0000000b a/b\n"
                                     << journal_status::read;
        QTest::newRow("absent") << QByteArray() << journal_status::absent;
        QTest::newRow("other version")
            << QByteArray("qorv-journal 2\nmoving\n") << journal_status::unreadable;
        QTest::newRow("closed is never written")
            << QByteArray("qorv-journal 1\nclosed\n") << journal_status::unreadable;
        QTest::newRow("cut short")
            << QByteArray("qorv-journal 1\nmoving") << journal_status::unreadable;
        QTest::newRow("target outside") << head + "file 0 .qorv-n-0000000a .qorv-o-0000000b ../x\n"
                                        << journal_status::unreadable;
        QTest::newRow("absolute target")
            << head + "file 0 .qorv-n-0000000a .qorv-o-0000000b /etc/passwd\n"
            << journal_status::unreadable;
        QTest::newRow("scratch names swapped")
            << head + "file 0 .qorv-o-0000000a .qorv-n-0000000b x\n"
            << journal_status::unreadable;
        QTest::newRow("scratch name of another form")
            << head + "file 0 .qorv-n-0000000a ../../x x\n"
            << journal_status::unreadable;
        QTest::newRow("replaced flag not 0 or 1")
            << head + "file 2 .qorv-n-0000000a .qorv-o-0000000b x\n"
            << journal_status::unreadable;
        QTest::newRow("field missing") << head + "file 0 .qorv-n-0000000a x\n"
                                       << journal_status::unreadable;
    }
    void journal_is_trusted_only_as_written()
    {
        QFETCH(QByteArray, text);
        QFETCH(journal_status, expected);
        QTemporaryDir base;
        if (!text.isEmpty())
            write(base.filePath(journal_name), text);
        install_journal read;
        QCOMPARE(read_journal(base.path(), &read), expected);
        if (expected == journal_status::read) {
            QCOMPARE(read.files.size(), std::size_t(1));
            QCOMPARE(read.files[0].target, base.filePath(QStringLiteral("a/b")));
            QCOMPARE(read.files[0].backup, base.filePath(QStringLiteral("a/.qorv-o-0000000b")));
        }
    }

    void commit_replaces_every_file_at_once()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
        write(a, "old a");
        QFile::setPermissions(a, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        {
            staged_install files(dir.path());
            QVERIFY(files.begin_file(a));
            QVERIFY(files.write("new "));
            QVERIFY(files.write("a"));
            QVERIFY(files.end_file());
            QVERIFY(files.begin_file(b));
            QVERIFY(files.write("new b"));
            QVERIFY(files.end_file());
            // Nothing is visible before the commit.
            QCOMPARE(read(a), QByteArray("old a"));
            QVERIFY(!QFile::exists(b));
            QVERIFY(files.commit());
            files.finish();
        }
        QCOMPARE(read(a), QByteArray("new a"));
        QCOMPARE(read(b), QByteArray("new b"));
        // A replaced file keeps its permissions (an executable stays one).
        QVERIFY(QFileInfo(a).permissions() & QFile::ExeOwner);
        QCOMPARE(entries(dir.path()), QStringList({"a", "b"}));
    }

    void undo_after_commit_restores_the_installed_files()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
        write(a, "old a");
        staged_install files(dir.path());
        for (const QString& target : {a, b}) {
            QVERIFY(files.begin_file(target));
            QVERIFY(files.write("new"));
            QVERIFY(files.end_file());
        }
        QVERIFY(files.commit());
        QCOMPARE(read(a), QByteArray("new"));
        files.undo();
        QCOMPARE(read(a), QByteArray("old a"));
        QVERIFY(!QFile::exists(b));
        QCOMPARE(entries(dir.path()), QStringList({"a"}));
    }

    void dropping_an_uncommitted_install_removes_its_temporary_files()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a"));
        write(a, "old a");
        {
            staged_install files(dir.path());
            QVERIFY(files.begin_file(a));
            QVERIFY(files.write("half"));
            // Destroyed with the file still open, as when the window closes mid-file.
        }
        QCOMPARE(read(a), QByteArray("old a"));
        QCOMPARE(entries(dir.path()), QStringList({"a"}));
    }

    void a_failing_move_puts_everything_back()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a"));
        const QString sub = dir.filePath(QStringLiteral("sub"));
        QDir().mkpath(sub);
        write(a, "old a");
        staged_install files(dir.path());
        QVERIFY(files.begin_file(a));
        QVERIFY(files.write("new a"));
        QVERIFY(files.end_file());
        QVERIFY(files.begin_file(sub + QStringLiteral("/b")));
        QVERIFY(files.write("new b"));
        QVERIFY(files.end_file());
        // The second target's directory disappears before the commit.
        for (const QString& name : entries(sub))
            QFile::remove(sub + QLatin1Char('/') + name);
        QVERIFY(QDir(sub).removeRecursively());
        QVERIFY(!files.commit());
        QCOMPARE(read(a), QByteArray("old a"));
        QCOMPARE(entries(dir.path()), QStringList({"a"}));
    }

    void names_of_the_longest_length_install_data()
    {
        QTest::addColumn<int>("length"); // in bytes of UTF-8
        QTest::newRow("244 bytes") << 244;
        QTest::newRow("255 bytes, the limit") << 255;
    }

    void names_of_the_longest_length_install()
    {
        QFETCH(int, length);
        QTemporaryDir dir;
        const QString name = QString(length - 3, QLatin1Char('n')) + QStringLiteral("考");
        QCOMPARE(name.toUtf8().size(), length);
        const QString target = dir.filePath(name);
        write(target, "old");
        staged_install files(dir.path());
        QVERIFY(files.add_file(target, "new"));
        QVERIFY(files.commit());
        QVERIFY(files.finish());
        QCOMPARE(read(target), QByteArray("new"));
        QCOMPARE(entries(dir.path()), QStringList({name}));
    }

    void what_cannot_be_cleaned_up_is_reported_and_retried_data()
    {
        QTest::addColumn<bool>("committed");
        QTest::newRow("temporary file that cannot be removed") << false;
        QTest::newRow("replaced file that cannot be moved back") << true;
    }

    void what_cannot_be_cleaned_up_is_reported_and_retried()
    {
        QFETCH(bool, committed);
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a"));
        write(a, "old a");
        QString blocked;
        {
            staged_install files(dir.path());
            QVERIFY(files.add_file(a, "new a"));
            blocked = committed ? a : temporary_in(dir.path());
            QVERIFY(!committed || files.commit());
            block(blocked);
            QVERIFY(!files.abandon());
            QCOMPARE(files.problems().size(), std::size_t(1));
            QCOMPARE(files.problems()[0].path, blocked);
            QCOMPARE(files.problems()[0].backup.isEmpty(), !committed);
            QVERIFY(!files.problems()[0].reason.isEmpty());
        }
        // The journal stays: the next start meets the same problem and reports it again ...
        std::vector<install_problem> problems;
        QCOMPARE(recover_install(dir.path(), &problems), recovery::incomplete);
        QCOMPARE(problems.size(), std::size_t(1));
        // ... until it can be solved.
        QVERIFY(QDir(blocked).removeRecursively());
        problems.clear();
        QCOMPARE(recover_install(dir.path(), &problems), recovery::rolled_back);
        QVERIFY(problems.empty());
        QCOMPARE(read(a), QByteArray("old a"));
        QCOMPARE(entries(dir.path()), QStringList({"a"}));
    }
};

QTEST_GUILESS_MAIN(staged_install_test)
#include "staged_install_test.moc"
