#include "platform/win32/temp_directory.h"

#include <windows.h>

std::string UserTempDirectory() {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    std::string directory(temp, length);
    while (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) {
        directory.pop_back();
    }
    return directory;
}
