#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

namespace rt {

/// One step of an automation path: a member name with its arguments, as in `cells(1, 2)`.
struct ole_step {
    QString name;
    QVariantList args;
};

/// An automation path such as `application.workbooks.open("x.xlsx")`; the arguments of a method
/// call are those of its last step.
using ole_path = std::vector<ole_step>;

/// How a path is used: a property read, a property write or a method call.
enum class ole_access { get, set, call };

/// A path written as text: `cells(1, 2).value`, texts in double quotes.
QString ole_path_text(const ole_path& path);
/// A value as a path's text shows it: texts in double quotes, `true`/`false`, `null`.
QString ole_value_text(const QVariant& value);

/// Throws the rt::runtime_error by which a server refuses an operation ("automation error: "
/// followed by `what`).
[[noreturn]] void ole_refuse(const QString& what);

/// An automation server, as an oleobject reaches it once connected.
class ole_server {
public:
    virtual ~ole_server();
    /// Reads (get), writes (set, with `value`) or calls (call) the member at the end of `path`
    /// and returns its result (invalid when there is none). Throws rt::runtime_error when the
    /// server refuses the operation.
    virtual QVariant invoke(ole_access access, const ole_path& path, const QVariant& value) = 0;
};

/// Creates the server for a ProgID, or returns nullptr and sets `code` (non-zero) when it cannot.
using ole_factory = std::function<std::unique_ptr<ole_server>(const QString& progid, int& code)>;

/// Replaces how servers are created (tests substitute recording or failing servers); an empty
/// factory restores the default, which knows "Excel.Application" only. Returns the previous one.
ole_factory set_ole_factory(ole_factory factory);

/// The default factory: a spreadsheet_server for "Excel.Application" (case-insensitive), code -2
/// (class not found) for every other ProgID.
std::unique_ptr<ole_server> default_ole_server(const QString& progid, int& code);

/// The runtime's automation object (`oleobject`): connected to a new server instance, then used
/// through paths.
class oleobject {
public:
    oleobject();
    ~oleobject();
    oleobject(const oleobject&) = delete;
    oleobject& operator=(const oleobject&) = delete;

    /// Connects to a new instance of the server `progid`. Returns 0, or the factory's non-zero
    /// code (-2 for an unknown ProgID).
    int connecttonewobject(const QString& progid);
    /// Drops the connection; returns 0, or -1 when not connected.
    int disconnectobject();
    bool connected() const { return server_ != nullptr; }

    /// The three uses of a path; each throws rt::runtime_error when the object is not connected
    /// or the server refuses.
    QVariant get(const ole_path& path);
    void set(const ole_path& path, const QVariant& value);
    QVariant call(const ole_path& path);

private:
    std::unique_ptr<ole_server> server_;
};

} // namespace rt
