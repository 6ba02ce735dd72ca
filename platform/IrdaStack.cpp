#include "IrdaStack.h"

#include "IrdaLinuxStack.h"

namespace platform {

namespace {
IrdaStack *current = nullptr;
} // namespace

IrdaStack::~IrdaStack() = default;

IrdaStack &irdaStack()
{
    static IrdaStack *const system = new IrdaLinuxStack;
    return current ? *current : *system;
}

IrdaStack *setIrdaStack(IrdaStack *stack)
{
    IrdaStack *previous = current;
    current = stack;
    return previous;
}

} // namespace platform
