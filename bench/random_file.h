#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

// A file of pseudo-random bytes (the same for every run), which no search finds anything in and
// no file system compresses.
inline void write_random_file(const std::string& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    std::mt19937_64 random(7);
    std::vector<uint64_t> block(1 << 17);
    for (int64_t done = 0; done < size; done += static_cast<int64_t>(block.size() * 8)) {
        for (uint64_t& v : block) v = random();
        if (::write(fd, block.data(), block.size() * 8) < 0) std::perror("write");
    }
    ::close(fd);
}
