#include "h2mon/win32/posix/handles.h"
#include "h2mon/win32/posix/errors.h"

#include <mutex>
#include <set>

namespace {

std::mutex& registry_mutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<HandleObject*>& registry() {
    static std::set<HandleObject*> open_objects;
    return open_objects;
}

} // namespace

HANDLE register_handle(HandleObject* object) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    registry().insert(object);
    return object;
}

HandleObject* find_handle_object(HANDLE handle) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    auto it = registry().find(static_cast<HandleObject*>(handle));
    return it == registry().end() ? nullptr : *it;
}

BOOL CloseHandle(HANDLE handle) {
    HandleObject* object = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        auto it = registry().find(static_cast<HandleObject*>(handle));
        if (it == registry().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = *it;
        registry().erase(it);
    }
    delete object; // the object's destructor releases what it holds
    return TRUE;
}
