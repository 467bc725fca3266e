// The first process of a test's private PID namespace: runs PROGRAM [ARGS...] and, unlike the test as process 1
// would, reaps every orphan, so no ended fixture lingers as a zombie that kill(pid, 0) still counts as alive.
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const pid_t test = ::fork();
    if (test == 0) ::execvp(argv[1], argv + 1), ::_exit(127);
    for (int status = 0; test > 0;) {
        const pid_t pid = ::wait(&status);
        if (pid == test) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (pid < 0) break;
    }
    return 2;
}
