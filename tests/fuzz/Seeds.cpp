// Writes the first corpus of every fuzz target into <folder>/<target>/: the requests, packets,
// table files, settings files and LIKE operands that the unit tests use, in each target's input
// form. Usage: fuzz_seeds <folder>

#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <vector>

namespace {

using fuzz::wordBE;

// A request as a terminal packs it: the name, NUL, then the arguments.
class Request
{
public:
    explicit Request(const char *name) : payload(name) { payload.append('\0'); }
    Request &str(const QByteArray &text)
    {
        payload.append(text);
        payload.append('\0');
        return *this;
    }
    Request &word(quint32 value)
    {
        payload.append(wordBE(value));
        return *this;
    }
    Request &raw(const QByteArray &bytes)
    {
        payload.append(bytes);
        return *this;
    }
    operator QByteArray() const { return payload; }

private:
    QByteArray payload;
};

QByteArray joined(const std::vector<QByteArray> &parts)
{
    QByteArray out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += fuzz::kSeparator;
        out += parts[i];
    }
    return out;
}

class Corpus
{
public:
    Corpus(const QString &root, const char *target) : folder(root + QLatin1Char('/') + QLatin1String(target))
    {
        QDir().mkpath(folder);
    }
    void add(const QByteArray &input)
    {
        QFile file(folder + QStringLiteral("/seed-%1").arg(++count, 3, 10, QLatin1Char('0')));
        ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(input) == input.size() && ok;
    }
    bool ok = true;

private:
    QString folder;
    int count = 0;
};

void dispatcherSeeds(Corpus &c)
{
    const QByteArray data = "C:\\DATA.TXT";
    c.add(Request("CONNECT"));
    c.add(joined({Request("GetFuture").str("ServerVersion"), Request("GetFuture").str("ServerName"),
                  Request("GetFuture").str("GetTransmitLength"), Request("GetFuture").str("GetDelimeter"),
                  Request("GetFuture").str("GetCodePage"), Request("GetFuture").str("Unknown")}));
    c.add(joined({Request("SetFuture").str("TerminalEncode").str("UTF-8"), Request("SetMessage").str("\xc3\xa9t\xc3\xa9"),
                  Request("SetFuture").str("TerminalEncode").str("NoSuchCodec"), Request("GetDelimeter")}));
    c.add(joined({Request("OpenFile").str(data), Request("WriteFile").word(1).word(5).raw("HELLO"),
                  Request("SeekFile").word(1).word(1), Request("ReadFile").word(1).word(3),
                  Request("LengthFile").word(1), Request("TrimFile").word(1).word(0), Request("CloseFile").word(1),
                  Request("CloseFile").word(1)}));
    c.add(joined({Request("OpenFile").str(data), Request("WriteFileText").word(1).word(2).raw("0AFF"),
                  Request("SeekFile").word(1).word(0), Request("ReadFileText").word(1).word(100),
                  Request("ReadFile").word(1).word(0xFFFFFFFF), Request("SeekFile").word(1).word(0xFFFFFFFF)}));
    c.add(joined({Request("ExistFile").str(data), Request("ExistDir").str("C:\\SUB"), Request("CreateDir").str("C:\\NEW"),
                  Request("CreateFile").str("C:\\NEW\\A.TXT"), Request("GetFileDate").str("C:\\NEW\\A.TXT"),
                  Request("DeleteFile").str("C:\\NEW\\A.TXT"), Request("DeleteDir").str("C:\\NEW")}));
    c.add(joined({Request("FindFirstFile").str("C:\\*.TXT"), Request("FindNextFile").word(1),
                  Request("FindNextFileFull").word(1), Request("FindClose").word(1),
                  Request("FindFirstFileFull").str("*.*"), Request("FindFirstDir").str("C:\\*"),
                  Request("FindNextDir").word(100001), Request("FindClose").word(100001)}));
    c.add(joined({Request("OpenSqlBase").str("C:\\BASE.DB"), Request("ConvertSqlTableTextToBin").str("C:\\LINES.TXT").str("GOODS"),
                  Request("CloseSqlBase").word(1), Request("CloseSqlBase").word(1)}));
    c.add(joined({Request("ConvertTableTextToBin").str("C:\\LINES.TXT").str("C:\\GOODS"),
                  Request("ConvertTableBinToText").str("C:\\goods").str("C:\\OUT.TXT"),
                  Request("OpenFile").str("C:\\OUT.TXT"), Request("ReadFile").word(1).word(4096)}));
    c.add(joined({Request("SetFuture").str("SetSortV3Table").str("1"),
                  Request("ConvertTableV3TextToBin").str("C:\\LINES.TXT").str("C:\\ITEMS"),
                  Request("SetFuture").str("SetSortV3Table").str("0"),
                  Request("ConvertTableV3TextToBin").str("LINES.TXT").str("ITEMS")}));
    c.add(joined({Request("SetFuture").str("SetTemporaryFile").str("C:\\DATA.TXT"),
                  Request("SetFuture").str("SetTemporaryFile").str("C:\\DATA.TXT"), Request("SetIndicator").word(42),
                  Request("ExecuteCommand").str("C:\\SUB\\PROGRAM").str("-x").word(1)}));
    // Requests cut short: the arguments end before the layer expects them to.
    c.add(joined({Request("OpenFile"), Request("ReadFile").word(1), Request("WriteFile").word(1).word(100).raw("AB"),
                  Request("SetFuture").str("TerminalEncode"), QByteArray("SeekFile", 8), QByteArray()}));
    // A name that the end of the request cuts off before its NUL.
    c.add(joined({QByteArray("CONNECT"), QByteArray("GetDelimeter")}));
    c.add(joined({Request("OpenFile").str("C:\\..\\..\\DATA.TXT"), Request("OpenFile").str("\\\\server\\share\\x"),
                  Request("FindFirstFile").str("C:\\SUB\\?NNER.*"), Request("connect")}));
}

