// The terminal path functions of the fuzz build. The engine's own ones are compiled under other
// names (see CMakeLists.txt); these put a terminal's text inside the scratch folder before handing
// it on: a drive and leading separators are dropped, and "." and ".." are resolved by text here,
// so that no path climbs out. Relative paths count from the scratch folder too.

#include "FuzzPaths.h"
#include "TerminalPath.h"

#include <QStringList>

namespace platform {

QString confinedRoot;

bool unconfinedMapTerminalPath(const QString &text, QString &path);
bool unconfinedMapTerminalPattern(const QString &text, QString &folder, QString &nameFilter);

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool startsWithDrive(const QString &text)
{
    if (text.size() < 2 || text.at(1) != QLatin1Char(':'))
        return false;
    const ushort c = text.at(0).unicode();
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The text as a path inside the scratch folder; false for UNC names, which the real mapping
// refuses too.
bool confine(const QString &text, QString &confined)
{
    confined.clear();
    // Without its folder a fuzz program maps no path at all.
    if (confinedRoot.isEmpty())
        return false;
    if (text.size() >= 2 && isSeparator(text.at(0)) && isSeparator(text.at(1)))
        return false;
    QString rest = startsWithDrive(text) ? text.mid(2) : text;
    const bool trailing = !rest.isEmpty() && isSeparator(rest.at(rest.size() - 1));
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList parts;
    const QStringList given = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : given) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    confined = confinedRoot;
    if (!parts.isEmpty())
        confined += QLatin1Char('/') + parts.join(QLatin1Char('/'));
    if (trailing)
        confined += QLatin1Char('/');
    return true;
}

} // namespace

bool mapTerminalPath(const QString &text, QString &path)
{
    path.clear();
    if (text.isEmpty())
        return true;
    QString confined;
    return confine(text, confined) && unconfinedMapTerminalPath(confined, path);
}

bool mapTerminalPattern(const QString &text, QString &folder, QString &nameFilter)
{
    folder.clear();
    nameFilter.clear();
    int cut = -1;
    for (int i = text.size() - 1; i >= 0; --i) {
        if (isSeparator(text.at(i))) {
            cut = i + 1;
            break;
        }
    }
    if (cut < 0 && startsWithDrive(text))
        cut = 2;
    // Without a folder part the pattern searches the scratch folder.
    QString confined;
    if (!confine(cut < 0 ? QString() : text.left(cut), confined))
        return false;
    if (!confined.endsWith(QLatin1Char('/')))
        confined += QLatin1Char('/');
    return unconfinedMapTerminalPattern(confined + text.mid(qMax(cut, 0)), folder, nameFilter);
}

} // namespace platform
