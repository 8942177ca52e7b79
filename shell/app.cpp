#include "ombrix/app.h"

#include "platform/module.h"
#include "shell/trace.h"

COmbrix_RxComApp::COmbrix_RxComApp() : AppObject(nullptr) {}

int COmbrix_RxComApp::InitInstance() { return AppObject::InitInstance(); }

int COmbrix_RxComApp::ExitInstance() { return AppObject::ExitInstance(); }

namespace {

COmbrix_RxComApp theApp;
bool g_attached = false;

} // namespace

namespace ombrix::shell {

// The trace switches are read here, once, before any session exists.
int attach_library()
{
    configure_trace_from_environment();
    if (theApp.InitInstance() == 0) {
        theApp.ExitInstance();
        return 0;
    }
    g_attached = true;
    return 1;
}

void detach_library()
{
    if (g_attached) {
        g_attached = false;
        theApp.ExitInstance();
    }
}

} // namespace ombrix::shell

namespace {

// Library load and unload bracket the application object: where no entry
// point of the platform does it, it is attached right after its construction
// and detached before its destruction (same translation unit, so the order is
// fixed).
struct ModuleAttachment {
    ModuleAttachment()
    {
        if (!ombrix::platform::entry_point_attaches())
            ombrix::shell::attach_library();
    }
    ~ModuleAttachment() { ombrix::shell::detach_library(); }
} g_attachment;

} // namespace
