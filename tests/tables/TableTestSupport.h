#pragma once

#include "PSettings.h"
#include "TableFileIO.h"
#include "TestSeams.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include <functional>
#include <initializer_list>
#include <thread>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Byte strings written out in the order a file holds them.
inline QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

inline QByteArray wordBE(quint32 v)
{
    return bytesOf({int(v >> 24) & 0xFF, int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF});
}

inline void setTerminalCharset(const QString &name)
{
    PSettings s = settings.snapshot();
    s.terminalCharset = name;
    settings.store(s);
}

// Opens a V3 or V4 table as a conversion does, with `codec` as the code page of its text fields.
template <typename Table>
bool openTable(Table &table, const QString &name, const char *codec = "CP1251")
{
    return table.open(name, Table::fileNames(name), QTextCodec::codecForName(codec));
}

// Every table test starts from the default settings, fast open retries and no armed write fault,
// and leaves them so.
class TableFilesEnvironment
{
public:
    TableFilesEnvironment()
    {
        PSettings s;
        s.setDefaults();
        settings.store(s);
        platform::setTableOpenRetryDelayForTesting(kFastRetryMs);
        platform::armWriteFaultForTesting(0);
    }
    ~TableFilesEnvironment()
    {
        platform::armWriteFaultForTesting(0);
        platform::setTableOpenRetryDelayForTesting(platform::kDefaultTableOpenRetryDelayMs);
        PSettings s;
        s.setDefaults();
        settings.store(s);
    }
    static constexpr int kFastRetryMs = 5;
};

// Runs `work` on a thread without the rights that let root open any file, so that a file without
// permission bits cannot be opened there even when the tests run as root. Capabilities belong to
// one thread on Linux: the rest of the process keeps its own. False when they cannot be dropped.
inline bool runWithoutFileRights(const std::function<void()> &work)
{
    bool dropped = false;
    std::thread worker([&]() {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return;
        for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            data[capability / 32].effective &= ~(1u << (capability % 32));
        dropped = ::syscall(SYS_capset, &header, data) == 0;
        if (dropped)
            work();
    });
    worker.join();
    return dropped;
}