void framingSeeds(Corpus &c)
{
    const QByteArray connect("CONNECT", 8);
    c.add(QByteArray(1, '\0') + wordBE(5) + "HELLO" + wordBE(0));
    c.add(QByteArray(1, '\0') + wordBE(8) + connect + wordBE(8) + connect);
    c.add(QByteArray(1, '\0') + wordBE(0x100001));
    c.add(QByteArray(1, '\0') + QByteArray("00000003414243"));
    c.add(QByteArray(1, '\1') + QByteArray("00000003414243") + QByteArray("000000024a4B"));
    c.add(QByteArray(1, '\1') + QByteArray("00000008") + connect.toHex().toUpper() + wordBE(2) + "4F4B");
    c.add(QByteArray(1, '\1') + wordBE(3) + "ABC" + QByteArray("00100001"));
}

void tableSeeds(Corpus &c)
{
    QByteArray bin, ind;
    fuzz::goodsTable(bin, ind);
    c.add(QByteArray(1, 0x00) + joined({bin, ind, fuzz::linesText()}));
    c.add(QByteArray(1, 0x04) + joined({bin, ind, fuzz::linesText()}));
    // A header of two fields that opens, and one with word2 below 100 that does not.
    const std::vector<fuzz::V4Field> two = {{1, 0, 1, 1}, {3, 2, 1, 0}};
    c.add(QByteArray(1, 0x04) + joined({fuzz::v4Header(two), QByteArray(), "a;b;c\n"}));
    c.add(QByteArray(1, 0x00) + joined({fuzz::v4Header(two, 99), QByteArray(), QByteArray()}));
    // No fields; 20 bytes of index with word5 1; a record whose text has no NUL.
    c.add(QByteArray(1, 0x04) + joined({fuzz::v4Header({}, 100, 1) + "xyz", wordBE(20) + wordBE(3) + wordBE(0), "x\n"}));
    fuzz::v4Table({{1, 0, 1, 1}}, {QByteArray("no end")}, bin, ind);
    c.add(QByteArray(1, 0x00) + joined({bin, ind, QByteArray()}));
    fuzz::v4Table({{2, 0, 1, 1}, {3, 12, 1, 1}}, {wordBE(12) + wordBE(500000000) + wordBE(1250)}, bin, ind);
    c.add(QByteArray(1, 0x04) + joined({bin, ind, "12.5;12.5\n"}));
    c.add(QByteArray(1, 0x05) + joined({fuzz::itemsRecords(), fuzz::itemsLayout(), fuzz::linesText()}));
    c.add(QByteArray(1, 0x07) + joined({fuzz::itemsRecords(), fuzz::itemsLayout(), fuzz::linesText()}));
    c.add(QByteArray(1, 0x05) + joined({QByteArray(), QByteArray("\x01\x02\x0A\x00\x00", 5), "1,5\n"}));
}

