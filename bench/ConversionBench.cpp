// Conversions: a delimited CP1251 text file into an SQL table, against the sqlite3 shell's
// .import of the same file into a table of the same columns, in the same run; and the text file
// into a V4 table and that table back into text, in lines per second, beside the rates they had
// when they wrote and read one record at a time.

#include "BenchGroups.h"
#include "BenchOptions.h"
#include "BenchReport.h"
#include "Helpers.h"
#include "PSettings.h"
#include "PSqlBase.h"
#include "PSqlList.h"
#include "PSqlTable.h"
#include "PTableV4.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCodec>

#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kShellWaitMs = 600000;

// The columns of every table here, in the order of the text file's fields.
const char *const kColumns[] = {"Code", "Name", "Price", "Quantity", "Barcode"};
constexpr int kColumnCount = 5;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Lines as a terminal application's stock list has them: a code, a Cyrillic name, a price with
// a decimal point, a quantity with a decimal comma, a barcode; ";" between them.
bool writeTextFile(const QString &path, int lines)
{
    QTextCodec *codec = QTextCodec::codecForName("CP1251");
    QFile file(path);
    if (!codec || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QStringList words = {QStringLiteral("Молоко"), QStringLiteral("Хлеб ржаной"),  QStringLiteral("Сыр"),
                               QStringLiteral("Масло"),  QStringLiteral("Чай чёрный"),   QStringLiteral("Сахар"),
                               QStringLiteral("Кофе"),   QStringLiteral("Яблоки"),       QStringLiteral("Вода №2")};
    QVector<QByteArray> names;
    for (const QString &word : words)
        names.append(codec->fromUnicode(word));
    QByteArray chunk;
    char line[160];
    for (int i = 0; i < lines; ++i) {
        const QByteArray &name = names[i % names.size()];
        const int n = std::snprintf(line, sizeof line, "%06d;%s %d;%d.%02d;%d,%d;46%011d\n", i, name.constData(),
                                    i % 1000, 10 + i % 990, i % 100, i % 50, i % 10, i);
        chunk.append(line, n);
        if (chunk.size() > (1 << 20)) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size() && file.flush();
}

// Through the engine's own wrapper: SQLite is then set up in this process as it is in the
// server, where a base's open is always its first use.
bool execSql(const QString &database, const QString &sql)
{
    PSqlBase base;
    return base.open(database) && base.exec(sql) && base.close();
}

qint64 countRows(const QString &database, const QString &table)
{
    PSqlBase base;
    PSqlTable counted;
    if (!base.open(database))
        return -1;
    counted.attach(base, table);
    const qint64 count = counted.exists() ? counted.recordCount : -1;
    base.close();
    return count;
}

QString columnList(bool withKey)
{
    QStringList columns;
    if (withKey)
        columns << QStringLiteral("N INTEGER PRIMARY KEY AUTOINCREMENT");
    for (const char *name : kColumns)
        columns << QLatin1String(name) + QStringLiteral(" TEXT");
    return columns.join(QStringLiteral(", "));
}

// The engine: the conversion a terminal asks for with ConvertSqlTableTextToBin, on a base it
// opened, into a table that exists (the key column N first, as the engine's tables have it).
bool engineToSql(const QString &folder, const QString &text, int lines, double &seconds, QString &error)
{
    const QString database = QDir(folder).filePath(QStringLiteral("engine.db"));
    QFile::remove(database);
    if (!execSql(database, QStringLiteral("CREATE TABLE Goods(%1)").arg(columnList(true)))) {
        error = QStringLiteral("cannot create ") + database;
        return false;
    }
    PSqlList list;
    qint32 handle = 0;
    if (!list.openSqlBase(database, handle)) {
        error = QStringLiteral("cannot open ") + database;
        return false;
    }
    const auto start = Clock::now();
    const bool ok = list.convertSqlTableTextToBin(QStringLiteral("Goods"), text);
    seconds = secondsSince(start);
    list.closeAll();
    const qint64 rows = countRows(database, QStringLiteral("Goods"));
    if (!ok || rows != lines)
        error = QStringLiteral("the conversion answered %1 and stored %2 rows").arg(ok).arg(rows);
    QFile::remove(database);
    return error.isEmpty();
}

// The reference: the sqlite3 shell's .import of the same file into a table of the same columns.
bool shellImport(const QString &folder, const QString &text, int lines, double &seconds, QString &error)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    const QString database = QDir(folder).filePath(QStringLiteral("shell.db"));
    QFile::remove(database);
    if (shell.isEmpty()) {
        error = QStringLiteral("no sqlite3 shell (Debian package sqlite3)");
        return false;
    }
    if (!execSql(database, QStringLiteral("CREATE TABLE Goods(%1)").arg(columnList(false)))) {
        error = QStringLiteral("cannot create ") + database;
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const auto start = Clock::now();
    process.start(shell, {QStringLiteral("-batch"), database});
    process.write(QByteArray(".separator ;\n.import '") + QFile::encodeName(text) + "' Goods\n.quit\n");
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(kShellWaitMs);
    seconds = secondsSince(start);
    const QByteArray output = process.readAll().trimmed();
    const qint64 rows = countRows(database, QStringLiteral("Goods"));
    if (!finished || process.exitCode() != 0 || rows != lines)
        error = QStringLiteral("the shell stored %1 rows: %2").arg(rows).arg(QString::fromLocal8Bit(output.left(200)));
    QFile::remove(database);
    return error.isEmpty();
}

// An empty V4 table of the five fields: text, text, decimal, integer (2 decimals), text, each
// imported and exported.
bool createTableV4(const QString &name)
{
    const quint8 kinds[kColumnCount] = {1, 1, 2, 3, 1};
    QByteArray header(20, '\0');
    std::memcpy(header.data(), "PLDB", 4);
    writeUInt32BE(header.data() + 4, 100);
    writeUInt32BE(header.data() + 8, 20 + 25 * kColumnCount);
    writeUInt32BE(header.data() + 12, kColumnCount);
    for (int i = 0; i < kColumnCount; ++i) {
        QByteArray descriptor(25, '\0');
        std::strncpy(descriptor.data(), kColumns[i], 20);
        descriptor[21] = char(kinds[i]);
        descriptor[22] = char(kinds[i] == 3 ? 2 : 0);
        descriptor[23] = 1;
        descriptor[24] = 1;
        header.append(descriptor);
    }
    QFile bin(name + QStringLiteral(".bin"));
    QFile ind(name + QStringLiteral(".ind"));
    return bin.open(QIODevice::WriteOnly | QIODevice::Truncate) && bin.write(header) == header.size()
        && ind.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

qint64 countLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 lines = 0;
    QByteArray chunk;
    while (!(chunk = file.read(1 << 20)).isEmpty())
        lines += chunk.count('\n');
    return lines;
}

BenchReport::Figure rate(const QString &name, int lines, double seconds)
{
    BenchReport::Figure figure;
    figure.name = name;
    figure.engine = lines / seconds;
    figure.unit = QStringLiteral("lines/s");
    return figure;
}

// The V4 conversions' rates on the bench's machine while they wrote and read their files one
// record at a time (a size asked, a seek and a write for each record and each index entry, and
// again going out): the best of nine runs. Today's rates stand beside them.
constexpr double kTextToV4RecordByRecord = 76000;
constexpr double kV4ToTextRecordByRecord = 87000;

BenchReport::Figure rateBeside(BenchReport::Figure figure, double recordByRecord)
{
    figure.reference = recordByRecord;
    figure.referenceName = QStringLiteral("record by record, earlier");
    figure.goal = BenchReport::Goal::AtLeast;
    figure.goalRatio = 4;
    return figure;
}

} // namespace

void runConversions(const BenchOptions &options, const QString &folder, BenchReport &report)
{
    PSettings chosen;
    chosen.setDefaults();
    chosen.tableCharset = QStringLiteral("CP1251");
    chosen.terminalCharset = QStringLiteral("CP1251");
    chosen.tableDelimeter = ';';
    settings.store(chosen);

    const int lines = options.lines;
    const QString text = QDir(folder).filePath(QStringLiteral("goods.txt"));
    const QString sqlName = QStringLiteral("Conversion, text -> SQL table, %1 lines").arg(lines);
    const QString toV4Name = QStringLiteral("Conversion, text -> V4 table, %1 lines").arg(lines);
    const QString fromV4Name = QStringLiteral("Conversion, V4 table -> text, %1 lines").arg(lines);
    if (!writeTextFile(text, lines)) {
        for (const QString &name : {sqlName, toV4Name, fromV4Name})
            report.fail(name, QStringLiteral("cannot write ") + text);
        return;
    }

    // The shell and the engine take turns; each keeps its fastest.
    double engineSeconds = 0, shellSeconds = 0;
    QString error;
    for (int round = 0; round < options.rounds && error.isEmpty(); ++round) {
        double engineTurn = 0, shellTurn = 0;
        if (!shellImport(folder, text, lines, shellTurn, error) || !engineToSql(folder, text, lines, engineTurn, error))
            break;
        shellSeconds = round == 0 ? shellTurn : qMin(shellSeconds, shellTurn);
        engineSeconds = round == 0 ? engineTurn : qMin(engineSeconds, engineTurn);
    }
    if (error.isEmpty()) {
        BenchReport::Figure figure;
        figure.name = sqlName;
        figure.engine = engineSeconds;
        figure.reference = shellSeconds;
        figure.unit = QStringLiteral("s");
        figure.referenceName = QStringLiteral("sqlite3 shell .import");
        figure.goal = BenchReport::Goal::AtMost;
        figure.goalRatio = 4;
        report.add(figure);
        report.add(rate(sqlName + QStringLiteral(", engine rate"), lines, engineSeconds));
    } else {
        report.fail(sqlName, error);
    }

    // Each turn fills a new table and writes it out again; each direction keeps its fastest.
    const QString table = QDir(folder).filePath(QStringLiteral("GOODS4"));
    const QString back = QDir(folder).filePath(QStringLiteral("goods-back.txt"));
    PSqlList list;
    double toV4Seconds = 0, fromV4Seconds = 0;
    QString toV4Error, fromV4Error;
    for (int round = 0; round < options.rounds && toV4Error.isEmpty() && fromV4Error.isEmpty(); ++round) {
        if (!createTableV4(table)) {
            toV4Error = fromV4Error = QStringLiteral("cannot create the V4 table ") + table;
            break;
        }
        auto start = Clock::now();
        const bool toV4 = list.convertTableTextToBin(text, table);
        const double toV4Turn = secondsSince(start);
        PTableV4 check;
        const qint64 records =
            check.open(table, PTableV4::fileNames(table), nullptr, {}, TableUse::Read) ? check.recordCount : -1;
        check.close();
        if (!toV4 || records != lines)
            toV4Error = QStringLiteral("the conversion answered %1 with %2 records").arg(toV4).arg(records);

        start = Clock::now();
        const bool fromV4 = list.convertTableBinToText(table, back);
        const double fromV4Turn = secondsSince(start);
        const qint64 written = countLines(back);
        if (!fromV4 || written != lines)
            fromV4Error = QStringLiteral("the conversion answered %1 with %2 lines").arg(fromV4).arg(written);
        toV4Seconds = round == 0 ? toV4Turn : qMin(toV4Seconds, toV4Turn);
        fromV4Seconds = round == 0 ? fromV4Turn : qMin(fromV4Seconds, fromV4Turn);
    }
    if (toV4Error.isEmpty())
        report.add(rateBeside(rate(toV4Name, lines, toV4Seconds), kTextToV4RecordByRecord));
    else
        report.fail(toV4Name, toV4Error);
    if (fromV4Error.isEmpty())
        report.add(rateBeside(rate(fromV4Name, lines, fromV4Seconds), kV4ToTextRecordByRecord));
    else
        report.fail(fromV4Name, fromV4Error);
    for (const QString &path : {text, back, table + QStringLiteral(".bin"), table + QStringLiteral(".ind")})
        QFile::remove(path);
}
