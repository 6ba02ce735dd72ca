#pragma once

#include <QObject>

class PProgressSink;

// The open SQL bases of a session. This is the part that the end of a session needs; opening
// bases and the table conversions join it when the SQL-base commands are built, and the whole
// class then moves to tables/ beside the database wrapper.
class PSqlList : public QObject
{
    Q_OBJECT

public:
    PSqlList();
    ~PSqlList() override;

    // Closes every open base and starts the handle count again.
    void closeAll();

    // Where the conversions report their progress; null when nobody listens. Never owned.
    PProgressSink *session = nullptr;

private:
    qint32 lastHandle = 0;
};
