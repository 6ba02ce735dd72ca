#include "IrdaStack.h"

#include "IrdaLinuxStack.h"

namespace platform {

namespace {
IrdaStack *current = nullptr;
} // namespace

IrdaStack::~IrdaStack() = default;

IrdaStack &irdaStack()
{
    if (current)
        return *current;
    static IrdaStack *const system = new IrdaLinuxStack;
    return *system;
}

IrdaStack *setIrdaStack(IrdaStack *stack)
{
    IrdaStack *previous = current;
    current = stack;
    return previous;
}

} // namespace platform
