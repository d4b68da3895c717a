#include "shell/common_libraries.h"

#include <commctrl.h>

namespace {

template <typename Fn> Fn library_function(const char* library, const char* name) {
    HMODULE module = LoadLibraryA(library); // kept loaded for the rest of the run
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

} // namespace

bool ensure_common_controls() {
    // Main thread only, like every dialog: a plain flag is enough.
    static bool registered = false;
    if (registered) return true;
    typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
    InitFn init = library_function<InitFn>("comctl32.dll", "InitCommonControlsEx");
    if (!init) return false;
    INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                     ICC_TAB_CLASSES | ICC_INTERNET_CLASSES | ICC_LISTVIEW_CLASSES};
    registered = init(&controls) != FALSE;
    return registered;
}

BOOL WINAPI load_and_get_save_file_name(LPOPENFILENAMEA dialog) {
    typedef BOOL(WINAPI * SaveFn)(LPOPENFILENAMEA);
    static SaveFn save = library_function<SaveFn>("comdlg32.dll", "GetSaveFileNameA");
    return save ? save(dialog) : FALSE;
}
