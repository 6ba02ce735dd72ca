#pragma once

#include "PFileList.h"
#include "PFindList.h"
#include "PSqlList.h"

#include <QString>

class PProgressSink;

// Everything a session has open on its terminal's behalf.
struct PHandleSet
{
    PHandleSet();
    PHandleSet(const PHandleSet &) = delete;
    PHandleSet &operator=(const PHandleSet &) = delete;

    // End of session: both search lists emptied, every file and SQL base closed, every
    // handle count back to 0.
    void clear();

    // The conversions, with their arguments in the order the SQL-base list takes them.
    bool convertSqlTableTextToBin(QString tableName, QString fileName);
    bool convertTableBinToText(QString tableName, QString fileName);
    bool convertTableTextToBin(QString fileName, QString tableName);
    bool convertTableV3TextToBin(QString fileName, QString tableName);

    PFindList findFiles;
    PFindList findDirs;
    PFileList fileList;
    PSqlList sqlList;
    PProgressSink *session = nullptr;
};
