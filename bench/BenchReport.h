#pragma once

#include <QString>
#include <QVector>

// The figures of one run, each beside its reference with the ratio engine / reference and the
// goal that ratio must meet, printed as one table at the end (and each line as it comes).
class BenchReport
{
public:
    enum class Goal { None, AtLeast, AtMost };

    struct Figure
    {
        QString name;
        double engine = 0;
        double reference = 0; // 0: no reference
        QString unit;
        QString referenceName;
        Goal goal = Goal::None;
        double goalRatio = 0;
        QString error; // set when the figure could not be measured
    };

    void add(const Figure &figure);
    void fail(const QString &name, const QString &error);
    // Prints the table; false when a figure failed or missed its goal.
    bool print() const;

    static QString format(double value, const QString &unit);

private:
    static QString line(const Figure &figure);
    static bool met(const Figure &figure);

    QVector<Figure> figures;
};
