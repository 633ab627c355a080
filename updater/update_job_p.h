#pragma once

// Internals of the update procedure, reachable by tests.

#include "update_job.h"

namespace rt {
class blob_reader;
class transaction;
} // namespace rt

namespace qorv {

class staged_install;

namespace detail {

/// Streams one file from `contents` into the current file of `files`, chunk by chunk, yielding
/// before each chunk. Exactly contents.size() bytes are written: a value that ends early or
/// delivers more is a failed download.
job_result store_file(rt::blob_reader& contents, staged_install& files, rt::transaction& sqlca,
                      job_view& view);

} // namespace detail
} // namespace qorv
