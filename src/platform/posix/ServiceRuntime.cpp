#include "platform/posix/ServiceRuntime.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "common/Text.h"
#include "platform/MachineRoot.h"
#include "platform/posix/ErrnoMapping.h"
#include "platform/posix/PrivateFiles.h"

extern char** environ;

namespace kx::platform {
namespace {

constexpr int kControlTimeoutSeconds = 30;
constexpr int kExitRecordWaits = 40;
constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr auto kStartPoll = std::chrono::milliseconds(10);

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

std::string NewToken() {
    std::random_device random;
    std::ostringstream token;
    token << std::hex << getpid() << '-' << random() << random();
    return token.str();
}

// Text of a number, for the children of a fork, which may only make
// async-signal-safe calls.
std::size_t AppendNumber(char* out, long value) {
    char digits[24];
    std::size_t count = 0;
    bool negative = value < 0;
    unsigned long rest = negative ? 0UL - static_cast<unsigned long>(value) : value;
    do {
        digits[count++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest);
    std::size_t length = 0;
    if (negative) out[length++] = '-';
    while (count) out[length++] = digits[--count];
    return length;
}

void CloseInheritedFiles() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0) return;
#endif
    for (int fd = 3; fd < 4096; ++fd) close(fd);
}

// Everything the forked processes need, built before the fork.
struct LaunchPlan {
    std::string image;
    std::vector<std::string> environment;
    std::string output;
    std::string exitPath;
    std::string exitTemporary;
    std::string token;
    // Empty unless the service's failure actions hold a restart.
    std::vector<std::string> recoveryEnvironment;
};

bool HasRestartAction(const ServiceFailureActions& failureActions) {
    for (const ServiceAction& action : failureActions.actions) {
        if (action.type == kActionRestart) return true;
    }
    return false;
}

// Pointers into the strings of a plan, made before the fork.
struct LaunchPointers {
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::vector<char*> recoveryArgv;
    std::vector<char*> recoveryEnvp;
};

[[noreturn]] void MonitorAndRecord(const LaunchPlan& plan, const LaunchPointers& pointers) {
    char* const* argv = pointers.argv.data();
    char* const* envp = pointers.envp.data();
    pid_t service = fork();
    if (service == 0) {
        if (chdir("/") != 0) _exit(127);
        execve(plan.image.c_str(), argv, envp);
        _exit(127);
    }
    int status = 0;
    long exitStatus = 127;
    if (service > 0) {
        while (waitpid(service, &status, 0) < 0 && errno == EINTR) {
        }
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    char line[256];
    std::size_t length = 0;
    std::memcpy(line, plan.token.data(), plan.token.size());
    length += plan.token.size();
    line[length++] = ' ';
    length += AppendNumber(line + length, exitStatus);
    line[length++] = '\n';
    int fd = open(plan.exitTemporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ssize_t written = write(fd, line, length);
        fsync(fd);
        close(fd);
        if (written == static_cast<ssize_t>(length)) {
            rename(plan.exitTemporary.c_str(), plan.exitPath.c_str());
        }
    }
    if (!plan.recoveryEnvironment.empty()) {
        execve(plan.image.c_str(), pointers.recoveryArgv.data(), pointers.recoveryEnvp.data());
    }
    _exit(0);
}

// The first child: a session of its own, no terminal, the output file, and
// a second child that monitors the service, so that neither stays a child
// of the controller.
[[noreturn]] void StartSession(const LaunchPlan& plan, const LaunchPointers& pointers) {
    setsid();
    int null = open("/dev/null", O_RDONLY);
    int output = open(plan.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (null < 0 || output < 0) _exit(1);
    dup2(null, 0);
    dup2(output, 1);
    dup2(output, 2);
    CloseInheritedFiles();
    signal(SIGHUP, SIG_IGN);
    pid_t monitor = fork();
    if (monitor == 0) {
        signal(SIGHUP, SIG_DFL);
        MonitorAndRecord(plan, pointers);
    }
    _exit(monitor > 0 ? 0 : 1);
}

bool IsServiceVariable(const std::string& entry) {
    for (const char* name : {kServiceNameVariable, kServiceTokenVariable, kServiceArgumentsVariable,
                             kServiceEndedVariable, "KX_MACHINE_ROOT"}) {
        std::size_t length = std::strlen(name);
        if (entry.compare(0, length, name) == 0 && entry.size() > length && entry[length] == '=') {
            return true;
        }
    }
    return false;
}

std::vector<std::string> InheritedEnvironment(const std::wstring& name) {
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (!IsServiceVariable(*entry)) environment.emplace_back(*entry);
    }
    environment.push_back(std::string(kServiceNameVariable) + "=" + WideToUtf8(name));
    environment.push_back("KX_MACHINE_ROOT=" + WideToUtf8(GetMachineRoot()));
    return environment;
}

std::vector<std::string> ServiceEnvironment(const std::wstring& name, const std::string& token,
                                            const std::vector<std::wstring>& arguments) {
    std::vector<std::string> environment = InheritedEnvironment(name);
    std::wstring joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i) joined += L'\x1f';
        joined += arguments[i];
    }
    environment.push_back(std::string(kServiceTokenVariable) + "=" + token);
    environment.push_back(std::string(kServiceArgumentsVariable) + "=" + WideToUtf8(joined));
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool ReadAll(int fd, void* buffer, std::size_t size) {
    auto* bytes = static_cast<char*>(buffer);
    while (size) {
        ssize_t got = read(fd, bytes, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

CServiceRuntime::CServiceRuntime(const std::wstring& serviceName)
    : name_(serviceName), base_(Folder() + "/" + WideToUtf8(serviceName)) {}

std::string CServiceRuntime::Folder() {
    std::string folder = WideToUtf8(GetMachineRoot()) + "/Services";
    CreatePrivateFolders(folder);
    chmod(folder.c_str(), 0700);
    return folder;
}

bool CServiceRuntime::ReadRecord(RuntimeRecord* record) const {
    std::ifstream in(StatusPath());
    ServiceStatus& s = record->status;
    return static_cast<bool>(in >> record->token >> record->pid >> s.serviceType >>
                             s.currentState >> s.controlsAccepted >> s.win32ExitCode >>
                             s.serviceSpecificExitCode >> s.checkPoint >> s.waitHint);
}

bool CServiceRuntime::WriteRecord(const RuntimeRecord& record) const {
    const ServiceStatus& s = record.status;
    std::ostringstream line;
    line << record.token << ' ' << record.pid << ' ' << s.serviceType << ' ' << s.currentState
         << ' ' << s.controlsAccepted << ' ' << s.win32ExitCode << ' ' << s.serviceSpecificExitCode
         << ' ' << s.checkPoint << ' ' << s.waitHint << '\n';
    std::string temporary = StatusPath() + "." + std::to_string(getpid()) + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::string text = line.str();
    bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written && rename(temporary.c_str(), StatusPath().c_str()) == 0;
}

bool CServiceRuntime::ReadExit(const std::string& token, int* exitStatus) const {
    std::ifstream in(ExitPath());
    std::string stored;
    int status = 0;
    if (!(in >> stored >> status) || stored != token) return false;
    *exitStatus = status;
    return true;
}

ServiceStatus CServiceRuntime::LiveStatus() const {
    RuntimeRecord record;
    ServiceStatus stopped;
    stopped.serviceType = kServiceWin32OwnProcess;
    stopped.currentState = kServiceStopped;
    if (!ReadRecord(&record)) return stopped;
    if (record.status.currentState == kServiceStopped) return record.status;
    int exitStatus = 0;
    bool ended = ReadExit(record.token, &exitStatus);
    if (!ended && ProcessAlive(record.pid)) return record.status;
    // The monitor writes the exit status right after the process has gone.
    for (int wait = 0; !ended && wait < kExitRecordWaits; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ended = ReadExit(record.token, &exitStatus);
    }
    stopped.serviceType = record.status.serviceType;
    stopped.win32ExitCode = kErrorProcessAborted;
    stopped.serviceSpecificExitCode = static_cast<uint32_t>(exitStatus);
    return stopped;
}

uint32_t CServiceRuntime::SendControl(uint32_t control, ServiceStatus* status) const {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Win32ErrorFromErrno(errno);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = SocketPath();
    if (path.size() >= sizeof(address.sun_path)) {
        close(fd);
        return kErrorInvalidName;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        int error = errno;
        close(fd);
        return error == EACCES || error == EPERM ? kErrorAccessDenied : kErrorServiceNotActive;
    }
    timeval timeout{kControlTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ControlRequest request{control, 0};
    ControlAnswer answer{};
    bool sent = write(fd, &request, sizeof(request)) == sizeof(request);
    bool answered = sent && ReadAll(fd, &answer, sizeof(answer));
    close(fd);
    if (!answered) return sent ? kErrorServiceRequestTimeout : kErrorServiceNotActive;
    if (status) *status = answer.status;
    return answer.error;
}

uint32_t CServiceRuntime::Launch(const ServiceConfig& config,
                                 const std::vector<std::wstring>& arguments,
                                 std::string* token) const {
    const ServiceCommandLine line = SplitImagePath(config.imagePath);
    LaunchPlan plan;
    plan.image = WideToUtf8(line.image);
    struct stat info {};
    if (stat(plan.image.c_str(), &info) != 0) return Win32ErrorFromErrno(errno, 2);
    if (!S_ISREG(info.st_mode) || access(plan.image.c_str(), X_OK) != 0) {
        return kErrorAccessDenied;
    }
    plan.token = NewToken();
    plan.environment = ServiceEnvironment(name_, plan.token, arguments);
    plan.output = OutputPath();
    plan.exitPath = ExitPath();
    plan.exitTemporary = ExitPath() + "." + plan.token + ".tmp";
    if (HasRestartAction(config.failureActions)) {
        plan.recoveryEnvironment = InheritedEnvironment(name_);
        plan.recoveryEnvironment.push_back(std::string(kServiceEndedVariable) + "=" + plan.token);
    }
    std::vector<std::string> commandLine{plan.image};
    for (const std::wstring& argument : line.arguments) commandLine.push_back(WideToUtf8(argument));
    std::vector<std::string> imageOnly{plan.image};
    LaunchPointers pointers;
    pointers.argv = Pointers(commandLine);
    pointers.envp = Pointers(plan.environment);
    pointers.recoveryArgv = Pointers(imageOnly);
    pointers.recoveryEnvp = Pointers(plan.recoveryEnvironment);

    pid_t session = fork();
    if (session < 0) return Win32ErrorFromErrno(errno);
    if (session == 0) StartSession(plan, pointers);
    int status = 0;
    while (waitpid(session, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return kErrorServiceRequestTimeout;
    *token = plan.token;
    return 0;
}

uint32_t CServiceRuntime::StartAndWait(const ServiceConfig& config,
                                       const std::vector<std::wstring>& arguments) const {
    if (LiveStatus().currentState != kServiceStopped) return kErrorServiceAlreadyRunning;
    std::string token;
    if (uint32_t error = Launch(config, arguments, &token)) return error;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        RuntimeRecord record;
        if (ReadRecord(&record) && record.token == token) return 0;
        int exitStatus = 0;
        if (ReadExit(token, &exitStatus)) break;
        std::this_thread::sleep_for(kStartPoll);
    }
    return kErrorServiceRequestTimeout;
}

int CServiceRuntime::LockStarts() const {
    int fd = open((base_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    return fd;
}

void CServiceRuntime::Forget() const {
    for (const std::string& path : {StatusPath(), ExitPath(), FailuresPath()}) {
        unlink(path.c_str());
    }
}

}  // namespace kx::platform
