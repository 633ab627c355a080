#pragma once

// The names an install keeps for itself in the installation directory: its journal and the
// scratch files beside each target. No file from the update server may bear one; qorv_admin
// refuses to publish them and the updater refuses to install them.

#include <QString>
#include <QStringView>

namespace qorv {

/// The journal's name inside the installation directory.
inline const QString journal_name = QStringLiteral(".qorv-journal");

/// The scratch copy of the journal that earlier updaters wrote beside it; removed at start.
inline const QString journal_scratch_name = QStringLiteral(".qorv-journal.new");

/// The two kinds of scratch file an install keeps beside a target.
enum class scratch_kind : char { new_file = 'n', old_file = 'o' };

/// The name of a scratch file, short whatever the target's length: ".qorv-n-0000abcd" for the
/// new file numbered 0xabcd.
QString scratch_file_name(scratch_kind kind, quint32 number);

/// True when `name` has exactly the form scratch_file_name() gives to files of `kind`.
bool is_scratch_name(QStringView name, scratch_kind kind);

/// True when `name` is a temporary file of the naming earlier updaters used: ".NAME.qorv-new-"
/// and eight lower-case hexadecimal digits, for a target called NAME.
bool is_previous_temporary_name(QStringView name);

/// True when `name`, a file name from the update server ('/' or '\' between directories), has a
/// part that an install keeps for itself: the journal or its scratch copy, or a scratch or
/// temporary name of this or an earlier updater. Letter case is ignored, so that the rule holds
/// on file systems that ignore it too.
bool is_reserved_name(QStringView name);

} // namespace qorv
