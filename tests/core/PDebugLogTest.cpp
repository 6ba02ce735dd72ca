#include "PDebugLog.h"
#include "PlatformThread.h"
#include "TempDir.h"
#include "Version.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const QString kStamp = QStringLiteral("\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d");

QString threadHex()
{
    return QString::number(platform::currentThreadId(), 16).toUpper();
}

class DebugLog : public ::testing::Test
{
protected:
    void TearDown() override { versionText = QStringLiteral("2.04"); }
    TempDir dir;
    QString path = dir.file(QStringLiteral("VorelServer_debug.txt"));
};

} // namespace

TEST_F(DebugLog, LayoutOfBannerEntriesAndStop)
{
    PDebugLog log(path);
    ASSERT_TRUE(log.start());
    log.write(QStringLiteral("OpenFile (a.txt)\nresult = 1 handle = 1"));
    log.write(QString());
    log.stop();

    const QByteArray bytes = readAll(path);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QRegularExpression layout(
        QStringLiteral("^VorelServer version: 2\\.04 \\(x64\\) edition\n\n")
        + kStamp + QStringLiteral(" <<<Debug started>>>\n")
        + QStringLiteral("\n") + kStamp + QStringLiteral(" Session: ") + threadHex()
        + QStringLiteral("\nOpenFile \\(a\\.txt\\)\nresult = 1 handle = 1\n")
        + QStringLiteral("\n") + kStamp + QStringLiteral(" Session: ") + threadHex() + QStringLiteral("\n\n")
        + QStringLiteral("\n") + kStamp + QStringLiteral(" <<<Debug stopped>>>\n$"));
    EXPECT_TRUE(layout.match(QString::fromUtf8(bytes.mid(3))).hasMatch()) << bytes.constData();
}

TEST_F(DebugLog, ServiceBannerCarriesItsVersion)
{
    versionText = QStringLiteral("2.05");
    PDebugLog log(path);
    ASSERT_TRUE(log.start());
    EXPECT_TRUE(readAll(path).startsWith("\xEF\xBB\xBFVorelServer version: 2.05 (x64) edition\n\n"));
}

TEST_F(DebugLog, WritesOutsideStartAreDropped)
{
    PDebugLog log(path);
    log.write(QStringLiteral("before"));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(log.isStarted());
    ASSERT_TRUE(log.start());
    log.stop();
    const QByteArray stopped = readAll(path);
    log.write(QStringLiteral("after"));
    log.stop();
    EXPECT_EQ(readAll(path), stopped);
}

TEST_F(DebugLog, SecondStartKeepsTheFileAndRestartTruncates)
{
    PDebugLog log(path);
    ASSERT_TRUE(log.start());
    log.write(QStringLiteral("first"));
    const QByteArray once = readAll(path);
    EXPECT_TRUE(log.start());
    EXPECT_EQ(readAll(path), once);

    log.stop();
    ASSERT_TRUE(log.start());
    const QByteArray fresh = readAll(path);
    EXPECT_FALSE(fresh.contains("first"));
    EXPECT_EQ(fresh.count("\xEF\xBB\xBF"), 1);
    EXPECT_EQ(fresh.count("VorelServer version"), 1);
}

// Two copies of the server started from one folder: the second must not destroy the first's log.
TEST_F(DebugLog, ALogInUseIsLeftAloneWithOneLineUntilItsOwnerStops)
{
    PDebugLog first(path), second(path);
    QStringList said;
    second.report = [&said](const QString &text) { said << text; };
    ASSERT_TRUE(first.start());
    first.write(QStringLiteral("entry"));
    const QByteArray before = readAll(path);
    EXPECT_FALSE(second.start());
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(said, QStringList(QStringLiteral("The debug log %1 is in use by another running copy; "
                                               "no debug log is kept this run").arg(path)));
    first.stop();
    EXPECT_TRUE(second.start());
}

// A missing folder or a folder in the file's place stops even root; a read-only folder only
// other users. Each is said in one line, as a log in use is.
TEST_F(DebugLog, ALogThatCannotBeOpenedIsSaidOnceAndDropsItsEntries)
{
    const QString readOnly = dir.file(QStringLiteral("readonly"));
    ASSERT_TRUE(QDir().mkpath(path) && QDir().mkpath(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    const bool rootWrites = QFile(readOnly + QStringLiteral("/probe")).open(QIODevice::WriteOnly);
    for (const QString &where : {dir.file(QStringLiteral("missing/VorelServer_debug.txt")), path,
                                 readOnly + QStringLiteral("/VorelServer_debug.txt")}) {
        if (where.startsWith(readOnly) && rootWrites)
            continue;
        PDebugLog log(where);
        QStringList said;
        log.report = [&said](const QString &text) { said << text; };
        EXPECT_FALSE(log.start());
        EXPECT_FALSE(log.isStarted());
        log.write(QStringLiteral("dropped"));
        ASSERT_EQ(said.size(), 1) << where.toStdString();
        EXPECT_TRUE(said[0].startsWith(QStringLiteral("The debug log %1 cannot be opened (").arg(where)))
            << said[0].toStdString();
        EXPECT_TRUE(said[0].endsWith(QStringLiteral("); no debug log is kept this run")));
    }
    EXPECT_FALSE(QDir(dir.file(QStringLiteral("missing"))).exists());
    EXPECT_TRUE(QDir(path).isEmpty());
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(DebugLog, EightThreadsWriteWholeEntries)
{
    PDebugLog log(path);
    ASSERT_TRUE(log.start());
    constexpr int kThreads = 8;
    constexpr int kEntries = 300;
    std::vector<std::thread> threads;
    std::vector<QString> ids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ids[t] = threadHex();
            for (int i = 0; i < kEntries; ++i)
                log.write(QStringLiteral("thread %1 entry %2\nsecond line %1/%2").arg(t).arg(i));
        });
    }
    for (auto &th : threads)
        th.join();
    log.stop();

    const QString text = QString::fromUtf8(readAll(path).mid(3));
    const QRegularExpression entry(QStringLiteral("\n") + kStamp
                                   + QStringLiteral(" Session: ([0-9A-F]+)\nthread (\\d+) entry (\\d+)\nsecond line \\2/\\3\n"));
    QSet<QString> seen;
    int count = 0;
    auto it = entry.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        const int t = m.captured(2).toInt();
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(m.captured(1), ids[size_t(t)]) << "each entry carries its own writer's id";
        seen.insert(m.captured(2) + QLatin1Char('/') + m.captured(3));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kEntries);
    EXPECT_EQ(seen.size(), kThreads * kEntries);
}
