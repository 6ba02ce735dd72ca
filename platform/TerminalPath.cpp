#include "TerminalPath.h"

#include "TestSeams.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QVarLengthArray>

#include <algorithm>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace platform {

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

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// joinPath in place.
void appendName(QString &folder, const QStringRef &name)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    folder += name;
}

// The name under which `name` stands in `folder`: itself when that exists, else the one entry
// that equals it ignoring case. Two or more such entries are ambiguous and resolve to nothing,
// as does a folder that cannot be listed.
bool resolveComponent(const QString &folder, const QString &name, QString &resolved)
{
    const QFileInfo exact(joinPath(folder, name));
    if (exact.exists() || exact.isSymLink()) {
        resolved = name;
        return true;
    }
    const QStringList entries = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    int matches = 0;
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            resolved = entry;
            ++matches;
        }
    }
    return matches == 1;
}

// True when the path names an entry as it is spelt: then each of its components exists under
// its own name, and the whole path is what the look at each component would give. One system
// call for the common case instead of one per component.
bool existsAsSpelt(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    return !native.contains('\0') && ::lstat(native.constData(), &info) == 0;
}

} // namespace

bool mapTerminalPath(const QString &text, QString &path)
{
    path.clear();
    if (text.isEmpty())
        return true;
    if (text.size() >= 2 && isSeparator(text.at(0)) && isSeparator(text.at(1)))
        return false; // UNC names ("\\server\share", "\\?\...", "\\.\...") have no local meaning

    int from = 0;
    bool rooted = false;
    if (startsWithDrive(text)) {
        from = 2;
        rooted = true;
    }
    if (from < text.size() && isSeparator(text.at(from)))
        rooted = true;
    const bool trailing = from < text.size() && isSeparator(text.at(text.size() - 1));
    const QString confiningRoot = terminalRoot();

    // Windows resolves "." and ".." by text before it looks at the disk; so do we, so that
    // "C:\DATA\missing\..\A.TXT" still means "/DATA/A.TXT". The parts are pieces of the texts
    // they come from, so that a path that exists as spelt is mapped with two allocations, not
    // several per component.
    QVarLengthArray<QStringRef, 16> parts;
    // A confined terminal has no other place to start from than its root. The working folder is
    // a path of this machine: only '/' separates there, and its names are taken as they are.
    const QString workingFolder = !rooted && confiningRoot.isEmpty() ? QDir::currentPath() : QString();
    for (const QStringRef &name : workingFolder.splitRef(QLatin1Char('/'), Qt::SkipEmptyParts))
        parts.append(name);
    for (int at = from; at < text.size();) {
        int end = at;
        while (end < text.size() && !isSeparator(text.at(end)))
            ++end;
        const QStringRef part = text.midRef(at, end - at);
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (!part.isEmpty() && part != QLatin1String(".")) {
            parts.append(part);
        }
        at = end + 1;
    }

    const QString root = confiningRoot.isEmpty() ? QStringLiteral("/") : confiningRoot;
    int length = root.size() + 1;
    for (const QStringRef &part : qAsConst(parts))
        length += part.size() + 1;
    QString result;
    result.reserve(length);
    result += root;
    for (const QStringRef &part : qAsConst(parts))
        appendName(result, part);
    if (parts.isEmpty() || existsAsSpelt(result)) {
        if (trailing && !result.endsWith(QLatin1Char('/')))
            result += QLatin1Char('/');
        path = result;
        return true;
    }
    result = root;
    bool parentExists = true;
    for (const QStringRef &part : qAsConst(parts)) {
        const QString spelt = part.toString();
        QString name = spelt;
        if (parentExists)
            parentExists = resolveComponent(result, spelt, name);
        if (!parentExists)
            name = spelt;
        result = joinPath(result, name);
    }
    if (trailing && !result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    path = result;
    return true;
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
    if (cut < 0) {
        const QString root = terminalRoot();
        folder = root.isEmpty() ? QDir::currentPath() : root;
        nameFilter = text;
        return true;
    }
    if (!mapTerminalPath(text.left(cut), folder))
        return false;
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    nameFilter = text.mid(cut);
    return true;
}

bool matchesTerminalPattern(const QString &name, const QString &filter)
{
    const QString n = name.toCaseFolded();
    const QString p = filter.toCaseFolded();
    int i = 0;
    int j = 0;
    int star = -1;
    int mark = 0;
    while (i < n.size()) {
        if (j < p.size() && (p.at(j) == QLatin1Char('?') || p.at(j) == n.at(i))) {
            ++i;
            ++j;
        } else if (j < p.size() && p.at(j) == QLatin1Char('*')) {
            star = j++;
            mark = i;
        } else if (star >= 0) {
            // let the last '*' swallow one more character and try again from there
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < p.size() && p.at(j) == QLatin1Char('*'))
        ++j;
    return j == p.size();
}

QStringList listTerminalFolder(const QString &folder, const QString &filter, EntryKind kind,
                               const std::function<bool(const QString &)> &keep)
{
    const QDir::Filters filters =
        (kind == EntryKind::Dirs ? QDir::Dirs : QDir::Files) | QDir::NoDotAndDotDot;
    QStringList names;
    // One entry at a time: the names that do not match are never all held at once.
    QDirIterator entries(folder, filters);
    while (entries.hasNext()) {
        entries.next();
        const QString entry = entries.fileName();
        if (!matchesTerminalPattern(entry, filter))
            continue;
        if (keep && !keep(entry))
            break;
        names.append(entry);
    }
    // The upper-case form decides; two names that differ only in case (possible here, not on
    // Windows) keep a fixed order between them. Each form is made once, not at every comparison.
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(size_t(names.size()));
    for (const QString &name : qAsConst(names))
        keyed.emplace_back(name.toUpper(), name);
    names.clear();
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) {
        const int byUpper = QString::compare(a.first, b.first, Qt::CaseSensitive);
        return byUpper != 0 ? byUpper < 0 : QString::compare(a.second, b.second, Qt::CaseSensitive) < 0;
    });
    names.reserve(int(keyed.size()));
    for (const auto &entry : keyed)
        names.append(entry.second);
    return names;
}

QString tableFilePath(const QString &table, const char *extension)
{
    const QString exact = table + QLatin1String(extension);
    const int slash = exact.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : (slash == 0 ? QStringLiteral("/") : exact.left(slash));
    QString resolved;
    if (!resolveComponent(folder, exact.mid(slash + 1), resolved))
        return exact;
    return slash < 0 ? resolved : exact.left(slash + 1) + resolved;
}

} // namespace platform
