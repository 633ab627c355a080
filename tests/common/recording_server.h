#pragma once

#include <rt/grid/ole.h>

#include <QStringList>

#include <memory>

namespace qorv::test {

/// A server that records every operation as a line of text ("set cells(1, 1).value = \"x\"")
/// before passing it to an inner server, and fails on demand: the operation numbered
/// `fail_at` (1-based; 0 never) throws rt::runtime_error instead of reaching the inner server.
class recording_server : public rt::ole_server {
public:
    /// `inner` may be null: operations are then only recorded.
    recording_server(std::unique_ptr<rt::ole_server> inner, QStringList* log, int fail_at = 0);
    QVariant invoke(rt::ole_access access, const rt::ole_path& path,
                    const QVariant& value) override;

private:
    std::unique_ptr<rt::ole_server> inner_;
    QStringList* log_;
    int fail_at_;
    int count_ = 0;
};

} // namespace qorv::test
