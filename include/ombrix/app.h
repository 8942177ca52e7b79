// The library's application object: one instance per process, alive from
// library load to unload. It does no work of its own.
#pragma once

#include "ombrix/export.h"

namespace ombrix {

// What the window-system application framework would give the library object
// on its original platform: construction with an optional name, and the two
// operations run at attach and detach.
class OMBRIX_API AppObject {
public:
    explicit AppObject(const char* name = nullptr) : m_pszAppName(name) {}
    virtual ~AppObject() = default;
    virtual int InitInstance() { return 1; }
    virtual int ExitInstance() { return 0; }

protected:
    const char* m_pszAppName;
};

} // namespace ombrix

class OMBRIX_API COmbrix_RxComApp : public ombrix::AppObject {
public:
    COmbrix_RxComApp();
    int InitInstance() override;
    int ExitInstance() override;
};
