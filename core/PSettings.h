#pragma once

#include <QReadWriteLock>
#include <QString>
#include <QtGlobal>

#include <functional>

class QDomElement;

// The fifteen values that configure the server, copied by value.
struct PSettings
{
    PSettings();

    bool operator==(const PSettings &other) const;
    bool operator!=(const PSettings &other) const { return !(*this == other); }

    void setDefaults();

    enum class LoadResult { Loaded, Missing, Unreadable, Invalid };
    // Reads a settings file into the record, field by field; Loaded when the file holds a
    // "Settings" element under a "VorelServer" root.
    LoadResult read(const QString &fileName);
    // The same for the bytes of a settings file: Loaded or Invalid.
    LoadResult parse(const QByteArray &bytes);
    bool load(const QString &fileName) { return read(fileName) == LoadResult::Loaded; }
    // Writes the record as a settings file. The old file is replaced only once every byte of the
    // new one is written; on false it is left as it was.
    bool save(const QString &fileName) const;
    // The exact bytes save() writes.
    QByteArray toXml() const;

    quint8 runAtStartup;
    quint8 runMinimized;
    quint8 minimizeToTray;
    quint8 createDebug;
    QString terminalCharset;
    QString tableCharset;
    qint32 networkPort;
    qint32 networkTimeout;
    qint32 tableDelimeter;
    quint8 networkEnable;
    quint8 bluetoothEnable;
    quint8 irdaNormalEnable;
    quint8 irdaIrcommEnable;
    quint8 casioN60Enable;
    QString language;
};

void readIntAttribute(const QDomElement &element, const QString &name, qint32 &value);
void readBoolAttribute(const QDomElement &element, const QString &name, quint8 &value);

// The one settings record of the program. Session threads read it while the setup dialog may
// replace it, so every access goes through a short lock: readers take a snapshot, the one
// writer stores a whole record. Readers see a new value the next time they look.
class PSharedSettings
{
public:
    PSettings snapshot() const;
    void store(const PSettings &value);

private:
    mutable QReadWriteLock lock;
    PSettings value;
};

extern PSharedSettings settings;

extern const char *const kSettingsFileName; // "VorelServer_settings.xml"

// Start-up: defaults, then the file; the defaults are written only when the file is missing or
// was read and is not a settings file. A file that exists but cannot be read (a folder in its
// place, no read right) is left alone, and `report` hears of it in one line for the operator.
// Before the defaults take the place of a file that is not a settings file (a hand edit's slip,
// a file cut short), the bytes that were read are kept beside as "VorelServer_settings.xml.bad",
// replacing an older one, and `report` hears of it in one line; when they cannot be kept, the
// file is left as it is and the program runs on the defaults.
void loadSettings(const QString &fileName = QString::fromLatin1(kSettingsFileName),
                  const std::function<void(const QString &)> &report = nullptr);
