#include "tools/host.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "install/platform.h"

namespace {

template <typename Bytes>
bool ReadInto(const std::string& path, Bytes* data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    data->clear();
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) data->insert(data->end(), chunk, chunk + got);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

void Silent(void*, const char*) {}
void SilentError(void*, const char*, const char*) {}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* data) { return ReadInto(path, data); }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data) { return ReadInto(path, data); }

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

std::string MakeScratchDir(const char* prefix) {
    std::string pattern = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/") + prefix + ".XXXXXX";
    std::vector<char> dir(pattern.begin(), pattern.end());
    dir.push_back('\0');
    return mkdtemp(dir.data()) ? std::string(dir.data()) : std::string();
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* d = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (struct dirent* e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
            closedir(d);
            for (const std::string& n : names) RemoveTree(path + "/" + n);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string CorePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void InstallSilentHooks(void) {
    static const HostUiHooks hooks = {Silent, SilentError, nullptr};
    SetHostUiHooks(&hooks);
}
