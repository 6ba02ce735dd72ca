#include "TextTableFile.h"

#include <QFileInfo>
#include <QIODevice>

namespace {

constexpr int kChunkSize = 16 * 1024;

} // namespace

TextLineResult readTextLine(QIODevice &device, QByteArray &line, qint64 maxBytes)
{
    line.clear();
    char chunk[kChunkSize];
    for (;;) {
        const qint64 n = device.readLine(chunk, kChunkSize);
        if (n <= 0)
            break;
        if (line.size() + n > maxBytes) {
            line.clear();
            return TextLineResult::TooLong;
        }
        line.append(chunk, int(n));
        if (chunk[n - 1] == '\n')
            break;
    }
    if (line.isEmpty())
        return TextLineResult::End;
    if (line.endsWith("\r\n")) {
        line.chop(2);
        line.append('\n');
    }
    return TextLineResult::Line;
}

void appendTextLine(QByteArray &out, const QByteArray &line)
{
    // As a rule the line end is the line's only "\n": then no copy is made.
    const int body = line.size() - 1;
    if (body >= 0 && line.indexOf('\n') == body) {
        out.append(line.constData(), body);
        out.append("\r\n", 2);
        return;
    }
    QByteArray bytes = line;
    bytes.replace("\n", "\r\n");
    out.append(bytes);
}

bool isSameFile(const QString &a, const QString &b)
{
    const QString first = QFileInfo(a).canonicalFilePath();
    return !first.isEmpty() && first == QFileInfo(b).canonicalFilePath();
}
