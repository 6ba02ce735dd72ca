#include "PTableV4.h"

#include "Helpers.h"
#include "PDecimal.h"
#include "PRow.h"
#include "TableFileIO.h"
#include "TerminalPath.h"

#include <QTextCodec>

#include <cstring>

namespace {

constexpr int kHeaderWords = 5;
constexpr int kFixedHeaderSize = 4 * kHeaderWords;
constexpr int kDescriptorSize = 25;
constexpr int kIndexEntrySize = 8;
constexpr quint32 kMagic = 0x504C4442; // "PLDB"
constexpr quint32 kMinWord2 = 100;
constexpr quint8 kDecimalKind = 2;
constexpr quint8 kIntegerKind = 3;
constexpr int kMaxDecimals = 9;
constexpr qint64 kMaxOffset = 0xFFFFFFFFLL; // offsets are 32-bit words in the index
constexpr int kUtf8Mib = 106;

void appendWord(QByteArray &target, quint32 value)
{
    char word[4];
    writeUInt32BE(word, value);
    target.append(word, 4);
}

bool isValidUtf8(const char *bytes, int length)
{
    int i = 0;
    while (i < length && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    if (i == length)
        return true;
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QTextCodec::codecForMib(kUtf8Mib)->toUnicode(bytes + i, length - i, &state);
    // A sequence cut off by the end of the field is no more UTF-8 than a wrong one.
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

bool tableV4Exists(const QString &name)
{
    return tableFilesExist(PTableV4::fileNames(name));
}

TableFileNames PTableV4::fileNames(const QString &name)
{
    return {platform::tableFilePath(name, ".bin"), platform::tableFilePath(name, ".ind")};
}

void PTableV4::clear()
{
    tableName.clear();
    magic = word2 = headerLength = fieldCount = word5 = 0;
    std::memset(descriptors, 0, sizeof descriptors);
    isOpen = false;
    recordCount = 0;
    terminalCodec = nullptr;
}

bool PTableV4::open(const QString &name, const TableFileNames &files, QTextCodec *codec,
                    const StopCheck &stop, TableUse use)
{
    close();
    clear();
    if (!tableFilesExist(files))
        return false;
    if (!openTableFile(binFile, files.data, binHold, use, stop))
        return false;

    QByteArray header;
    if (binFile.size() < kFixedHeaderSize || !readTableBytes(binFile, kFixedHeaderSize, header)) {
        closeTableFile(binFile, binHold);
        return false;
    }
    quint32 *words[kHeaderWords] = {&magic, &word2, &headerLength, &fieldCount, &word5};
    for (int i = 0; i < kHeaderWords; ++i)
        *words[i] = readUInt32BE(header.constData() + 4 * i);
    const bool valid = fieldCount <= quint32(kMaxFields)
        && headerLength == quint32(kDescriptorSize) * fieldCount + kFixedHeaderSize
        && magic == kMagic && word2 >= kMinWord2;
    if (!valid) {
        closeTableFile(binFile, binHold);
        clear();
        return false;
    }
    for (quint32 i = 0; i < fieldCount; ++i) {
        QByteArray bytes;
        if (!readTableBytes(binFile, kDescriptorSize, bytes)) {
            closeTableFile(binFile, binHold);
            clear();
            return false;
        }
        std::memcpy(&descriptors[i], bytes.constData(), kDescriptorSize);
    }

    if (!openTableFile(indFile, files.companion, indHold, use, stop)) {
        closeTableFile(binFile, binHold);
        clear();
        return false;
    }
    const qint64 entries = indFile.size() / kIndexEntrySize;
    recordCount = qint64(word5) < entries ? entries - qint64(word5) : entries;
    isOpen = true;
    tableName = name;
    terminalCodec = codec;
    return true;
}

bool PTableV4::encodeRecord(QByteArray &target, const PRow &row) const
{
    target.clear();
    const int count = qMin(row.count(), int(fieldCount));
    for (int i = 0; i < count; ++i) {
        const quint8 kind = descriptors[i].kind;
        if (kind == kDecimalKind) {
            PDecimal value;
            value.clear();
            row.decimal(i, value);
            appendWord(target, value.whole);
            appendWord(target, value.fraction);
        } else if (kind == kIntegerKind) {
            // Always hundredths: the terminal reads the word that way whatever the decimals say.
            qint32 hundredths = 0;
            row.hundredths(i, hundredths);
            appendWord(target, static_cast<quint32>(hundredths));
        } else {
            if (!terminalCodec) {
                target.clear();
                return false;
            }
            // The field ends at its NUL in the file: a NUL inside the text would shift every
            // field after it, so the text ends there.
            QString text = row.text(i);
            const int nul = text.indexOf(QChar(0));
            if (nul >= 0)
                text.truncate(nul);
            QByteArray bytes = terminalCodec->fromUnicode(text);
            const int nulByte = bytes.indexOf('\0');
            if (nulByte >= 0)
                bytes.truncate(nulByte);
            target.append(bytes);
            target.append('\0');
        }
    }
    return true;
}

bool PTableV4::appendRecord(const QByteArray &record)
{
    if (!isOpen)
        return false;
    const qint64 oldBinSize = binFile.size();
    const qint64 oldIndSize = indFile.size();
    if (oldBinSize > kMaxOffset)
        return false;
    QByteArray entry;
    appendWord(entry, static_cast<quint32>(oldBinSize));
    appendWord(entry, static_cast<quint32>(record.size()));

    // The record goes first, so an index entry never points at bytes that are not there. The
    // entry goes after the last whole entry: a stray partial entry at the end of the index would
    // otherwise shift this entry and every later one off their 8-byte places.
    const qint64 entryOffset = (oldIndSize / kIndexEntrySize) * kIndexEntrySize;
    const bool written = binFile.seek(oldBinSize) && writeTableBytes(binFile, record)
        && indFile.seek(entryOffset) && writeTableBytes(indFile, entry);
    if (!written) {
        binFile.resize(oldBinSize);
        indFile.resize(oldIndSize);
        return false;
    }
    ++recordCount;
    return true;
}

bool PTableV4::readRecord(qint64 n, PRow &row)
{
    if (!isOpen || n < 0 || n >= recordCount)
        return false;
    row.clear();
    QByteArray entry;
    if (!indFile.seek(n * kIndexEntrySize) || !readTableBytes(indFile, kIndexEntrySize, entry))
        return false;
    const qint64 offset = readUInt32BE(entry.constData());
    const qint64 length = readUInt32BE(entry.constData() + 4);
    // The index comes from the terminal's side: the record must lie wholly inside the data file
    // before anything is allocated for it.
    const qint64 binSize = binFile.size();
    if (offset >= binSize || length > binSize - offset || !binFile.seek(offset))
        return false;
    QByteArray record;
    if (!readTableBytes(binFile, length, record))
        return false;
    return decodeRecord(record, row);
}

bool PTableV4::decodeRecord(const QByteArray &bytes, PRow &row) const
{
    if (bytes.isEmpty())
        return false;
    row.clear();
    const int size = bytes.size();
    const char *data = bytes.constData();
    int pos = 0;
    for (int i = 0; pos < size && i < int(fieldCount) && i < kMaxFields; ++i) {
        const PFieldV4 &field = descriptors[i];
        if (field.kind == kDecimalKind) {
            if (size - pos < 8)
                break;
            PDecimal value;
            value.whole = readUInt32BE(data + pos);
            value.fraction = readUInt32BE(data + pos + 4);
            row.setDecimal(i, value);
            pos += 8;
        } else if (field.kind == kIntegerKind) {
            if (size - pos < 4)
                break;
            row.setScaled(i, readUInt32BE(data + pos), qMin<int>(field.decimals, kMaxDecimals));
            pos += 4;
        } else {
            const int nul = bytes.indexOf('\0', pos);
            if (nul < 0)
                break;
            row.setDecodedText(i, decodeText(data + pos, nul - pos));
            pos = nul + 1;
        }
    }
    return true;
}

QString PTableV4::decodeText(const char *bytes, int length) const
{
    // Validity is judged on the whole field: a UTF-8 text cut at the byte limit stays UTF-8.
    const int kept = qMin(length, kMaxTextBytes);
    if (!terminalCodec || isValidUtf8(bytes, length))
        return QString::fromUtf8(bytes, kept);
    return terminalCodec->toUnicode(bytes, kept);
}

void PTableV4::packFields(const PRow &source, PRow &target, bool import) const
{
    target.clear();
    const int count = qMin(source.count(), int(fieldCount));
    int j = 0;
    for (int i = 0; i < count; ++i) {
        const PFieldV4 &field = descriptors[i];
        if ((import ? field.importFlag : field.exportFlag) != 0)
            target.setText(j++, source.text(i));
    }
}

void PTableV4::importFields(const PRow &source, PRow &target) const
{
    packFields(source, target, true);
}

void PTableV4::exportFields(const PRow &source, PRow &target) const
{
    packFields(source, target, false);
}

bool PTableV4::close()
{
    if (!isOpen)
        return true;
    const bool indClosed = closeTableFile(indFile, indHold);
    const bool binClosed = closeTableFile(binFile, binHold);
    clear();
    return indClosed && binClosed;
}
