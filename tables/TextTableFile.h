#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QIODevice;

// Line access to the delimited text table files that terminals send and receive: one record a
// line, read one line at a time so that no file is ever held whole in memory.

enum class TextLineResult { Line, End, TooLong };

// Reads the next line, its "\n" included when the file has one; a CR LF pair at its end reads as
// "\n", as text mode on Windows has it. A line longer than maxBytes (line end included) gives
// TooLong with `line` empty and the device somewhere inside that line. End at the end of the
// device or on a read error.
TextLineResult readTextLine(QIODevice &device, QByteArray &line, qint64 maxBytes);

// Appends the line to `out` with each "\n" as CR LF: the terminals' files are Windows text files.
void appendTextLine(QByteArray &out, const QByteArray &line);

// True when both names lead to the same existing file (after links and "." and ".."). A conversion
// must never read or rewrite a file it is writing, or remove a file that is open under it.
bool isSameFile(const QString &a, const QString &b);
