#include "PTableV3.h"

#include "Helpers.h"
#include "PRow.h"
#include "TableFileIO.h"
#include "TerminalPath.h"

#include <QIODevice>
#include <QTextCodec>

namespace {

constexpr int kMaxFields = 35;
constexpr int kDescriptorSize = 4;
constexpr quint8 kTextKind = 1;
constexpr int kMaxDecimals = 9;
// Old records are kept aside this many bytes at a time.
constexpr qint64 kKeepChunk = 256 * 1024;

bool isNumberKind(quint8 kind)
{
    return kind == 2 || kind == 3;
}

} // namespace

bool tableV3Exists(const QString &name)
{
    return tableFilesExist(PTableV3::fileNames(name));
}

TableFileNames PTableV3::fileNames(const QString &name)
{
    return {platform::tableFilePath(name, ".bin"), platform::tableFilePath(name, ".hdr")};
}

void PTableV3::clear()
{
    tableName.clear();
    recordCount = 0;
    fieldCount = 0;
    recordLength = 0;
    closeTableFile(binFile, binHold);
    closeTableFile(hdrFile, hdrHold);
    oldBytes.close();
    openSize = keptEnd = 0;
    isOpen = false;
    terminalCodec = nullptr;
    descriptors.clear();
}

void PTableV3::clearLayout()
{
    descriptors.clear();
}

bool PTableV3::open(const QString &name, const TableFileNames &files, QTextCodec *codec,
                    const StopCheck &stop)
{
    close();
    if (!tableFilesExist(files))
        return false;
    if (!openTableFile(hdrFile, files.companion, hdrHold, TableUse::Write, stop))
        return false;
    if (!readHeader(hdrFile)) {
        closeTableFile(hdrFile, hdrHold);
        return false;
    }
    recordLength = computeRecordLength();
    if (recordLength == 0 || !openTableFile(binFile, files.data, binHold, TableUse::Write, stop)) {
        closeTableFile(hdrFile, hdrHold);
        return false;
    }
    openSize = binFile.size();
    keptEnd = 0;
    recordCount = openSize / recordLength;
    isOpen = true;
    tableName = name;
    terminalCodec = codec;
    return true;
}

bool PTableV3::readHeader(QIODevice &file)
{
    const qint64 size = file.size();
    descriptors.clear();
    if (size == 0)
        return false;
    char count = 0;
    if (file.read(&count, 1) != 1)
        return false;
    const int n = static_cast<quint8>(count);
    if (n < 1 || n > kMaxFields || size != qint64(kDescriptorSize) * n + 1)
        return false;
    for (int i = 0; i < n; ++i) {
        unsigned char bytes[kDescriptorSize];
        if (file.read(reinterpret_cast<char *>(bytes), kDescriptorSize) != kDescriptorSize) {
            descriptors.clear();
            return false;
        }
        const PFieldV3 field{bytes[0], bytes[1], bytes[2], bytes[3]};
        const bool accepted = field.kind == kTextKind || (isNumberKind(field.kind) && field.size <= kMaxDecimals);
        if (!accepted) {
            descriptors.clear();
            return false;
        }
        descriptors.append(field);
    }
    fieldCount = n;
    return true;
}

qint32 PTableV3::computeRecordLength() const
{
    qint32 length = 0;
    for (const PFieldV3 &field : descriptors)
        length += field.kind == kTextKind ? field.size : 4;
    return length;
}

bool PTableV3::encodeRecord(QByteArray &target, const PRow &row) const
{
    target.clear();
    QByteArray padded;
    for (int i = 0; i < descriptors.size(); ++i) {
        const PFieldV3 &field = descriptors.at(i);
        const QString text = row.text(i);
        if (isNumberKind(field.kind)) {
            char word[4];
            writeUInt32BE(word, static_cast<quint32>(textToScaled(text, field.size)));
            target.append(word, 4);
            continue;
        }
        if (!terminalCodec) {
            target.clear();
            return false;
        }
        padField(padded, terminalCodec->fromUnicode(text), field.size);
        target.append(padded);
    }
    return true;
}

bool PTableV3::writeRecord(const PRow &row)
{
    if (!isOpen)
        return false;
    QByteArray record;
    if (!encodeRecord(record, row) || record.size() != recordLength)
        return false;
    const qint64 start = binFile.pos();
    const qint64 oldSize = binFile.size();
    if (!keepOldBytes(start + recordLength))
        return false;
    if (!writeTableBytes(binFile, record)) {
        // A part-written record must neither tear the record it was to replace, nor lengthen the
        // table, nor shift the next record.
        putBackOldBytes(start, start + recordLength);
        if (binFile.size() > oldSize)
            binFile.resize(oldSize);
        binFile.seek(start);
        return false;
    }
    ++recordCount;
    return true;
}

bool PTableV3::keepOldBytes(qint64 end)
{
    const qint64 upTo = qMin(end, openSize);
    if (keptEnd >= upTo)
        return true;
    const qint64 start = binFile.pos();
    bool kept = oldBytes.isOpen() || openScratchFile(oldBytes);
    QByteArray bytes;
    while (kept && keptEnd < upTo) {
        const qint64 length = qMin(kKeepChunk, openSize - keptEnd);
        kept = binFile.seek(keptEnd) && readTableBytes(binFile, length, bytes) && oldBytes.seek(keptEnd)
            && oldBytes.write(bytes) == length;
        if (kept)
            keptEnd += length;
    }
    return binFile.seek(start) && kept;
}

bool PTableV3::putBackOldBytes(qint64 from, qint64 to)
{
    to = qMin(to, keptEnd);
    QByteArray bytes;
    bool back = true;
    for (qint64 at = from; back && at < to; at += bytes.size()) {
        back = oldBytes.seek(at) && readTableBytes(oldBytes, qMin(kKeepChunk, to - at), bytes) && binFile.seek(at)
            && writeTableBytes(binFile, bytes);
    }
    return back;
}

bool PTableV3::closeDiscarding()
{
    if (!isOpen)
        return true;
    bool restored = true;
    if (keptEnd > 0 || binFile.size() != openSize) {
        restored = putBackOldBytes(0, keptEnd);
        restored = binFile.resize(openSize) && restored;
    }
    return close() && restored;
}

bool PTableV3::close()
{
    if (!isOpen)
        return true;
    const bool binClosed = closeTableFile(binFile, binHold);
    const bool hdrClosed = closeTableFile(hdrFile, hdrHold);
    clear();
    return binClosed && hdrClosed;
}
