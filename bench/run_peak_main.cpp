// Runs a program and writes the most memory it had resident, in bytes, to a file. A program
// started from a large process (the benchmarks) is charged by the kernel with its starter's
// resident memory as well, until it has exited; started from this small one, its peak is its
// own. Usage: chipsight_run_peak OUTPUT PROGRAM [ARGUMENTS...]; exits with the program's status.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) return 125;
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) return 126;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return 127;
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) return 125;
    std::fprintf(out, "%ld\n", usage.ru_maxrss * 1024);
    return std::fclose(out) == 0 ? WEXITSTATUS(status) : 125;
}
