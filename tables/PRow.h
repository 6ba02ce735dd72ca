#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

struct PDecimal;

// One table row as texts, one per field, addressed by position from 0. Setting a field past the
// end grows the row with empty texts; reading past the end gives an empty text. Negative
// positions read as empty and are never stored.
struct PRow
{
    QVector<QString> fields;

    void clear() { fields.clear(); }
    int count() const { return fields.size(); }

    QString text(int i) const;
    QString &text(int i, QString &target) const;

    // Rows split from text lines and fetched from SQL are stored trimmed.
    void setText(int i, const QString &text);
    void setText(int i, QStringView text);
    // Texts decoded from records are stored as they are, read as UTF-8.
    void setText(int i, const char *text);
    // A text already decoded from a record, stored as it is.
    void setDecodedText(int i, const QString &text);

    // Field i read as hundredths (a ',' counts as the decimal point).
    void hundredths(int i, qint32 &out) const;
    // Field i as a decimal; a text that does not parse gives 0.
    void decimal(int i, PDecimal &out) const;
    void setDecimal(int i, PDecimal value);
    // Field i becomes value / 10^decimals with exactly `decimals` fraction digits.
    void setScaled(int i, quint32 value, int decimals);

private:
    QString &slot(int i);
};
