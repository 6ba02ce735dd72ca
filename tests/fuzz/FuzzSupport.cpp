#include "FuzzSupport.h"

#include "PDebugLog.h"
#include "PSettings.h"
#include "TerminalPath.h"
#include "TestSeams.h"
#include "Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzz {
namespace {

// Made before anything else of the program, so that the debug log can be placed in it, and
// removed after everything else (without Qt, whose globals may be gone by then).
struct ScratchFolder
{
    ScratchFolder()
    {
        QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vorel-fuzz-XXXXXX"));
        if (!mkdtemp(pattern.data())) {
            std::perror("fuzz: mkdtemp");
            std::abort();
        }
        native = pattern.toStdString();
        path = QFile::decodeName(pattern);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(native, ignored);
    }
    std::string native;
    QString path;
};

const ScratchFolder folder;
const QString &scratch = folder.path;

} // namespace
} // namespace fuzz

// The per-program globals; the log file sits in the scratch folder.
QString versionText = QStringLiteral("2.04");
PDebugLog debugLog(fuzz::scratchFile(QStringLiteral("VorelServer_debug.txt")));

namespace fuzz {

const QByteArray kSeparator("#|#");

namespace {

QByteArray sqlBaseBytes;

// An SQL base with the table the SQL conversion fills, made once: each input gets a copy of it.
QByteArray makeSqlBase()
{
    const QString path = scratchFile(QStringLiteral("template.db"));
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return QByteArray();
    }
    sqlite3_exec(db,
                 "CREATE TABLE GOODS(N INTEGER PRIMARY KEY AUTOINCREMENT, NAME TEXT, PRICE TEXT, WEIGHT TEXT);"
                 "INSERT INTO GOODS(NAME, PRICE, WEIGHT) VALUES ('apple', '2.50', '0.2');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    file.close();
    QFile::remove(path);
    return bytes;
}

// Qt's warnings about what a fuzz input asks for (codecs that cannot be loaded, reads past an
// end) would drown libFuzzer's own report; more serious messages still go out.
void quietWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    std::fprintf(stderr, "%s (%s:%d)\n", qPrintable(text), context.file ? context.file : "?", context.line);
}

// Whatever a terminal asks, no program starts here: ExecuteCommand always fails.
bool refuseProgram(const QString &, const QString &, bool, qint32 &exitCode)
{
    exitCode = 0;
    return false;
}

} // namespace

void initialize(int *argc, char ***argv)
{
    qInstallMessageHandler(quietWarnings);
    // Never destroyed: at exit Qt's own globals may be gone before it.
    new QCoreApplication(*argc, *argv);
    PSettings defaults;
    defaults.setDefaults();
    settings.store(defaults);
    // Every table file here exists and is ours: a refused open must not sleep ten seconds.
    platform::setTableOpenRetryDelayForTesting(0);

    // A terminal names any file of the PC and any program; a fuzzer must reach neither.
    platform::setTerminalRootForTesting(scratch);
    platform::setProgramRunnerForTesting(refuseProgram);
    sqlBaseBytes = makeSqlBase();
    check(!sqlBaseBytes.isEmpty(), "the SQL base fixture could be made");
}

QString scratchFile(const QString &name)
{
    return scratch + QLatin1Char('/') + name;
}

void emptyScratch()
{
    debugLog.stop();
    QDir dir(scratch);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const QString path = dir.filePath(entry);
        // Whatever a terminal made: files, folders, files without write permission.
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!QFile::remove(path))
            QDir(path).removeRecursively();
    }
    debugLog.start();
}

void resetScratchWithFixtures()
{
    emptyScratch();
    QByteArray bin, ind;
    goodsTable(bin, ind);
    const bool written = writeFile(QStringLiteral("DATA.TXT"), "HELLO WORLD\r\nSECOND LINE\r\n")
        && writeFile(QStringLiteral("LINES.TXT"), linesText())
        && writeFile(QStringLiteral("GOODS.bin"), bin) && writeFile(QStringLiteral("GOODS.ind"), ind)
        && writeFile(QStringLiteral("ITEMS.hdr"), itemsLayout())
        && writeFile(QStringLiteral("ITEMS.bin"), itemsRecords())
        && writeFile(QStringLiteral("BASE.DB"), sqlBaseBytes) && QDir(scratch).mkdir(QStringLiteral("SUB"))
        && writeFile(QStringLiteral("SUB/INNER.TXT"), "inner");
    check(written, "the fixtures could be written");
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(scratchFile(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = file.write(bytes) == bytes.size();
    file.close();
    return ok;
}

std::vector<QByteArray> splitInput(const std::uint8_t *data, std::size_t size, std::size_t maxParts)
{
    std::vector<QByteArray> parts;
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    int from = 0;
    while (parts.size() + 1 < maxParts) {
        const int at = input.indexOf(kSeparator, from);
        if (at < 0)
            break;
        parts.emplace_back(input.constData() + from, at - from);
        from = at + kSeparator.size();
    }
    parts.emplace_back(input.constData() + from, input.size() - from);
    return parts;
}

void check(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    std::abort();
}

QByteArray wordBE(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

QByteArray v4Header(const std::vector<V4Field> &fields, quint32 word2, quint32 word5)
{
    QByteArray header("PLDB");
    header += wordBE(word2);
    header += wordBE(quint32(20 + 25 * fields.size()));
    header += wordBE(quint32(fields.size()));
    header += wordBE(word5);
    for (const V4Field &field : fields) {
        QByteArray descriptor(21, '\0');
        descriptor.append(char(field.kind));
        descriptor.append(char(field.decimals));
        descriptor.append(char(field.exportFlag));
        descriptor.append(char(field.importFlag));
        header += descriptor;
    }
    return header;
}

void v4Table(const std::vector<V4Field> &fields, const std::vector<QByteArray> &records, QByteArray &bin,
             QByteArray &ind)
{
    bin = v4Header(fields);
    ind.clear();
    for (const QByteArray &record : records) {
        ind += wordBE(quint32(bin.size()));
        ind += wordBE(quint32(record.size()));
        bin += record;
    }
}

void goodsTable(QByteArray &bin, QByteArray &ind)
{
    // 12.50 as hundredths (00 00 04 E2); 0.5 as a decimal of whole 0 and nine fraction digits.
    const QByteArray apple = QByteArray("apple", 6) + wordBE(1250) + wordBE(0) + wordBE(500000000);
    const QByteArray pear = QByteArray("pear", 5) + wordBE(300) + wordBE(1) + wordBE(250000000);
    v4Table({{1, 0, 1, 1}, {3, 2, 1, 1}, {2, 0, 1, 1}}, {apple, pear}, bin, ind);
}

QByteArray itemsLayout()
{
    // Three fields: text of 10 bytes, a number with 2 decimals, a number without.
    const char layout[] = {3, 1, 10, 0, 0, 2, 2, 0, 0, 3, 0, 0, 0};
    return QByteArray(layout, int(sizeof layout));
}

QByteArray itemsRecords()
{
    return QByteArray("apple     ") + wordBE(250) + wordBE(7) + QByteArray("pear      ") + wordBE(300) + wordBE(2);
}

QByteArray linesText()
{
    return "apple;2.50;0.2\r\npear;3;1,25\r\nplum;0,75;12.5\r\n";
}

} // namespace fuzz
