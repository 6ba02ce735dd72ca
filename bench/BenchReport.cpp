#include "BenchReport.h"

#include <cmath>
#include <cstdio>

namespace {

QString ratioText(const BenchReport::Figure &figure)
{
    if (figure.reference <= 0)
        return QStringLiteral("-");
    return QString::number(figure.engine / figure.reference, 'f', 2);
}

QString goalText(const BenchReport::Figure &figure)
{
    switch (figure.goal) {
    case BenchReport::Goal::AtLeast:
        return QStringLiteral(">= ") + QString::number(figure.goalRatio, 'g', 3);
    case BenchReport::Goal::AtMost:
        return QStringLiteral("<= ") + QString::number(figure.goalRatio, 'g', 3);
    case BenchReport::Goal::None:
        break;
    }
    return QStringLiteral("-");
}

} // namespace

QString BenchReport::format(double value, const QString &unit)
{
    const int decimals = value >= 100 ? 0 : value >= 10 ? 1 : value >= 1 ? 2 : 3;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + unit;
}

void BenchReport::add(const Figure &figure)
{
    figures.append(figure);
    std::printf("%s\n", qPrintable(line(figure)));
    std::fflush(stdout);
}

void BenchReport::fail(const QString &name, const QString &error)
{
    Figure figure;
    figure.name = name;
    figure.error = error;
    add(figure);
}

bool BenchReport::met(const Figure &figure)
{
    if (!figure.error.isEmpty())
        return false;
    if (figure.goal == Goal::None || figure.reference <= 0)
        return true;
    const double ratio = figure.engine / figure.reference;
    return figure.goal == Goal::AtLeast ? ratio >= figure.goalRatio : ratio <= figure.goalRatio;
}

QString BenchReport::line(const Figure &figure)
{
    if (!figure.error.isEmpty())
        return QStringLiteral("%1  FAILED: %2").arg(figure.name.leftJustified(46), figure.error);
    const QString reference = figure.reference > 0
        ? format(figure.reference, figure.unit) + QStringLiteral(" (") + figure.referenceName + QLatin1Char(')')
        : QStringLiteral("-");
    QString verdict;
    if (figure.goal != Goal::None && figure.reference > 0)
        verdict = met(figure) ? QStringLiteral("met") : QStringLiteral("MISSED");
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(figure.name.leftJustified(46), format(figure.engine, figure.unit).rightJustified(16),
             reference.leftJustified(44), ratioText(figure).rightJustified(6), goalText(figure).leftJustified(8),
             verdict);
}

bool BenchReport::print() const
{
    std::printf("\n%s %s %s %s %s\n", qPrintable(QStringLiteral("figure").leftJustified(46)),
                qPrintable(QStringLiteral("engine").rightJustified(16)),
                qPrintable(QStringLiteral("reference").leftJustified(44)),
                qPrintable(QStringLiteral("ratio").rightJustified(6)), "goal");
    bool all = true;
    for (const Figure &figure : figures) {
        std::printf("%s\n", qPrintable(line(figure)));
        all = all && met(figure);
    }
    std::fflush(stdout);
    return all;
}
