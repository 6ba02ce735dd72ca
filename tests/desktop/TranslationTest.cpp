#include "TempDir.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <ostream>

namespace {

const QString kTranslation = QStringLiteral(SOURCE_DIR "/desktop/translations/vorelserver_de.ts");

// What lupdate leaves in a translation source after merging the texts of the program's code: one
// line per message that has no finished translation ("unfinished", also for a text the source did
// not have yet), whose text is gone from the code ("vanished"), or whose translation is empty.
// lupdate works on a copy in `scratch`, so the source itself is never touched. A failure to run
// lupdate is a gap too, so that the check cannot pass by doing nothing.
QStringList translationGaps(const QString &source, const QString &scratch)
{
    const QString copy = QDir(scratch).filePath(QStringLiteral("check.ts"));
    QFile::remove(copy);
    if (!QFile::copy(source, copy))
        return {QStringLiteral("cannot copy %1").arg(source)};
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

    // The flags of the desktop_lupdate target, apart from -no-obsolete: texts that left the code
    // must stay in the copy to be seen.
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(SOURCE_DIR));
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-target-language"),
                     QStringLiteral("de")};
    args << QStringLiteral(TRANSLATED_FOLDERS).split(QLatin1Char(' ')) << QStringLiteral("-ts") << copy;
    lupdate.start(QStringLiteral(LUPDATE), args);
    if (!lupdate.waitForFinished(60000) || lupdate.exitStatus() != QProcess::NormalExit || lupdate.exitCode() != 0)
        return {QStringLiteral("lupdate failed: ") + QString::fromLocal8Bit(lupdate.readAll())};

    QFile file(copy);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot read %1").arg(copy)};
    QStringList gaps;
    QXmlStreamReader xml(&file);
    QString context;
    QString text;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            text = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            const QString translated = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            const QString where = context + QLatin1String(" \"") + text + QLatin1String("\": ");
            if (!type.isEmpty())
                gaps << where + type;
            else if (translated.trimmed().isEmpty())
                gaps << where + QLatin1String("empty");
        }
    }
    if (xml.hasError())
        gaps << QStringLiteral("%1: %2").arg(copy, xml.errorString());
    return gaps;
}

TEST(Translation, EveryTextOfTheCodeHasAFinishedGermanEntry)
{
    TempDir scratch;
    const QStringList gaps = translationGaps(kTranslation, scratch.path());
    EXPECT_TRUE(gaps.isEmpty()) << "run `cmake --build build --target desktop_lupdate`, translate, then check:\n"
                                << gaps.join(QLatin1Char('\n')).toStdString();
}

// ---- The check itself: a translation source spoilt in one place ------------------------------

enum class Spoil { Remove, MarkUnfinished, Empty, Rename };

struct SpoilRow
{
    const char *name;
    const char *context;
    const char *text;
    Spoil spoil;
    const char *gaps; // what the check must report, in character order
};

void PrintTo(const SpoilRow &row, std::ostream *out)
{
    *out << row.name;
}

class SpoiltTranslation : public ::testing::TestWithParam<SpoilRow>
{
protected:
    // Writes the source to `to` with the message `text` of `context` spoilt as asked.
    static bool write(const QString &to, const SpoilRow &row)
    {
        QFile in(kTranslation);
        QDomDocument doc;
        if (!in.open(QIODevice::ReadOnly) || !doc.setContent(&in))
            return false;
        const QString tag = QStringLiteral("message");
        for (QDomElement c = doc.documentElement().firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            if (c.firstChildElement(QStringLiteral("name")).text() != QString::fromUtf8(row.context))
                continue;
            for (QDomElement m = c.firstChildElement(tag); !m.isNull(); m = m.nextSiblingElement(tag)) {
                if (m.firstChildElement(QStringLiteral("source")).text() != QString::fromUtf8(row.text))
                    continue;
                QDomElement translation = m.firstChildElement(QStringLiteral("translation"));
                switch (row.spoil) {
                case Spoil::Remove:
                    c.removeChild(m);
                    break;
                case Spoil::MarkUnfinished:
                    translation.setAttribute(QStringLiteral("type"), QStringLiteral("unfinished"));
                    break;
                case Spoil::Empty:
                    translation.removeChild(translation.firstChild());
                    break;
                case Spoil::Rename:
                    m.firstChildElement(QStringLiteral("source")).firstChild().setNodeValue(QStringLiteral("Gone"));
                    break;
                }
                return writeAll(to, doc.toByteArray());
            }
        }
        return false;
    }

    TempDir scratch;
};

TEST_P(SpoiltTranslation, IsReported)
{
    const SpoilRow &row = GetParam();
    const QString spoilt = scratch.file(QStringLiteral("vorelserver_de.ts"));
    ASSERT_TRUE(write(spoilt, row));
    QStringList gaps = translationGaps(spoilt, scratch.path());
    gaps.sort();
    EXPECT_EQ(gaps.join(QLatin1Char('\n')).toStdString(), row.gaps);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SpoiltTranslation,
    ::testing::Values(
        SpoilRow{"Missing", "PSession", "Waiting port", Spoil::Remove, "PSession \"Waiting port\": unfinished"},
        SpoilRow{"MissingFromAForm", "SetupDialog", "Infrared/USB", Spoil::Remove,
                 "SetupDialog \"Infrared/USB\": unfinished"},
        SpoilRow{"Unfinished", "PSerialServer", "Usb HA-N60/62 (%1)", Spoil::MarkUnfinished,
                 "PSerialServer \"Usb HA-N60/62 (%1)\": unfinished"},
        SpoilRow{"Empty", "VorelServer", "Stop the server?", Spoil::Empty, "VorelServer \"Stop the server?\": empty"},
        SpoilRow{"Vanished", "PActions", "Hide", Spoil::Rename,
                 "PActions \"Gone\": vanished\nPActions \"Hide\": unfinished"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
