// Event objects on Windows: the platform's own events.

#include "comm_objs.h"
#include "wide_text_win32.h"

#include <windows.h>

namespace {

HANDLE handle_of(THandle Handle) {
    return reinterpret_cast<HANDLE>(Handle);
}

} // namespace

THandleObject::~THandleObject() {
    if (FHandle != Invalid_Handle) ::CloseHandle(handle_of(FHandle));
}

TEvent::TEvent(const void* EventAttributes, bool ManualReset, bool InitialState, const std::string& Name)
    : FManualReset(ManualReset) {
    const std::wstring Wide_Name = Wide_Text(Name);
    HANDLE Event = ::CreateEventW(static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(EventAttributes)),
                                  ManualReset, InitialState, Name.empty() ? nullptr : Wide_Name.c_str());
    if (Event == nullptr)
        FError = static_cast<std::int32_t>(::GetLastError()); // every later wait answers wrError
    else
        FHandle = reinterpret_cast<THandle>(Event);
}

void TEvent::SetEvent() {
    if (FHandle != Invalid_Handle) ::SetEvent(handle_of(FHandle));
}

void TEvent::ResetEvent() {
    if (FHandle != Invalid_Handle) ::ResetEvent(handle_of(FHandle));
}

TEventWaitResult TEvent::WaitFor(std::uint32_t Timeout) {
    if (FHandle == Invalid_Handle) return wrError;
    switch (::WaitForSingleObject(handle_of(FHandle), Timeout)) {
    case WAIT_OBJECT_0:
        return wrSignaled;
    case WAIT_TIMEOUT:
        return wrTimeout;
    case WAIT_ABANDONED:
        return wrAbandoned;
    case WAIT_FAILED:
        FError = static_cast<std::int32_t>(::GetLastError());
        return wrError;
    default:
        return wrError;
    }
}
