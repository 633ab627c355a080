#pragma once

// One updater at a time per user. One implementation per platform (instance_lock_unix.cpp).

#include <QString>

#include <memory>

namespace qorv {

/// The single-instance lock of qorv_update, held from a successful try_lock() until the object
/// is destroyed. A lock left by an instance that was killed is taken over.
class instance_lock {
public:
    enum class state {
        locked,          ///< this instance holds the lock
        already_running, ///< another instance holds it
        failed,          ///< the lock could not be made: see error()
    };

    instance_lock();
    ~instance_lock();
    instance_lock(const instance_lock&) = delete;
    instance_lock& operator=(const instance_lock&) = delete;

    state try_lock();
    /// Why try_lock() failed: the place of the lock and the system's reason.
    QString error() const { return error_; }

private:
    struct lock_file;
    std::unique_ptr<lock_file> file_;
    QString error_;
};

} // namespace qorv
