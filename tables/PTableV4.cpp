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
// A block is written once its records hold this many bytes; reading goes ahead as far.
constexpr int kBlockBytes = 256 * 1024;
constexpr int kEntriesAhead = 8192;

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
    // Text in a single-byte code page is seldom UTF-8 past its first letter: no lead byte, or no
    // continuation byte after it, settles it.
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0xC2 || lead > 0xF4 || i + 1 == length || (static_cast<unsigned char>(bytes[i + 1]) & 0xC0) != 0x80)
        return false;
    static QTextCodec *const utf8 = QTextCodec::codecForMib(kUtf8Mib);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    utf8->toUnicode(bytes + i, length - i, &state);
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
    binEnd = indEnd = openIndEnd = keptBinEnd = 0;
    indTail.clear();
    openIndTail.clear();
    blockData.clear();
    blockIndex.clear();
    blockRecords = 0;
    blockLimit = 1;
    indexAhead.clear();
    indexAheadFirst = 0;
    dataAhead.clear();
    dataAheadStart = 0;
}

bool PTableV4::open(const QString &name, const TableFileNames &files, QTextCodec *codec,
                    const StopCheck &stop, TableUse use)
{
    close();
    clear();
    if (!tableFilesExist(files))
        return false;
    const bool writes = use != TableUse::Read;
    if (!openTableFile(binFile, files.data, binHold, writes ? TableUse::Append : TableUse::Read, stop))
        return false;

    QByteArray header;
    if (binFile.size() < kFixedHeaderSize || !binFile.seek(0) || !readTableBytes(binFile, kFixedHeaderSize, header)) {
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

    if (!openTableFile(indFile, files.companion, indHold, writes ? TableUse::Write : TableUse::Read, stop)) {
        closeTableFile(binFile, binHold);
        clear();
        return false;
    }
    const qint64 indSize = indFile.size();
    const qint64 entries = indSize / kIndexEntrySize;
    // New entries go after the last whole one: a stray partial entry would shift them all. A
    // writer keeps its bytes, to put them back if the upload is taken back.
    indEnd = entries * kIndexEntrySize;
    if (writes && indSize > indEnd && !(indFile.seek(indEnd) && readTableBytes(indFile, indSize - indEnd, indTail))) {
        closeTableFile(indFile, indHold);
        closeTableFile(binFile, binHold);
        clear();
        return false;
    }
    // Taken after the index: every record it counts lies inside.
    binEnd = binFile.size();
    openIndEnd = indEnd;
    openIndTail = indTail;
    keptBinEnd = binEnd;
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
            const int start = target.size();
            textEncoder.append(target, terminalCodec, text);
            const int nulByte = target.indexOf('\0', start);
            if (nulByte >= 0)
                target.truncate(nulByte);
            target.append('\0');
        }
    }
    return true;
}

bool PTableV4::appendRecord(const QByteArray &record)
{
    // Where the record would go were the data file as this table left it; writeBlock checks
    // again where it does go.
    if (!isOpen || binEnd + blockData.size() > kMaxOffset)
        return false;
    appendWord(blockIndex, static_cast<quint32>(blockData.size()));
    appendWord(blockIndex, static_cast<quint32>(record.size()));
    blockData += record;
    ++blockRecords;
    return (blockRecords < blockLimit && blockData.size() < kBlockBytes) || writeBlock();
}

