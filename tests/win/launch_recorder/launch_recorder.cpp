// Stands in for a program the viewer starts (the system's telnet client, the browser): writes
// "its own path|its arguments|its working folder" to %TEMP%\vorlix-launch.txt, through a
// temporary file so that a test never reads half of it.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    char self[MAX_PATH] = "";
    char folder[MAX_PATH] = "";
    char temp[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, folder);
    GetTempPathA(MAX_PATH, temp);
    char part[MAX_PATH + 32];
    char mark[MAX_PATH + 32];
    snprintf(part, sizeof part, "%svorlix-launch.part", temp);
    snprintf(mark, sizeof mark, "%svorlix-launch.txt", temp);
    FILE* file = fopen(part, "wb");
    if (file == nullptr) return 1;
    fprintf(file, "%s|%s|%s", self, arguments, folder);
    fclose(file);
    return MoveFileExA(part, mark, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
