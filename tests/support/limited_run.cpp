#include "support/limited_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

namespace kvl::test {

namespace {

std::string text_of(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = read_file(path);
    return {bytes.begin(), bytes.end()};
}

[[noreturn]] void exec_child(const std::vector<std::string>& command, const temp_dir& dir) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

}  // namespace

limited_result run_limited(const std::vector<std::string>& command, double time_limit_seconds) {
    temp_dir dir;
    limited_result result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) exec_child(command, dir);
    if (child < 0) return result;
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
            time_limit_seconds) {
            result.timed_out = true;
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.max_rss_kib = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = text_of(dir.file("out"));
    result.err = text_of(dir.file("err"));
    return result;
}

}  // namespace kvl::test
