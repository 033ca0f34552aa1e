// Linked into every Windows test program: a crash prints where it happened and ends the
// program with a failure at once. Without it Wine starts its debugger, which can wait
// for ever in the test environment, and the test only ends at its time-out.
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const auto base = reinterpret_cast<DWORD64>(GetModuleHandleW(nullptr));
    std::fprintf(stderr, "\ncrash: exception 0x%08lX at 0x%llX in thread %lu (program loaded at 0x%llX)\n",
                 static_cast<unsigned long>(record->ExceptionCode),
                 static_cast<unsigned long long>(reinterpret_cast<DWORD64>(record->ExceptionAddress)),
                 static_cast<unsigned long>(GetCurrentThreadId()), static_cast<unsigned long long>(base));
    // The frames, from the faulting one outwards, for addr2line on the test program.
    CONTEXT context = *pointers->ContextRecord;
    for (int depth = 0; depth < 32 && context.Rip != 0; ++depth) {
        std::fprintf(stderr, "  #%d 0x%llX\n", depth, static_cast<unsigned long long>(context.Rip));
        DWORD64 imageBase = 0;
        RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (function == nullptr) {
            // A leaf function: the return address is on top of the stack.
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
            continue;
        }
        void* handlerData = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher,
                         nullptr);
    }
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const bool installed = [] {
    SetUnhandledExceptionFilter(ReportCrash);
    return true;
}();

} // namespace
