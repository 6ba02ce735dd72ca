#include "PSqlList.h"

PSqlList::PSqlList() = default;

PSqlList::~PSqlList() = default;

void PSqlList::closeAll()
{
    lastHandle = 0;
}
