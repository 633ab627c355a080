#include "command.h"

#include "database.h"
#include "program_help.h"

#include <QCoreApplication>

#include <algorithm>

namespace qorv::admin {

namespace {

const char* const exit_codes_text = "Exit status: 0 success, 1 usage error, 2 failure.";

void write(QTextStream& stream, const QString& text)
{
    stream << text;
    stream.flush();
}

int usage(QTextStream& err, const QString& message, const QString& command = {})
{
    write(err, QStringLiteral("qorv_admin: %1\nTry 'qorv_admin %2--help'.\n")
                   .arg(message, command.isEmpty() ? QString() : command + QLatin1Char(' ')));
    return usage_error;
}

QList<QCommandLineOption> database_options(command::database_options use)
{
    if (use == command::database_options::none)
        return {};
    QList<QCommandLineOption> options{
        {QStringLiteral("server"),
         QStringLiteral("Database server: sqlite:PATH, postgresql://HOST:PORT, "
                        "odbc:CONNECTION-STRING, or a SQL Server HOST[,PORT]."),
         QStringLiteral("server")},
        {QStringLiteral("database"), QStringLiteral("Database name (not used by SQLite)."),
         QStringLiteral("name")},
        {QStringLiteral("user"), QStringLiteral("Login name."), QStringLiteral("login")},
        {QStringLiteral("password"), QStringLiteral("Login password."), QStringLiteral("password")},
    };
    if (use == command::database_options::used)
        options.emplace_back(QStringLiteral("ini"),
                             QStringLiteral("Read the server, database, login and password from "
                                            "the encrypted settings of this qorv.ini instead."),
                             QStringLiteral("file"));
    return options;
}

/// Every command, by name.
const std::vector<command>& commands()
{
    static const std::vector<command> table = [] {
        std::vector<command> all;
        for (auto group : {settings_commands, schema_commands, publish_commands, list_commands,
                           withdraw_commands, keygen_commands, sign_commands})
            for (command& c : group())
                all.push_back(std::move(c));
        std::sort(all.begin(), all.end(),
                  [](const command& a, const command& b) { return a.name < b.name; });
        return all;
    }();
    return table;
}

QString program_help()
{
    QString text = QStringLiteral(
        "Usage: qorv_admin COMMAND [options] [arguments]\n"
        "Prepares what the updater qorv_update reads: the settings file qorv.ini and the\n"
        "table t_file on the update server.\n\nCommands:\n");
    for (const command& c : commands())
        text += QStringLiteral("  %1 %2\n").arg(c.name, -10).arg(c.summary);
    text += QStringLiteral(
        "\n'qorv_admin COMMAND --help' describes a command and its options.\n"
        "The database options of init, publish, sign, list, upgrade-table and withdraw:\n"
        "--server sqlite:PATH | postgresql://HOST:PORT | odbc:CONNECTION-STRING |\n"
        "HOST[,PORT] (SQL Server), --database, --user, --password,\n"
        "or --ini FILE to take them from the encrypted settings of a qorv.ini.\n\n");
    text += QLatin1String(exit_codes_text) + QLatin1Char('\n');
    return text;
}

/// The word for the positional argument in messages: "TEXT", or "FILE" for "FILE...".
QString argument_word(const command& c)
{
    if (c.argument_syntax.isEmpty())
        return c.argument.toUpper();
    QString word = c.argument_syntax;
    while (word.endsWith(QLatin1Char('.')))
        word.chop(1);
    return word;
}

int run(const command& c, const QStringList& args, QTextStream& out, QTextStream& err)
{
    QCommandLineParser parser;
    parser.addOptions(database_options(c.database));
    parser.addOptions(c.options);
    if (c.arguments != command::arity::none)
        parser.addPositionalArgument(c.argument, c.argument_help, c.argument_syntax);
    parser.setApplicationDescription(c.description + QStringLiteral("\n\n") +
                                     QLatin1String(exit_codes_text));
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("qorv_admin ") + c.name} + args))
        return usage(err, parser.errorText(), c.name);
    if (parser.isSet(help)) {
        write(out, help_text(parser, QStringLiteral("qorv_admin ") + c.name));
        return success;
    }

    invocation call(c, parser, out, err);
    const auto missing = [&](const QString& option) {
        return call.usage(QStringLiteral("%1 needs --%2").arg(c.name, option));
    };
    for (const QString& option : c.required)
        if (!parser.isSet(option))
            return missing(option);
    const qsizetype count = parser.positionalArguments().size();
    switch (c.arguments) {
    case command::arity::none:
        if (count != 0)
            return call.usage(QStringLiteral("%1 takes no arguments").arg(c.name));
        break;
    case command::arity::one:
        if (count != 1)
            return call.usage(
                QStringLiteral("%1 takes exactly one %2").arg(c.name, argument_word(c)));
        break;
    case command::arity::at_least_one:
        if (count == 0)
            return call.usage(
                QStringLiteral("%1 needs at least one %2").arg(c.name, argument_word(c)));
        break;
    }
    if (c.database == command::database_options::written)
        for (const char* option : database_option_names)
            if (!parser.isSet(QLatin1String(option)))
                return missing(QLatin1String(option));
    return c.run(call);
}

} // namespace

invocation::invocation(const command& c, const QCommandLineParser& parser, QTextStream& out,
                       QTextStream& err)
    : command_(c), parser_(parser), out_(out), err_(err)
{
}

void invocation::print(const QString& text)
{
    write(out_, text);
}

void invocation::note(const QString& text)
{
    write(err_, text);
}

int invocation::fail(const QString& message)
{
    write(err_, QStringLiteral("qorv_admin: %1\n").arg(message));
    return failure;
}

int invocation::usage(const QString& message)
{
    return admin::usage(err_, message, command_.name);
}

int run_command_line(const QStringList& args, QTextStream& out, QTextStream& err)
{
    if (args.isEmpty())
        return usage(err, QStringLiteral("no command given"));
    const QString& first = args.front();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        write(out, program_help());
        return success;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        write(out, QStringLiteral("qorv_admin %1\n").arg(QCoreApplication::applicationVersion()));
        return success;
    }
    const auto& table = commands();
    const auto found =
        std::find_if(table.begin(), table.end(), [&](const command& c) { return c.name == first; });
    if (found == table.end())
        return usage(err, QStringLiteral("unknown command \"%1\"").arg(first));
    return run(*found, args.mid(1), out, err);
}

} // namespace qorv::admin
