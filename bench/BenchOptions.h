#pragma once

#include <QString>
#include <QStringList>

// What one run of the bench measures and how big; the defaults are the figures of record,
// --quick makes every figure small enough for a smoke run of a few seconds.
struct BenchOptions
{
    QStringList groups{QStringLiteral("roundtrips"), QStringLiteral("transfer"), QStringLiteral("conversions"),
                       QStringLiteral("sessions")};
    // Engine and reference take turns this many times; each side keeps its best result, so a
    // burst of load from elsewhere on the machine spoils one turn, not the figure.
    int rounds = 3;
    // The transfers take more turns: one lasts a tenth of a second, and the loopback copies it
    // measures swing by a third from one turn to the next on a quiet machine.
    int transferRounds = 15;
    double seconds = 1.5;              // one round-trip measurement
    qint64 transferBytes = 256LL << 20; // the file of the transfer figures
    int lines = 1000000;               // the text file of the conversion figures
    int terminals = 1000;              // the sessions-at-scale figure
    QString folder;                    // where the files go; a fresh temporary folder when empty

    bool wants(const char *group) const { return groups.contains(QLatin1String(group)); }
};
