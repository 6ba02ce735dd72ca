#pragma once

#include <QString>

// Where a session's progress and messages go: the session row of the desktop program, or nowhere.
// The command layer and the conversions call it on the session thread; an implementation that
// shows something on another thread must hand the values over queued. A null sink means nobody
// listens, and every caller must accept that.
class PProgressSink
{
public:
    virtual ~PProgressSink() = default;
    virtual void setIndicator(int value) = 0;
    virtual void setMessage(const QString &text) = 0;
    virtual void setType(const QString &text) = 0;
    // True once the program is ending and the session has been told to stop: long work (a
    // conversion, a wait for a program) ends at its next safe point. Any thread may ask.
    virtual bool stopRequested() const { return false; }
};
