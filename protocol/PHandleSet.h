#pragma once

#include "PFileList.h"
#include "PFindList.h"
#include "PSqlList.h"

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

    PFindList findFiles;
    PFindList findDirs;
    PFileList fileList;
    PSqlList sqlList;
    PProgressSink *session = nullptr;
};
