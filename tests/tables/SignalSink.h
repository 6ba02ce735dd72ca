#pragma once

#include "PProgressSink.h"

#include <QObject>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

// A progress sink that reports every call as one signal, so that a spy sees messages and
// indicator values in the order they came: "message <text>" or "indicator <value>".
class SignalSink : public QObject, public PProgressSink
{
    Q_OBJECT

public:
    void setIndicator(int value) override { emit reported(QStringLiteral("indicator %1").arg(value)); }
    void setMessage(const QString &text) override { emit reported(QStringLiteral("message ") + text); }
    void setType(const QString &text) override { emit reported(QStringLiteral("type ") + text); }

signals:
    void reported(const QString &report);
};

inline QStringList reportsOf(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &arguments : spy)
        out << arguments.at(0).toString();
    return out;
}

