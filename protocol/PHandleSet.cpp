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
