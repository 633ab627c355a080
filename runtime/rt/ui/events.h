#pragma once

#include <QStringView>

class QObject;

namespace rt {

/// How an event is raised: at once (the handler runs before the call returns) or queued (the
/// handler runs later from the event loop, if the object still exists then).
enum class event_style { trigger, post };

/// Raises the event `name` of `object`: a signal, slot or Q_INVOKABLE method without
/// arguments, its name compared case-insensitively (the most derived class wins). Returns
/// false, and does nothing, for a null object or a name the object lacks.
bool raise_event(QObject* object, QStringView name, event_style style);

} // namespace rt
