// Target paths of server file names, the install journal, and the all-or-nothing installation
// of a version's files.

#include "install_journal.h"
#include "install_step.h"
#include "staged_install.h"
#include "target_path.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

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

/// Every entry below `dir`, hidden ones included: a file with its contents, a link as "-> " and
/// where it points.
QMap<QString, QByteArray> snapshot(const QString& dir)
{
    QMap<QString, QByteArray> found;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(dir).relativeFilePath(info.filePath());
        if (info.isSymLink())
            found.insert(name, "-> " + info.symLinkTarget().toUtf8());
        else if (!info.isDir())
            found.insert(name, read(info.filePath()));
    }
    return found;
}

// An install in a child process that ends at a chosen step, as a kill would end it.
int stop_at = 0;
int steps_taken = 0;

void stop_at_step(const char*)
{
    if (++steps_taken == stop_at)
        ::_exit(0);
}

/// Runs `work` in a child process stopped at step `at` (0: never); true when it was stopped.
bool run_stopped(const std::function<void()>& work, int at)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        stop_at = at;
        steps_taken = 0;
        detail::set_step_hook(stop_at_step);
        work();
        ::_exit(1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
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
        QTest::newRow("staging") << int(install_phase::staging)
                                 << QStringList{"qorv.exe", "lib/a.dll"};
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
        journal_file journal(base.path());
        if (written.phase == install_phase::staging) {
            QVERIFY(journal.create());
            for (const staged_file& f : written.files)
                QVERIFY(journal.record_file(f));
        } else {
            QVERIFY(journal.commit(written.files));
            if (written.phase != install_phase::moving)
                QVERIFY(journal.record_phase(written.phase, written.files, true));
        }
        journal.close();
        QCOMPARE(entries(base.path()), QStringList{journal_name}); // nothing else left
        install_journal read;
        QCOMPARE(read_journal(base.path(), &read), journal_status::read);
        QCOMPARE(read.phase, written.phase);
        QCOMPARE(read.files.size(), written.files.size());
        for (std::size_t i = 0; i < read.files.size(); ++i) {
            QCOMPARE(read.files[i].target, written.files[i].target);
            QCOMPARE(read.files[i].temporary, written.files[i].temporary);
            QCOMPARE(read.files[i].backup, written.files[i].backup);
            // Whether a file replaces an installed one is only known from the commit on.
            if (written.phase != install_phase::staging)
                QCOMPARE(read.files[i].had_old, written.files[i].had_old);
        }
    }

    void journal_is_trusted_only_as_written_data()
    {
        QTest::addColumn<QByteArray>("text"); // empty: no journal at all; "<directory>": one
        QTest::addColumn<journal_status>("expected");
        const QByteArray head = "qorv-journal 2 commit\n";
        const QByteArray staging = "qorv-journal 2 staging\n";
        const QByteArray file = "file .qorv-n-0000000a .qorv-o-0000000b a/b\n";
        const QByteArray other = "file .qorv-n-0000000c .qorv-o-0000000d c\n";
        const QByteArray moving = "moving 1 1\n";
        QTest::newRow("well formed") << head + file + moving << journal_status::read;
        QTest::newRow("absent") << QByteArray() << journal_status::absent;
        QTest::newRow("other version")
            << QByteArray("qorv-journal 1\nmoving\n") << journal_status::unreadable;
        QTest::newRow("closed is never written") << head + file + moving + "closed 1\n"
                                                 << journal_status::unreadable;
        QTest::newRow("cut short") << head + file + "moving 1 1" << journal_status::unreadable;
        QTest::newRow("cut at a line boundary before the moving record")
            << head + file + other << journal_status::unreadable;
        QTest::newRow("moving record counting fewer files")
            << head + file + other + moving << journal_status::unreadable;
        QTest::newRow("count with a sign") << head + file + "moving +1 1\n"
                                           << journal_status::unreadable;
        QTest::newRow("file after the moving record")
            << head + file + moving + other << journal_status::unreadable;
        QTest::newRow("undoing after done") << head + file + moving + "done 1\nundoing 1\n"
                                            << journal_status::unreadable;
        QTest::newRow("done counting fewer files") << head + file + moving + "done 0\n"
                                                   << journal_status::unreadable;
        QTest::newRow("record after the last line break ignored")
            << head + file + moving + "undoi" << journal_status::read;
        QTest::newRow("staging cut inside a record")
            << staging + file + "file .qorv-n-00" << journal_status::read;
        QTest::newRow("phase record in a staging journal")
            << staging + file + moving << journal_status::unreadable;
        QTest::newRow("a directory") << QByteArray("<directory>") << journal_status::unreadable;
        QTest::newRow("target outside")
            << head + "file .qorv-n-0000000a .qorv-o-0000000b ../x\n" + moving
            << journal_status::unreadable;
        QTest::newRow("absolute target")
            << head + "file .qorv-n-0000000a .qorv-o-0000000b /etc/passwd\n" + moving
            << journal_status::unreadable;
        QTest::newRow("scratch names swapped")
            << head + "file .qorv-o-0000000a .qorv-n-0000000b x\n" + moving
            << journal_status::unreadable;
        QTest::newRow("scratch name of another form")
            << head + "file .qorv-n-0000000a ../../x x\n" + moving << journal_status::unreadable;
        QTest::newRow("replaced flag not 0 or 1") << head + file + "moving 1 2\n"
                                                  << journal_status::unreadable;
        QTest::newRow("field missing")
            << head + "file .qorv-n-0000000a x\n" + moving << journal_status::unreadable;
        QTest::newRow("link that is no longer one")
            << head + "link .qorv-n-0000000a .qorv-o-0000000b a/b\n" + moving
            << journal_status::unreadable;
    }
    void journal_is_trusted_only_as_written()
    {
        QFETCH(QByteArray, text);
        QFETCH(journal_status, expected);
        // An unreadable journal is reported by the caller, with nothing from Qt on the side.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QTemporaryDir base;
        QVERIFY(QDir(base.path()).mkpath(QStringLiteral("a")));
        write(base.filePath(QStringLiteral("a/b")), "b");
        if (text == "<directory>")
            QVERIFY(QDir(base.path()).mkpath(journal_name));
        else if (!text.isEmpty())
            write(base.filePath(journal_name), text);
        install_journal read;
        QString why;
        QCOMPARE(read_journal(base.path(), &read, &why), expected);
        QCOMPARE(why.isEmpty(), expected != journal_status::unreadable);
        if (expected == journal_status::read) {
            QCOMPARE(read.files.size(), std::size_t(1));
            QCOMPARE(read.files[0].target, base.filePath(QStringLiteral("a/b")));
            QCOMPARE(read.files[0].backup, base.filePath(QStringLiteral("a/.qorv-o-0000000b")));
        }
    }

    void reserved_names_are_recognised_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("reserved");
        QTest::newRow("journal") << ".qorv-journal" << true;
        QTest::newRow("journal in a directory") << "lib/.qorv-journal" << true;
        QTest::newRow("journal in other letter case") << "lib\\.QORV-Journal" << true;
        QTest::newRow("journal's scratch copy") << ".qorv-journal.new" << true;
        QTest::newRow("new file") << "a/.qorv-n-0123abcd" << true;
        QTest::newRow("replaced file, upper case") << ".qorv-o-0123ABCD" << true;
        QTest::newRow("earlier temporary") << "考务/.成绩.xlsx.qorv-new-0000beef" << true;
        QTest::newRow("as a directory") << ".qorv-n-0123abcd/x" << true;
        QTest::newRow("journal with a suffix") << ".qorv-journal2" << false;
        QTest::newRow("seven digits") << ".qorv-n-0123abc" << false;
        QTest::newRow("another letter") << ".qorv-x-0123abcd" << false;
        QTest::newRow("earlier temporary without its leading dot")
            << "a.dll.qorv-new-0000beef" << false;
        QTest::newRow("earlier temporary without a name") << ".qorv-new-0000beef" << false;
        QTest::newRow("settings") << "qorv.ini" << false;
    }
    void reserved_names_are_recognised()
    {
        QFETCH(QString, name);
        QFETCH(bool, reserved);
        QCOMPARE(is_reserved_name(name), reserved);
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

    // Files larger than the window after which their writing to disk starts, one after another,
    // written in pieces that straddle its boundaries, arrive whole.
    void large_files_arrive_whole()
    {
        QTemporaryDir dir;
        QByteArray data(20 * 1024 * 1024 + 3, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char((i * 7919) >> 8 ^ i);
        const QStringList targets{dir.filePath(QStringLiteral("a")),
                                  dir.filePath(QStringLiteral("b"))};
        staged_install files(dir.path());
        for (const QString& target : targets) {
            QVERIFY(files.begin_file(target));
            for (qsizetype at = 0; at < data.size(); at += 32765)
                QVERIFY(files.write(
                    QByteArrayView(data).sliced(at, std::min<qsizetype>(32765, data.size() - at))));
            QVERIFY(files.end_file());
        }
        QVERIFY(files.commit());
        files.finish();
        for (const QString& target : targets)
            QVERIFY(read(target) == data);
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

    void stray_temporaries_are_removed_at_start_data()
    {
        QTest::addColumn<QString>("name"); // relative to the installation
        QTest::addColumn<bool>("removed");
        QTest::newRow("earlier temporary beside its file") << ".a.dll.qorv-new-0000abcd" << true;
        QTest::newRow("earlier temporary of a file that is gone")
            << "lib/.gone.dll.qorv-new-12345678" << true;
        QTest::newRow("new file that no journal names") << "lib/.qorv-n-0000abcd" << true;
        QTest::newRow("replaced file, maybe the only copy, kept") << ".qorv-o-0000abcd" << false;
        QTest::newRow("seven digits kept") << ".a.dll.qorv-new-0000abc" << false;
        QTest::newRow("upper-case digits kept") << ".a.dll.qorv-new-0000ABCD" << false;
        QTest::newRow("behind a link that leaves, kept") << "out/.a.dll.qorv-new-0000abcd" << false;
    }
    void stray_temporaries_are_removed_at_start()
    {
        QFETCH(QString, name);
        QFETCH(bool, removed);
        QTemporaryDir base, elsewhere;
        QVERIFY(QDir(base.path()).mkpath(QStringLiteral("lib")));
        QVERIFY(QFile::link(elsewhere.path(), base.filePath(QStringLiteral("out"))));
        write(base.filePath(QStringLiteral("a.dll")), "a");
        write(base.filePath(name), "left behind");
        std::vector<install_problem> problems;
        QCOMPARE(recover_install(base.path(), &problems), recovery::none);
        QVERIFY(problems.empty());
        QCOMPARE(QFile::exists(base.filePath(name)), !removed);
        QCOMPARE(read(base.filePath(QStringLiteral("a.dll"))), QByteArray("a"));
    }

    void a_failed_move_names_the_file_and_the_reason()
    {
        QTemporaryDir dir;
        static QString blocked;
        static int backups;
        const QString a = dir.filePath(QStringLiteral("a"));
        blocked = dir.filePath(QStringLiteral("b"));
        backups = 0;
        write(a, "old a");
        write(blocked, "old b");
        staged_install files(dir.path());
        QVERIFY(files.add_file(a, "new a"));
        QVERIFY(files.add_file(blocked, "new b"));
        // Once the second file is set aside, a directory takes its place.
        detail::set_step_hook([](const char* step) {
            if (std::strcmp(step, "backup") == 0 && ++backups == 2) {
                QFile::remove(blocked);
                QDir().mkpath(blocked + QStringLiteral("/x"));
            }
        });
        const bool committed = files.commit();
        detail::set_step_hook(nullptr);
        QVERIFY(!committed);
        QCOMPARE(files.move_failure().path, blocked);
        QCOMPARE(files.move_failure().reason, QString::fromLocal8Bit(std::strerror(EISDIR)));
        QCOMPARE(read(a), QByteArray("old a"));
    }

    // The journal as an install runs: stopped at any step (in a child process, as a kill stops
    // it) and then repaired, maybe stopped again, an install leaves the old files or the new ones,
    // nothing else. qorv.ini is a link to a file elsewhere, and stays one.
    void an_install_stopped_at_any_step_leaves_old_or_new_data()
    {
        QTest::addColumn<bool>("undone"); // after the commit
        QTest::newRow("completed") << false;
        QTest::newRow("undone after the commit") << true;
    }
    void an_install_stopped_at_any_step_leaves_old_or_new()
    {
        QFETCH(bool, undone);
        QTemporaryDir root;
        const QString base = root.filePath(QStringLiteral("install"));
        const QString elsewhere = root.filePath(QStringLiteral("settings"));
        const auto old_scene = [&] {
            QDir(base).removeRecursively();
            QDir(elsewhere).removeRecursively();
            QDir().mkpath(base + QStringLiteral("/lib"));
            QDir().mkpath(elsewhere);
            write(base + QStringLiteral("/a.dll"), "old a");
            write(elsewhere + QStringLiteral("/qorv.ini"), "ver=1");
            QFile::link(elsewhere + QStringLiteral("/qorv.ini"),
                        base + QStringLiteral("/qorv.ini"));
        };
        const auto install = [&] {
            staged_install files(base);
            if (files.add_file(base + QStringLiteral("/a.dll"), "new a") &&
                files.add_file(base + QStringLiteral("/lib/b.dll"), "new b") &&
                files.add_file(base + QStringLiteral("/qorv.ini"), "ver=2", true) && files.commit())
                undone ? files.undo() : files.finish();
        };
        old_scene();
        const auto old_files = snapshot(root.path());
        steps_taken = 0;
        stop_at = 0;
        detail::set_step_hook(stop_at_step);
        install();
        detail::set_step_hook(nullptr);
        const int steps = steps_taken;
        QVERIFY2(steps > 15, qPrintable(QString::number(steps)));
        const auto end_files = snapshot(root.path());
        QCOMPARE(end_files.value(QStringLiteral("install/qorv.ini")),
                 old_files.value(QStringLiteral("install/qorv.ini"))); // still the link
        auto new_files = old_files;
        new_files.insert(QStringLiteral("install/a.dll"), "new a");
        new_files.insert(QStringLiteral("install/lib/b.dll"), "new b");
        new_files.insert(QStringLiteral("settings/qorv.ini"), "ver=2");
        QCOMPARE(end_files, undone ? old_files : new_files);

        int completed = 0, rolled_back = 0;
        for (int step = 1; step <= steps; ++step) {
            old_scene();
            QVERIFY2(run_stopped(install, step), qPrintable(QString::number(step)));
            // Now and then the repair itself is stopped as well.
            if (step % 3 == 0)
                run_stopped([&] { recover_install(base, nullptr); }, 1);
            std::vector<install_problem> problems;
            QVERIFY(recover_install(base, &problems) != recovery::incomplete);
            QVERIFY(problems.empty());
            const auto now = snapshot(root.path());
            if (now == new_files)
                ++completed;
            else if (now == old_files)
                ++rolled_back;
            else
                QFAIL(qPrintable(QStringLiteral("step %1 of %2 left: %3")
                                     .arg(step)
                                     .arg(steps)
                                     .arg(QStringList(now.keys()).join(u' '))));
        }
        QVERIFY(completed > 0 && rolled_back > 0);
    }
};

QTEST_GUILESS_MAIN(staged_install_test)
#include "staged_install_test.moc"
