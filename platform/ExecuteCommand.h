#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace platform {

// Runs `program` with `parameters` as its one argument, verbatim (an empty text is one empty
// argument), never through a shell; a bare name is looked up in the search path. Its standard
// input, output and error are the null device, so it can neither wait for input nor block on a
// full pipe. Without `wait` it runs on detached from the server (no child of it, so never left
// as a zombie) and `exitCode` is 0; with it the call blocks, without using the processor, until
// the program ends and `exitCode` gets its exit code, or until `stopWaiting` (asked a few times
// a second) says true: the program then goes on alone, is reaped within a second of its end by
// a thread of the server's (no zombie is left), and `exitCode` is 0. A program that
// crashed reads as the negated signal number, never as 0. False when the program could not be
// started.
bool executeCommand(const QString &program, const QString &parameters, bool wait, qint32 &exitCode,
                    const std::function<bool()> &stopWaiting = nullptr);

} // namespace platform
