#include "shell/shell_seams.h"

#include <shellapi.h>

#include "shell/common_libraries.h"

ShellExecuteFn shell_execute_fn = ShellExecuteA;
GetSaveFileNameFn get_save_file_name_fn = load_and_get_save_file_name;
SearchPathFn search_path_fn = SearchPathA;
