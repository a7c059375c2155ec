// Shared by the PGP message and armor tests: repeatable sources for
// XPgpMessage, and GnuPG run in a throwaway home directory (the byte and
// alarm helpers are test_support.h's).
#pragma once

#include "core/alarm.h"
#include "core/xblob.h"
#include "pgp/message.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace pgp_test {

using namespace test_support;

// n bytes that differ from one position to the next and between seeds.
inline Bytes Pattern(size_t n, unsigned seed)
{
    Bytes v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v[i] = uint8_t(x);
    }
    return v;
}

// --- repeatable sources --------------------------------------------------------

// A clock and an entropy source whose output depends only on how often they
// were asked since Reset, so that a test can replay exactly what RandomBlob
// gave XPgpMessage.
struct FixedSources {
    static constexpr uint32_t kTime = 0x5F5E1234;
    static inline uint32_t calls = 0;

    static uint32_t Clock() { return kTime; }
    static void Entropy(uint8_t* out, size_t length)
    {
        ++calls;
        for (size_t i = 0; i < length; ++i)
            out[i] = uint8_t(calls * 31 + i * 7);
    }
    static void Reset() { calls = 0; }
    static XPgpSources Sources() { return XPgpSources{Clock, XRandomSources{Clock, Entropy}}; }
    static XRandomSources Random() { return XRandomSources{Clock, Entropy}; }
};

// --- GnuPG ---------------------------------------------------------------------------

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// Runs a program with stdin, stdout and stderr redirected to files (stdin
// from /dev/null when none is given); returns its exit status, or -1 when it
// could not be started or did not exit normally.
inline int Run(const std::vector<std::string>& argv, const std::string& in, const std::string& out,
               const std::string& err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A GnuPG home directory of its own, made with mkdtemp, for the life of a
// test suite; its agent is stopped and the directory removed at the end.
class Gpg {
public:
    Gpg()
    {
        char dir[] = "/tmp/zel-gpg-XXXXXX";
        if (!mkdtemp(dir))
            return;
        home_ = dir;
        const std::string log = home_ + "/version.txt";
        available_ = Run({"gpg", "--version"}, "", log, log) == 0;
    }
    ~Gpg()
    {
        if (home_.empty())
            return;
        const std::string log = home_ + "/gpgconf.txt";
        Run({"gpgconf", "--homedir", home_, "--kill", "all"}, "", log, log);
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
    }
    Gpg(const Gpg&) = delete;
    Gpg& operator=(const Gpg&) = delete;

    bool Available() const { return available_; }
    std::string Path(const std::string& name) const { return home_ + "/" + name; }

    // gpg --homedir H --batch --pinentry-mode loopback --passphrase P <args>;
    // true when it exits with 0.  Its messages are left in Log().
    bool Call(const std::string& passphrase, const std::vector<std::string>& args, const std::string& in = "",
              const std::string& out = "")
    {
        std::vector<std::string> argv = {"gpg", "--homedir", home_, "--batch", "--no-tty", "--pinentry-mode",
                                         "loopback", "--passphrase", passphrase};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string log = Path("gpg.log");
        const int status = Run(argv, in, out.empty() ? Path("stdout.bin") : out, log);
        const Bytes text = ReadFile(log);
        log_.assign(text.begin(), text.end());
        return status == 0;
    }
    const std::string& Log() const { return log_; }

private:
    std::string home_;
    std::string log_;
    bool available_ = false;
};

// A test suite with one GnuPG home for all its tests, each skipped when
// gpg cannot be run.
class GpgSuite : public testing::Test {
protected:
    static void SetUpTestSuite() { gpg_ = new Gpg(); }
    static void TearDownTestSuite()
    {
        delete gpg_;
        gpg_ = nullptr;
    }
    void SetUp() override
    {
        if (!gpg_->Available())
            GTEST_SKIP() << "gpg (GnuPG 2.2) not found on PATH: GnuPG interoperability not checked";
    }

    static inline Gpg* gpg_ = nullptr;
};

} // namespace pgp_test