void settingsSeeds(Corpus &c)
{
    c.add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VorelServer version=\"2.04\">\n <Settings runAtStartup=\"0\" "
          "runMinimized=\"0\" minimizeToTray=\"1\" createDebug=\"0\" terminalCharset=\"CP1251\" tableCharset=\"CP1251\" "
          "networkPort=\"2000\" networkTimeout=\"30\" tableDelimeter=\"59\" networkEnable=\"1\" bluetoothEnable=\"0\" "
          "irdaNormalEnable=\"0\" irdaIrcommEnable=\"0\" casioN60Enable=\"0\" language=\"English\"/>\n</VorelServer>\n");
    c.add("<VorelServer><Settings/></VorelServer>");
    c.add("<vorelserver><Settings networkPort=\"1\"/></vorelserver>");
    c.add("<VorelServer><Other><Settings/></Other></VorelServer>");
    c.add("<VorelServer version=\"2.05\"><Settings runAtStartup=\"2\" createDebug=\"true\" networkEnable=\"\" "
          "networkPort=\"abc\" networkTimeout=\"-5\" language=\"\" terminalCharset=\"a&amp;b&#xa;&lt;\"/></VorelServer>");
    c.add("<VorelServer><Settings tableDelimeter=\"2147483648\"/><Settings tableDelimeter=\"9\"/></VorelServer>");
}

void unicodeSeeds(Corpus &c)
{
    c.add(joined({"ecole", "\xc3\x89" "COLE"}));
    c.add(joined({"STRASSE", "Stra\xc3\x9f" "e"}));
    c.add(joined({"\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82%", "\xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2 \xd0\xbc\xd0\xb8\xd1\x80"}));
    c.add(joined({"_", "\xc3\xa9"}));
    c.add(joined({"a\\%b", "a%b", "\\"}));
    c.add(joined({"a%\\", "ab", "\\"}));
    c.add(joined({"a\xc3\xa9_b", "a_b", "\xc3\xa9"}));
    c.add(joined({"a", "a", "ab"}));
    c.add(joined({"a", "a", ""}));
    c.add(joined({"%a%a%a%a%b", QByteArray(200, 'a')}));
    c.add(joined({QByteArray("a\0b", 3), QByteArray("A\0c", 3), "\xc0\x80\xed\xa0\x80\xef\xbf\xbf\xf8\x88\x80\x80\x80"}));
    c.add(joined({"\xc7\x86\xc3\x86\xc2\xbd\xef\xb7\xba", "\xea\xb0\x80\xcc\x81", "\xe1\xba\x9e"}));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    Corpus dispatcher(root, "fuzz_dispatcher"), framing(root, "fuzz_framing"), tables(root, "fuzz_table_files"),
        settingsFiles(root, "fuzz_settings_file"), unicode(root, "fuzz_unicode");
    dispatcherSeeds(dispatcher);
    framingSeeds(framing);
    tableSeeds(tables);
    settingsSeeds(settingsFiles);
    unicodeSeeds(unicode);
    const bool ok = dispatcher.ok && framing.ok && tables.ok && settingsFiles.ok && unicode.ok;
    if (!ok)
        std::fprintf(stderr, "fuzz_seeds: cannot write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
