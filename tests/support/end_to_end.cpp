#include "tests/support/end_to_end.h"

#include <gtest/gtest.h>

#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace headlink::testing {

namespace {

// A Windows build writes CR LF line ends on its console streams.
std::string withoutCr(const Bytes& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text.push_back(static_cast<char>(bytes[i]));
    return text;
}

}  // namespace

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void EndToEnd::SetUp() {
    TempDir::SetUp();
    exe_ = env("HEADLINK_EXE");
    ASSERT_FALSE(exe_.empty()) << "HEADLINK_EXE is not set";
    runner_ = env("HEADLINK_RUNNER");
}

void EndToEnd::TearDown() {
    std::error_code ec;
    fs::remove_all(dir_.string() + ".bin", ec);
    fs::remove(log("out"), ec);
    fs::remove(log("err"), ec);
    TempDir::TearDown();
}

RunResult EndToEnd::runProgram(const std::string& exe, const std::string& args, const std::string& shellPrefix) const {
    std::string command = "cd '" + dir_.string() + "' && " + shellPrefix + " " + runner_ + " '" + exe + "' " + args +
                          " </dev/null >'" + log("out") + "' 2>'" + log("err") + "'";
    RunResult r;
    // Under the Windows emulator a program now and then ends with status 1
    // before it runs, saying nothing (a few suites in twenty, in whichever
    // test). Our programs never end so: every failure says why, and one
    // that did not run changed nothing. Such a run is run once more.
    const bool emulated = !runner_.empty() && exe.size() > 4 && exe.compare(exe.size() - 4, 4, ".exe") == 0;
    for (int attempt = 0; attempt < (emulated ? 2 : 1); ++attempt) {
        int raw = std::system(command.c_str());
#ifdef _WIN32
        r.status = raw;
#else
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
        const Bytes err = readBytes(log("err")), out = readBytes(log("out"));
        r.err.assign(err.begin(), err.end());
        r.out.assign(out.begin(), out.end());
        fs::remove(log("out"));
        fs::remove(log("err"));
        if (!(r.status == 1 && r.out.empty() && r.err.empty())) break;
    }
    return r;
}

RunResult EndToEnd::run(const std::string& args, const std::string& shellPrefix) const {
    RunResult r = runProgram(exe_, args, shellPrefix);
    r.err = withoutCr(Bytes(r.err.begin(), r.err.end()));
    r.out = withoutCr(Bytes(r.out.begin(), r.out.end()));
    // Without -v or -n a run prints nothing on stdout, whatever happens.
    if (args.find("-") == std::string::npos) {
        EXPECT_EQ(r.out, "") << "headlink printed on stdout";
    }
    return r;
}

RunResult EndToEnd::twoda(const std::string& args) const {
    RunResult r = runProgram(env("TWODA_EXE").empty() ? TWODA_BUILT_EXE : env("TWODA_EXE"), args, "");
    r.err = withoutCr(Bytes(r.err.begin(), r.err.end()));
    return r;
}

std::vector<std::string> EndToEnd::temporaries() const {
    std::vector<std::string> out;
    for (const std::string& name : listing())
        if (name.find(".headlink-") != std::string::npos) out.push_back(name);
    return out;
}

#ifndef _WIN32
pid_t EndToEnd::start(int errFd, bool pty, const std::string& args) const {
    const std::string command = "exec " + runner_ + " '" + exe_ + "' " + args;
    int master = -1;
    pid_t pid = pty ? ::forkpty(&master, nullptr, nullptr, nullptr) : ::fork();
    if (pid == 0) {
        if (::chdir(dir_.c_str()) != 0) ::_exit(126);
        if (!pty) {
            int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
        }
        int out = ::open(log("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        if (errFd < 0) errFd = ::open(log("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(errFd, 2);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ptyMaster_ = master;
    return pid;
}

int EndToEnd::finish(pid_t pid, int seconds) const {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "headlink hung for " << seconds << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (ptyMaster_ >= 0) ::close(ptyMaster_);
    ptyMaster_ = -1;
    return status;
}

std::string EndToEnd::asNobody() {
    if (::geteuid() != 0) return "";
    const fs::path bin = dir_.string() + ".bin";
    fs::create_directories(bin);
    fs::copy_file(exe_, bin / "headlink", fs::copy_options::overwrite_existing);
    fs::permissions(bin, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    exe_ = (bin / "headlink").string();
    return "setpriv --reuid=65534 --regid=65534 --clear-groups";
}
#endif

}  // namespace headlink::testing
