#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QFile;

// File access shared by the V3 and V4 table files. Tables are opened unbuffered so that a failed
// or short write is seen at the write itself, never later at a flush nobody checks.

// A table file another program holds may come free shortly: opening is tried this many times,
// sleeping the retry delay after every failed try.
constexpr int kTableOpenTries = 10;
constexpr int kDefaultTableOpenRetryDelayMs = 1000;

int tableOpenRetryDelay();
// Tests shorten the delay so that a refused open does not cost ten seconds.
void setTableOpenRetryDelay(int milliseconds);

// Opens `file` for reading and writing under `name`, with the tries above.
bool openTableFile(QFile &file, const QString &name);
// True only when every byte was written.
bool writeTableBytes(QFile &file, const QByteArray &bytes);
// Reads exactly `length` bytes from the current position; false (and `out` empty) when fewer come.
bool readTableBytes(QFile &file, qint64 length, QByteArray &out);
// Closes an open file; false when closing reported an error.
bool closeTableFile(QFile &file);
