// The first process of a test's private PID namespace: runs the test and,
// unlike the test itself would as the namespace's process 1, reaps every
// orphan, so an ended fixture process never lingers as a zombie that kill(pid, 0)
// and FakeWine::livePids() still count as alive.
// Usage: nsinit PROGRAM [ARGS...]; exits as PROGRAM does.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const pid_t test = ::fork();
    if (test == 0) ::execv(argv[1], argv + 1), ::_exit(127);
    if (test < 0) return 2;
    for (int status = 0;;) {
        const pid_t pid = ::wait(&status);
        if (pid == test) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (pid < 0) return 2;
    }
}
