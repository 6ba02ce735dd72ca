#include "PLanguages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTranslator>

PLanguages languages;

namespace {
const QString kPrefix = QStringLiteral("vorelserver_");
}

PLanguages::PLanguages()
{
    init();
}

PLanguages::~PLanguages()
{
    // The application object may be gone at static destruction; then nothing is installed.
    if (translator && QCoreApplication::instance())
        QCoreApplication::removeTranslator(translator.get());
}

void PLanguages::init()
{
    entries.clear();
    current = QStringLiteral("English");
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
}

void PLanguages::scan()
{
    init();
    entries.push_back({QStringLiteral("en"), QStringLiteral("English"), QLocale::English});

    QDir dir(QString{});
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.qm")}, QDir::Files, QDir::Unsorted);
    for (const QFileInfo &info : files) {
        const QString base = info.baseName();
        if (!base.contains(kPrefix))
            continue;
        QString code = base;
        code.remove(kPrefix);
        const QLocale::Language language = QLocale(code).language();
        entries.push_back({code, QLocale::languageToString(language), language});
    }
}

bool PLanguages::contains(const QString &name) const
{
    for (const PLanguageEntry &e : entries)
        if (e.name == name)
            return true;
    return false;
}

QString PLanguages::suffix(const QString &name) const
{
    for (const PLanguageEntry &e : entries)
        if (e.name == name)
            return e.suffix;
    return QString();
}

QStringList PLanguages::names() const
{
    QStringList out;
    for (const PLanguageEntry &e : entries)
        out << e.name;
    return out;
}

void PLanguages::deleteTranslator()
{
    translator.reset();
}

bool PLanguages::setLanguage(const QString &name)
{
    if (name == current)
        return true;
    if (!contains(name))
        return false;
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
    current = name;
    if (name == QLatin1String("English"))
        return true;
    translator = std::make_unique<QTranslator>();
    if (translator->load(kPrefix + suffix(name) + QLatin1String(".qm"))
        && QCoreApplication::installTranslator(translator.get()))
        return true;
    deleteTranslator();
    return false;
}

QString systemLanguageName()
{
    return QLocale::languageToString(QLocale::system().language());
}
