#pragma once

#include <QString>

// Leaves an empty file at the local path in place of whatever file stood there; false when an
// existing entry cannot be removed (read-only, held open by a session or as an SQL base or its
// journal, a folder, a FIFO, socket or device, no access) or the new file not created.
bool createFile(const QString &path);

// The last change of the local path in local time as "hh:mm:ss dd.MM.yyyy"; false (text left
// as it was) when nothing exists at the path.
bool fileDateText(const QString &path, QString &text);
