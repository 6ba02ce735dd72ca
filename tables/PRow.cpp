#include "PRow.h"

#include "Helpers.h"
#include "PDecimal.h"

QString PRow::text(int i) const
{
    return i >= 0 && i < fields.size() ? fields.at(i) : QString();
}

QString &PRow::text(int i, QString &target) const
{
    target = text(i);
    return target;
}

QString &PRow::slot(int i)
{
    if (i >= fields.size())
        fields.resize(i + 1);
    return fields[i];
}

void PRow::setText(int i, const QString &text)
{
    if (i < 0)
        return;
    slot(i) = text.trimmed();
}

void PRow::setText(int i, QStringView text)
{
    if (i < 0)
        return;
    slot(i) = text.trimmed().toString();
}

void PRow::setText(int i, const char *text)
{
    if (i < 0)
        return;
    slot(i) = QString::fromUtf8(text ? text : "");
}

void PRow::setDecodedText(int i, const QString &text)
{
    if (i < 0)
        return;
    slot(i) = text;
}

void PRow::hundredths(int i, qint32 &out) const
{
    QByteArray bytes = text(i).toLatin1();
    out = textToHundredths(bytes.data());
}

void PRow::decimal(int i, PDecimal &out) const
{
    out.fromText(text(i));
}

void PRow::setDecimal(int i, PDecimal value)
{
    setText(i, value.text().constData());
}

void PRow::setScaled(int i, quint32 value, int decimals)
{
    char buffer[kScaledTextSize];
    setText(i, formatScaled(value, buffer, decimals));
}
