#include "Platform/OnDemand.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

namespace platform::ondemand {

namespace {

// The folder this library was loaded from: ours sit beside it, in the build
// tree as in the install folder, wherever the program itself lives.
std::string ownFolder()
{
    Dl_info info = {};
    if (!dladdr(reinterpret_cast<const void*>(&table), &info) || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

const void* table(const char* library, const char* entry)
{
    static std::mutex mutex;
    static std::map<std::string, void*> handles;
    std::lock_guard lock(mutex);
    void*& handle = handles[library];
    if (!handle) {
        // By its full path: a name alone would be looked for along the
        // library path, where another file of that name could stand.
        const std::string folder = ownFolder();
        if (!folder.empty()) handle = dlopen((folder + library).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return nullptr;
    }
    using Entry = const void* (*)();
    const auto function = reinterpret_cast<Entry>(dlsym(handle, entry));
    return function ? function() : nullptr;
}

} // namespace platform::ondemand
