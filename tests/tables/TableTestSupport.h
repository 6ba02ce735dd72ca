#pragma once

#include "PSettings.h"
#include "TableFileIO.h"
#include "WriteFault.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>

// Byte strings written out in the order a file holds them.
inline QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

inline QByteArray wordBE(quint32 v)
{
    return bytesOf({int(v >> 24) & 0xFF, int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF});
}

inline void setTerminalCharset(const QString &name)
{
    PSettings s = settings.snapshot();
    s.terminalCharset = name;
    settings.store(s);
}

// Every table test starts from the default settings, fast open retries and no armed write fault,
// and leaves them so.
class TableFilesEnvironment
{
public:
    TableFilesEnvironment()
    {
        PSettings s;
        s.setDefaults();
        settings.store(s);
        setTableOpenRetryDelay(kFastRetryMs);
        platform::disarmWriteFault();
    }
    ~TableFilesEnvironment()
    {
        platform::disarmWriteFault();
        setTableOpenRetryDelay(kDefaultTableOpenRetryDelayMs);
        PSettings s;
        s.setDefaults();
        settings.store(s);
    }
    static constexpr int kFastRetryMs = 5;
};
