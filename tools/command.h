#pragma once

// qorv_admin's commands: the table each command is an entry of, the parsing they share, and what
// a command reaches while it runs (its options and arguments, the two output streams).

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <vector>

namespace qorv::admin {

/// The exit status of every command.
enum exit_status { success = 0, usage_error = 1, failure = 2 };

/// Runs qorv_admin on `args`, the command line without the program name: results (help texts,
/// stored forms, schemas, lists) go to `out`, progress and errors to `err`. Returns the exit
/// status. The program is this call on its standard output and standard error.
int run_command_line(const QStringList& args, QTextStream& out, QTextStream& err);

class invocation;

/// One command of qorv_admin. The table parses the command line for it, answers --help, and
/// checks the required options and the number of arguments before run() is called.
struct command {
    /// The database options (--server, --database, --user, --password) a command takes.
    enum class database_options {
        none,    ///< none
        written, ///< all four, required: their values are the command's data
        used,    ///< the database to work on; --ini FILE may give all four instead
    };
    /// How many positional arguments a command takes.
    enum class arity { none, one, at_least_one };

    QString name;
    QString summary;     ///< the command's line in the program's help
    QString description; ///< the first paragraph of the command's own help
    database_options database = database_options::none;
    QList<QCommandLineOption> options; ///< the command's own options
    QStringList required;              ///< own options that must be given, in this order
    arity arguments = arity::none;
    QString argument;        ///< the positional argument's name in the help ("text")
    QString argument_help;   ///< its description
    QString argument_syntax; ///< its form in the usage line ("FILE..."), when not the name
    int (*run)(invocation& call) = nullptr;
};

/// A command being run: its parsed command line and its output.
class invocation {
public:
    invocation(const command& c, const QCommandLineParser& parser, QTextStream& out,
               QTextStream& err);

    const QString& command_name() const { return command_.name; }
    bool is_set(const QString& option) const { return parser_.isSet(option); }
    QString value(const QString& option) const { return parser_.value(option); }
    QStringList arguments() const { return parser_.positionalArguments(); }

    /// Writes a result to the output stream.
    void print(const QString& text);
    /// Writes progress to the error stream.
    void note(const QString& text);
    /// Reports a failure; returns failure.
    int fail(const QString& message);
    /// Reports a wrong command line with a pointer to the command's help; returns usage_error.
    int usage(const QString& message);

private:
    const command& command_;
    const QCommandLineParser& parser_;
    QTextStream& out_;
    QTextStream& err_;
};

/// The commands of each group, for the table.
std::vector<command> settings_commands(); // encrypt, write-ini
std::vector<command> schema_commands();   // init, upgrade-table
std::vector<command> publish_commands();  // publish
std::vector<command> list_commands();     // list
std::vector<command> withdraw_commands(); // withdraw
std::vector<command> keygen_commands();   // keygen
std::vector<command> sign_commands();     // sign

} // namespace qorv::admin
