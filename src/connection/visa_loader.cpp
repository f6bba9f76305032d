#include "connection/visa_loader.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

#ifndef KORVAX_BUILTIN_VISA
#define KORVAX_BUILTIN_VISA "libkorvaxvisa.so.1"
#endif

namespace korvax::visa {
namespace {

struct Api {
    decltype(&::viOpenDefaultRM) openDefaultRM;
    decltype(&::viFindRsrc) findRsrc;
    decltype(&::viFindNext) findNext;
    decltype(&::viOpen) open;
    decltype(&::viClose) close;
    decltype(&::viRead) read;
    decltype(&::viWrite) write;
    decltype(&::viSetAttribute) setAttribute;
    decltype(&::viFlush) flush;
};

Api loadedApi{};
std::atomic<const Api *> api{nullptr};
platform::Mutex loadLock;

// The built-in VISA is installed next to libKORVAX; look there first so that
// neither LD_LIBRARY_PATH nor an ldconfig run is needed.
std::string builtinPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&builtinPath), &info) != 0 && info.dli_fname) {
        std::string self = info.dli_fname;
        const auto slash = self.rfind('/');
        if (slash != std::string::npos) return self.substr(0, slash + 1) + KORVAX_BUILTIN_VISA;
    }
    return KORVAX_BUILTIN_VISA;
}

void *openLibrary() {
    if (const char *chosen = std::getenv("KORVAX_VISA_LIBRARY"); chosen && *chosen)
        return dlopen(chosen, RTLD_NOW | RTLD_LOCAL);
    if (void *h = dlopen(builtinPath().c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    return dlopen(KORVAX_BUILTIN_VISA, RTLD_NOW | RTLD_LOCAL);
}

template <typename F>
bool resolve(void *lib, const char *name, F &fn) {
    fn = reinterpret_cast<F>(dlsym(lib, name));
    return fn != nullptr;
}

const Api *get() {
    if (const Api *a = api.load(std::memory_order_acquire)) return a;
    platform::LockGuard guard(loadLock);
    if (!guard.owns()) return nullptr;
    if (const Api *a = api.load(std::memory_order_relaxed)) return a;
    void *lib = openLibrary();
    if (!lib) return nullptr;
    Api a{};
    const bool ok = resolve(lib, "viOpenDefaultRM", a.openDefaultRM) &&
                    resolve(lib, "viFindRsrc", a.findRsrc) &&
                    resolve(lib, "viFindNext", a.findNext) && resolve(lib, "viOpen", a.open) &&
                    resolve(lib, "viClose", a.close) && resolve(lib, "viRead", a.read) &&
                    resolve(lib, "viWrite", a.write) &&
                    resolve(lib, "viSetAttribute", a.setAttribute) &&
                    resolve(lib, "viFlush", a.flush);
    if (!ok) {
        dlclose(lib);
        return nullptr;
    }
    // The library stays loaded for the life of the process: sessions opened
    // through it are handed out as handles.
    loadedApi = a;
    api.store(&loadedApi, std::memory_order_release);
    return &loadedApi;
}

}  // namespace

ViStatus openDefaultRM(ViSession *rm) {
    const Api *a = get();
    return a ? a->openDefaultRM(rm) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus findRsrc(ViSession rm, ViConstString expr, ViFindList *list, ViUInt32 *count,
                  ViChar desc[VI_FIND_BUFLEN]) {
    const Api *a = get();
    return a ? a->findRsrc(rm, expr, list, count, desc) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus findNext(ViFindList list, ViChar desc[VI_FIND_BUFLEN]) {
    const Api *a = get();
    return a ? a->findNext(list, desc) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus open(ViSession rm, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
              ViSession *session) {
    const Api *a = get();
    return a ? a->open(rm, name, mode, timeout, session) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus close(ViObject object) {
    const Api *a = get();
    return a ? a->close(object) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus read(ViSession session, ViBuf buf, ViUInt32 count, ViUInt32 *retCount) {
    const Api *a = get();
    return a ? a->read(session, buf, count, retCount) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus write(ViSession session, ViConstBuf buf, ViUInt32 count, ViUInt32 *retCount) {
    const Api *a = get();
    return a ? a->write(session, buf, count, retCount) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus setAttribute(ViObject object, ViAttr attr, ViAttrState value) {
    const Api *a = get();
    return a ? a->setAttribute(object, attr, value) : VI_ERROR_LIBRARY_NFOUND;
}
ViStatus flush(ViSession session, ViUInt16 mask) {
    const Api *a = get();
    return a ? a->flush(session, mask) : VI_ERROR_LIBRARY_NFOUND;
}

}  // namespace korvax::visa
