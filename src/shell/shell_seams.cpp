#include "shell/shell_seams.h"

#include <shellapi.h>

ShellExecuteFn shell_execute_fn = ShellExecuteA;
GetSaveFileNameFn get_save_file_name_fn = GetSaveFileNameA;
SearchPathFn search_path_fn = SearchPathA;
