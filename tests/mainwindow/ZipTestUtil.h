#pragma once

#include <zip.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

// Test archives written directly with libzip, so that entries the program
// itself would never write ("../x", "/abs", links) can be made.
struct TestEntry {
    std::string name;
    std::string content;
    time_t mtime = 0;        // 0: now
    unsigned mode = 0;       // unix mode with file type; 0: none recorded
    bool stored = false;     // no compression
};

inline void MakeZip(const std::string& path, const std::vector<TestEntry>& entries) {
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za) throw std::runtime_error("zip_open");
    for (const TestEntry& e : entries) {
        zip_int64_t idx;
        if (!e.name.empty() && e.name.back() == '/') {
            idx = zip_dir_add(za, e.name.c_str(), ZIP_FL_ENC_RAW);
        } else {
            zip_source_t* src = zip_source_buffer(za, e.content.data(), e.content.size(), 0);
            idx = zip_file_add(za, e.name.c_str(), src, ZIP_FL_ENC_RAW);
        }
        if (idx < 0) throw std::runtime_error(std::string("zip_file_add: ") + zip_strerror(za));
        if (e.mtime) zip_file_set_mtime(za, zip_uint64_t(idx), e.mtime, 0);
        if (e.mode) zip_file_set_external_attributes(za, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX, zip_uint32_t(e.mode) << 16);
        if (e.stored) zip_set_file_compression(za, zip_uint64_t(idx), ZIP_CM_STORE, 0);
    }
    if (zip_close(za) != 0) throw std::runtime_error(std::string("zip_close: ") + zip_strerror(za));
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline time_t MTime(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// Runs a command and returns its standard output; the exit status in *status.
inline std::string RunCommand(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("popen");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}
