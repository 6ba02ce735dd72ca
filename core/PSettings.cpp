#include "PSettings.h"

#include "PLanguages.h"
#include "Version.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

const char *const kSettingsFileName = "VorelServer_settings.xml";

PSharedSettings settings;

PSettings::PSettings()
    : runAtStartup(0), runMinimized(0), minimizeToTray(0), createDebug(0), networkPort(0),
      networkTimeout(0), tableDelimeter(0), networkEnable(0), bluetoothEnable(0),
      irdaNormalEnable(0), irdaIrcommEnable(0), casioN60Enable(0)
{
}

bool PSettings::operator==(const PSettings &o) const
{
    return runAtStartup == o.runAtStartup && runMinimized == o.runMinimized
        && minimizeToTray == o.minimizeToTray && createDebug == o.createDebug
        && terminalCharset == o.terminalCharset && tableCharset == o.tableCharset
        && networkPort == o.networkPort && networkTimeout == o.networkTimeout
        && tableDelimeter == o.tableDelimeter && networkEnable == o.networkEnable
        && bluetoothEnable == o.bluetoothEnable && irdaNormalEnable == o.irdaNormalEnable
        && irdaIrcommEnable == o.irdaIrcommEnable && casioN60Enable == o.casioN60Enable
        && language == o.language;
}

void PSettings::setDefaults()
{
    runAtStartup = 0;
    runMinimized = 0;
    minimizeToTray = 1;
    createDebug = 0;
    terminalCharset = QStringLiteral("CP1251");
    tableCharset = QStringLiteral("CP1251");
    networkPort = 2000;
    networkTimeout = 30;
    tableDelimeter = 59;
    networkEnable = 1;
    bluetoothEnable = 0;
    irdaNormalEnable = 0;
    irdaIrcommEnable = 0;
    casioN60Enable = 0;
    const QString system = systemLanguageName();
    language = languages.contains(system) ? system : QStringLiteral("English");
}

void readIntAttribute(const QDomElement &element, const QString &name, qint32 &value)
{
    bool ok = false;
    const int v = element.attribute(name).toInt(&ok, 10);
    value = ok ? v : 0;
}

void readBoolAttribute(const QDomElement &element, const QString &name, quint8 &value)
{
    bool ok = false;
    const int v = element.attribute(name).toInt(&ok, 10);
    value = (element.hasAttribute(name) && ok && v == 1) ? 1 : 0;
}

static void readTextAttribute(const QDomElement &element, const QString &name, QString &value)
{
    if (element.hasAttribute(name))
        value = element.attribute(name);
}

namespace {

// The whole file, or why it could not be read.
PSettings::LoadResult readFile(const QString &fileName, QByteArray &bytes, QString &error)
{
    QFile file(fileName);
    if (!file.exists())
        return PSettings::LoadResult::Missing;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return PSettings::LoadResult::Loaded;
    }
    error = file.errorString();
    return PSettings::LoadResult::Unreadable;
}

} // namespace

PSettings::LoadResult PSettings::read(const QString &fileName)
{
    QByteArray bytes;
    QString error;
    const LoadResult result = readFile(fileName, bytes, error);
    return result == LoadResult::Loaded ? parse(bytes) : result;
}

PSettings::LoadResult PSettings::parse(const QByteArray &bytes)
{
    QDomDocument doc;
    if (!doc.setContent(bytes, false))
        return LoadResult::Invalid;
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("VorelServer"))
        return LoadResult::Invalid;
    const QDomElement e = root.firstChildElement(QStringLiteral("Settings"));
    if (e.isNull())
        return LoadResult::Invalid;

    readBoolAttribute(e, QStringLiteral("runAtStartup"), runAtStartup);
    readBoolAttribute(e, QStringLiteral("runMinimized"), runMinimized);
    readBoolAttribute(e, QStringLiteral("minimizeToTray"), minimizeToTray);
    readBoolAttribute(e, QStringLiteral("createDebug"), createDebug);
    readTextAttribute(e, QStringLiteral("terminalCharset"), terminalCharset);
    readTextAttribute(e, QStringLiteral("tableCharset"), tableCharset);
    readIntAttribute(e, QStringLiteral("networkPort"), networkPort);
    readIntAttribute(e, QStringLiteral("networkTimeout"), networkTimeout);
    readIntAttribute(e, QStringLiteral("tableDelimeter"), tableDelimeter);
    readBoolAttribute(e, QStringLiteral("networkEnable"), networkEnable);
    readBoolAttribute(e, QStringLiteral("bluetoothEnable"), bluetoothEnable);
    readBoolAttribute(e, QStringLiteral("irdaNormalEnable"), irdaNormalEnable);
    readBoolAttribute(e, QStringLiteral("irdaIrcommEnable"), irdaIrcommEnable);
    readBoolAttribute(e, QStringLiteral("casioN60Enable"), casioN60Enable);
    readTextAttribute(e, QStringLiteral("language"), language);
    return LoadResult::Loaded;
}

