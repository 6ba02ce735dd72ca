#pragma once

#include <QByteArray>
#include <QtGlobal>

// Reads a request's arguments strictly inside its payload: the receive buffer behind the payload
// still holds earlier requests, and a terminal is a remote peer. A string ends at its NUL or at
// the payload end. An integer that does not lie wholly inside the payload reads as 0 and marks
// the request malformed; the mark stays for every later read.
class PRequestReader
{
public:
    PRequestReader(const char *begin, const char *end) : cursor(begin), end(end) {}

    QByteArray string();
    qint32 word();
    bool isMalformed() const { return malformed; }
    const char *position() const { return cursor; }
    qint64 remaining() const { return end - cursor; }

private:
    const char *cursor;
    const char *end;
    bool malformed = false;
};
