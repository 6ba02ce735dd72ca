#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QTranslator;

struct PLanguageEntry
{
    QString suffix;
    QString name;
    QLocale::Language language;
};

// The languages offered by the translation files of the working folder, and the one translator
// installed for the current language. Main thread only.
class PLanguages
{
public:
    PLanguages();
    ~PLanguages();
    PLanguages(const PLanguages &) = delete;
    PLanguages &operator=(const PLanguages &) = delete;

    void init();
    void scan();
    bool contains(const QString &name) const;
    QString suffix(const QString &name) const;
    QStringList names() const;
    QString currentLanguage() const { return current; }
    bool setLanguage(const QString &name);
    void deleteTranslator();
    const std::vector<PLanguageEntry> &list() const { return entries; }

private:
    std::vector<PLanguageEntry> entries;
    QString current;
    std::unique_ptr<QTranslator> translator;
};

extern PLanguages languages;

QString systemLanguageName();
