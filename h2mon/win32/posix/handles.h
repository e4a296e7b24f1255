// Handles of the Linux stand-ins: every object a stand-in hands out as a HANDLE
// (a serial port, a file search) derives from HandleObject and is registered
// here, so that CloseHandle can close any of them and refuse a handle that is not
// (or no longer) open instead of touching freed memory.
#pragma once

#include "h2mon/win32/posix/errors.h"
#include "h2mon/win32/posix/types.h"

class HandleObject {
public:
    virtual ~HandleObject() = default;
};

// Takes ownership of the object and returns the handle that stands for it.
HANDLE register_handle(HandleObject* object);

// The object behind an open handle of the requested kind, or null (with
// ERROR_INVALID_HANDLE as the last error) when the handle is not one.
template <class T> T* handle_object(HANDLE handle);

// Unregisters and destroys the object behind the handle.
BOOL CloseHandle(HANDLE object);

// Implementation detail of handle_object.
HandleObject* find_handle_object(HANDLE handle);

template <class T> T* handle_object(HANDLE handle) {
    T* object = dynamic_cast<T*>(find_handle_object(handle));
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return object;
}
