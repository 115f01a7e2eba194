#include "TskLibrary.h"

#include <cassert>
#include <dlfcn.h>
#include <memory>

namespace
{
struct Loading
{
    std::unique_ptr<TskLibrary> functions;
    std::string why;
};

Loading LoadOnce()
{
    Loading loading;
    // RTLD_LOCAL: its own dependencies stay out of the way of ours.
    void* pLibrary = dlopen(KORVA_TSK_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (pLibrary == nullptr)
    {
        loading.why = std::string("The Sleuth Kit's library, which reads a card's file system, "
                                  "cannot be loaded (") +
                      dlerror() + "): install the package " KORVA_TSK_PACKAGE;
        return loading;
    }
    auto functions = std::make_unique<TskLibrary>();
    std::string missing;
#define KORVA_TSK_RESOLVE(name)                                                                    \
    functions->name = reinterpret_cast<decltype(functions->name)>(dlsym(pLibrary, "tsk_" #name));  \
    if (functions->name == nullptr)                                                                \
        missing += (missing.empty() ? "tsk_" : ", tsk_") + std::string(#name);
    KORVA_TSK_FUNCTIONS(KORVA_TSK_RESOLVE)
#undef KORVA_TSK_RESOLVE
    // Loaded for the rest of the process: its handles may live as long.
    if (!missing.empty())
        loading.why = "The Sleuth Kit's library " KORVA_TSK_SONAME " lacks " + missing +
                      ": install the package " KORVA_TSK_PACKAGE " this program was built for";
    else
        loading.functions = std::move(functions);
    return loading;
}

const Loading& Once()
{
    static const Loading loading = LoadOnce();
    return loading;
}
} // namespace

bool TskLibrary::Load(std::string& why)
{
    if (Once().functions)
        return true;
    why = Once().why;
    return false;
}

const TskLibrary& TskLibrary::Loaded()
{
    assert(Once().functions);
    return *Once().functions;
}
