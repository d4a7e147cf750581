#include "system_safe.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Owns the spawn attributes for the length of one call.
class SpawnAttributes {
public:
    SpawnAttributes()
        : m_status(posix_spawnattr_init(&m_attributes))
    {
    }
    ~SpawnAttributes()
    {
        if (m_status == 0)
            posix_spawnattr_destroy(&m_attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // The caller's thread may block signals (the daemon routes them to one
    // thread) or ignore some; the command gets a clean slate instead.
    int resetSignals()
    {
        if (m_status != 0)
            return m_status;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        int status = posix_spawnattr_setsigmask(&m_attributes, &none);
        if (status == 0)
            status = posix_spawnattr_setsigdefault(&m_attributes, &all);
        if (status == 0)
            status = posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        return status;
    }

    const posix_spawnattr_t* get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
    int m_status;
};

// Owns the spawn file actions for the length of one call.
class SpawnFileActions {
public:
    SpawnFileActions()
        : m_status(posix_spawn_file_actions_init(&m_actions))
    {
    }
    ~SpawnFileActions()
    {
        if (m_status == 0)
            posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    // Descriptors the daemon inherited from whoever started it are not
    // close-on-exec; the command gets its standard three only.
    int closeAllButStandard()
    {
        if (m_status != 0)
            return m_status;
        return posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
    }

    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
    int m_status;
};

}

// Unlike system(), nothing here touches the process-wide signal dispositions,
// so several threads may run commands at the same time.
int system_safe(const char* command)
{
    if (command == nullptr) {
        errno = EINVAL;
        return -1;
    }
    SpawnAttributes attributes;
    SpawnFileActions actions;
    int status = attributes.resetSignals();
    if (status == 0)
        status = actions.closeAllButStandard();
    pid_t child = -1;
    char shell[] = "/bin/sh";
    char option[] = "-c";
    char* argv[] = { shell, option, const_cast<char*>(command), nullptr };
    if (status == 0)
        status = posix_spawn(&child, shell, actions.get(), attributes.get(), argv, environ);
    if (status != 0) {
        errno = status;
        return -1;
    }
    int waitStatus = 0;
    while (waitpid(child, &waitStatus, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return waitStatus;
}
