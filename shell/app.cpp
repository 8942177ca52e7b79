#include "ombrix/app.h"

#include "shell/trace.h"

COmbrix_RxComApp::COmbrix_RxComApp() : AppObject(nullptr) {}

int COmbrix_RxComApp::InitInstance() { return AppObject::InitInstance(); }

int COmbrix_RxComApp::ExitInstance() { return AppObject::ExitInstance(); }

namespace {

COmbrix_RxComApp theApp;

// Library load and unload bracket the application object: it is attached
// right after its construction and detached before its destruction (same
// translation unit, so the order is fixed). The trace switches are read here,
// once, before any session exists.
struct ModuleAttachment {
    ModuleAttachment()
    {
        ombrix::shell::configure_trace_from_environment();
        if (theApp.InitInstance() == 0)
            theApp.ExitInstance();
    }
    ~ModuleAttachment() { theApp.ExitInstance(); }
} g_attachment;

} // namespace