bool PTableV4::writeBlock()
{
    if (blockRecords == 0)
        return true;
    // The data goes first, so an index entry never points at bytes that are not there. The data
    // file's end is taken for each block, by the system as it writes: a terminal may hold the
    // file open beside this table and append to it, and those bytes stay.
    const qint64 before = binFile.size();
    const qint64 lastRecord = readUInt32BE(blockIndex.constData() + blockIndex.size() - kIndexEntrySize);
    qint64 at = -1;
    bool written = before >= 0 && appendTableBytes(binFile, blockData, at) && at + lastRecord <= kMaxOffset;
    if (written) {
        for (int i = 0; i < blockIndex.size(); i += kIndexEntrySize) {
            char *offset = blockIndex.data() + i;
            writeUInt32BE(offset, static_cast<quint32>(at + readUInt32BE(offset)));
        }
        written = indFile.seek(indEnd) && writeTableBytes(indFile, blockIndex);
    }
    if (written) {
        // What lies between the last block and this one is another handle's.
        if (at > binEnd)
            keptBinEnd = at;
        binEnd = at + blockData.size();
        indEnd += blockIndex.size();
        indTail.clear();
        recordCount += blockRecords;
        if (blockLimit < kBlockBytes)
            blockLimit *= 2;
    } else if (restoreIndex()) {
        // The index first: a reader in between never counts an entry whose data is gone, and an
        // index that could not be put back keeps its data. Data that cannot be cut is named by
        // no entry, and the block has failed either way.
        binFile.resize(at >= 0 ? at : before);
    }
    dropBlock();
    return written;
}

void PTableV4::dropBlock()
{
    blockData.clear();
    blockIndex.clear();
    blockRecords = 0;
}

bool PTableV4::restoreIndex()
{
    return indFile.resize(indEnd)
        && (indTail.isEmpty() || (indFile.seek(indEnd) && writeTableBytes(indFile, indTail)));
}

bool PTableV4::readRecord(qint64 n, PRow &row)
{
    if (!isOpen || n < 0 || n >= recordCount)
        return false;
    row.clear();
    const char *entry = indexEntry(n);
    if (!entry)
        return false;
    const qint64 offset = readUInt32BE(entry);
    const qint64 length = readUInt32BE(entry + 4);
    // The index comes from the terminal's side: the record must lie wholly inside the data file
    // before anything is allocated for it.
    if (offset >= binEnd || length > binEnd - offset)
        return false;
    const char *bytes = recordBytes(offset, length);
    return bytes && decodeRecord(QByteArray::fromRawData(bytes, int(length)), row);
}

// Entries are read ahead by the block: an export asks for them in order.
const char *PTableV4::indexEntry(qint64 n)
{
    qint64 at = n - indexAheadFirst;
    if (at < 0 || (at + 1) * kIndexEntrySize > indexAhead.size()) {
        const qint64 count = qMin<qint64>(kEntriesAhead, recordCount - n);
        if (!indFile.seek(n * kIndexEntrySize) || !readTableBytes(indFile, count * kIndexEntrySize, indexAhead))
            return nullptr;
        indexAheadFirst = n;
        at = 0;
    }
    return indexAhead.constData() + at * kIndexEntrySize;
}

// While records follow one another in the data file, as the conversions append them, the data is
// read ahead by the block; a record anywhere else is read alone.
const char *PTableV4::recordBytes(qint64 offset, qint64 length)
{
    const qint64 aheadEnd = dataAheadStart + dataAhead.size();
    if (offset >= dataAheadStart && offset + length <= aheadEnd)
        return dataAhead.constData() + (offset - dataAheadStart);
    const bool inOrder = offset >= dataAheadStart && offset <= aheadEnd && !dataAhead.isEmpty();
    const qint64 size = inOrder ? qMax(length, qMin<qint64>(kBlockBytes, binEnd - offset)) : length;
    dataAheadStart = offset;
    if (!binFile.seek(offset) || !readTableBytes(binFile, size, dataAhead))
        return nullptr;
    return dataAhead.constData();
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
    return textDecoder.decode(terminalCodec, QByteArray::fromRawData(bytes, kept));
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
    const bool written = writeBlock();
    const bool indClosed = closeTableFile(indFile, indHold);
    const bool binClosed = closeTableFile(binFile, binHold);
    clear();
    return written && indClosed && binClosed;
}

bool PTableV4::closeDiscarding()
{
    if (!isOpen)
        return true;
    dropBlock();
    bool restored = true;
    if (indEnd != openIndEnd) {
        indEnd = openIndEnd;
        indTail = openIndTail;
        restored = restoreIndex();
        // Bytes another handle appended after the last block stay, and so does all before them.
        const qint64 size = binFile.size();
        const qint64 cut = size > binEnd ? size : keptBinEnd;
        restored = restored && size >= 0 && (cut >= size || binFile.resize(cut));
    }
    return close() && restored;
}