namespace {

// Attribute text as the XML writer of the original program escaped it.
QString escapeAttribute(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '&': out += QLatin1String("&amp;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\n': out += QLatin1String("&#xa;"); break;
        case '\r': out += QLatin1String("&#xd;"); break;
        case '\t': out += QLatin1String("&#x9;"); break;
        default: out += c;
        }
    }
    return out;
}

void addFlag(QString &line, const char *name, quint8 v)
{
    line += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name), v == 1 ? QStringLiteral("1") : QStringLiteral("0"));
}

void addNumber(QString &line, const char *name, qint32 v)
{
    line += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name)).arg(v);
}

void addText(QString &line, const char *name, const QString &v)
{
    line += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name), escapeAttribute(v));
}

} // namespace

QByteArray PSettings::toXml() const
{
    // Written by hand: attributes must come in field order, which QDomDocument does not keep.
    QString s;
    s += QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    s += QStringLiteral("<VorelServer version=\"%1\">\n").arg(escapeAttribute(versionText));
    s += QLatin1String(" <Settings");
    addFlag(s, "runAtStartup", runAtStartup);
    addFlag(s, "runMinimized", runMinimized);
    addFlag(s, "minimizeToTray", minimizeToTray);
    addFlag(s, "createDebug", createDebug);
    addText(s, "terminalCharset", terminalCharset);
    addText(s, "tableCharset", tableCharset);
    addNumber(s, "networkPort", networkPort);
    addNumber(s, "networkTimeout", networkTimeout);
    addNumber(s, "tableDelimeter", tableDelimeter);
    addFlag(s, "networkEnable", networkEnable);
    addFlag(s, "bluetoothEnable", bluetoothEnable);
    addFlag(s, "irdaNormalEnable", irdaNormalEnable);
    addFlag(s, "irdaIrcommEnable", irdaIrcommEnable);
    addFlag(s, "casioN60Enable", casioN60Enable);
    addText(s, "language", language);
    s += QLatin1String("/>\n</VorelServer>\n");
    return s.toUtf8();
}

bool PSettings::save(const QString &fileName) const
{
    const QByteArray bytes = toXml();
    QSaveFile file(fileName);
    // A folder we may not create files in, but whose settings file we may rewrite.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

PSettings PSharedSettings::snapshot() const
{
    QReadLocker locker(&lock);
    return value;
}

void PSharedSettings::store(const PSettings &newValue)
{
    QWriteLocker locker(&lock);
    value = newValue;
}

namespace {

// The bytes judged damaged, at `copy`, written whole or not at all. Not the file read again:
// another copy of the program may have put its defaults there meanwhile.
bool keepCopy(const QByteArray &bytes, const QString &copy)
{
    QSaveFile kept(copy);
    return kept.open(QIODevice::WriteOnly) && kept.write(bytes) == bytes.size() && kept.commit();
}

} // namespace

void loadSettings(const QString &fileName, const std::function<void(const QString &)> &report)
{
    PSettings s;
    s.setDefaults();
    QByteArray bytes;
    QString error;
    PSettings::LoadResult result = readFile(fileName, bytes, error);
    if (result == PSettings::LoadResult::Loaded)
        result = s.parse(bytes);
    settings.store(s);
    if (result == PSettings::LoadResult::Unreadable && report)
        report(QStringLiteral("The settings file %1 cannot be read (%2); it is left as it is and the defaults "
                              "are used this run")
                   .arg(fileName, error));
    if (result == PSettings::LoadResult::Invalid) {
        const QString copy = fileName + QLatin1String(".bad");
        const bool kept = keepCopy(bytes, copy);
        if (report) {
            const QString text = kept
                ? QStringLiteral("The settings file %1 is not a valid settings file; it is kept beside "
                                 "it as %2 and the defaults are written in its place")
                : QStringLiteral("The settings file %1 is not a valid settings file and cannot be kept "
                                 "as %2; it is left as it is and the defaults are used this run");
            report(text.arg(fileName, QFileInfo(copy).fileName()));
        }
        if (!kept)
            return;
    }
    if (result == PSettings::LoadResult::Missing || result == PSettings::LoadResult::Invalid)
        s.save(fileName);
}
