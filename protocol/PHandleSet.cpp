#include "PHandleSet.h"

PHandleSet::PHandleSet()
{
    clear();
}

void PHandleSet::clear()
{
    findFiles.clear();
    findDirs.clear();
    fileList.closeAll();
    sqlList.closeAll();
}

bool PHandleSet::convertSqlTableTextToBin(QString tableName, QString fileName)
{
    return sqlList.convertSqlTableTextToBin(tableName, fileName);
}

bool PHandleSet::convertTableBinToText(QString tableName, QString fileName)
{
    return sqlList.convertTableBinToText(tableName, fileName);
}

bool PHandleSet::convertTableTextToBin(QString fileName, QString tableName)
{
    return sqlList.convertTableTextToBin(fileName, tableName);
}

bool PHandleSet::convertTableV3TextToBin(QString fileName, QString tableName)
{
    return sqlList.convertTableV3TextToBin(fileName, tableName);
}
