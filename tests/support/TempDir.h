#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A fresh temporary folder for one test; optionally the working folder while it lives.
class TempDir
{
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    QString path() const { return dir.path(); }
    QString file(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);
