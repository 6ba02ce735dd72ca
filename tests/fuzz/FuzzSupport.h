#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// What the fuzz targets share: a scratch folder that every terminal path leads into, the
// table and text files a terminal finds there, the split of one input into parts, and the check
// that turns a broken property into a crash libFuzzer keeps.
namespace fuzz {

// Parts of one input (requests, files, operands) are separated by these bytes.
extern const QByteArray kSeparator;

// Once per process: the application object, the default settings, table opens that do not wait,
// the scratch folder as the place of every terminal path (removed again at exit), and no program
// started for ExecuteCommand.
void initialize(int *argc, char ***argv);

// A file of the scratch folder.
QString scratchFile(const QString &name);

// Empties the scratch folder and restarts the debug log in it.
void emptyScratch();
// emptyScratch, then the files a terminal works on: a text file, a delimited text table, a V4 and
// a V3 table, an SQL base with a table, and a folder with a file.
void resetScratchWithFixtures();

// Writes a file of the scratch folder; false when not every byte was written.
bool writeFile(const QString &name, const QByteArray &bytes);

// At most maxParts parts; the last one takes the rest of the input.
std::vector<QByteArray> splitInput(const std::uint8_t *data, std::size_t size, std::size_t maxParts);

// A property that must hold whatever the input: when it does not, the process aborts with the
// message, and libFuzzer saves the input.
void check(bool condition, const char *what);

// The fixtures, also used to write the seed corpora.
struct V4Field
{
    quint8 kind;
    quint8 decimals;
    quint8 exportFlag;
    quint8 importFlag;
};
QByteArray v4Header(const std::vector<V4Field> &fields, quint32 word2 = 100, quint32 word5 = 0);
// The data file (header and records) and its index for the records given as raw bytes.
void v4Table(const std::vector<V4Field> &fields, const std::vector<QByteArray> &records, QByteArray &bin,
             QByteArray &ind);
QByteArray wordBE(quint32 value);

// The sample tables: GOODS (V4: name, price as hundredths with 2 decimals, weight as decimal),
// ITEMS (V3: name of 10 bytes, price with 2 decimals, count).
void goodsTable(QByteArray &bin, QByteArray &ind);
QByteArray itemsLayout();
QByteArray itemsRecords();
QByteArray linesText();

} // namespace fuzz
