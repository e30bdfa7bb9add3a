// The child process of a model import and what it sends back through a pipe: a flag, the console text,
// the error text and the dump, each text and the dump after its 64-bit length.
#include "converter/isolated_import.h"

#include <assimp/scene.h>
#include <sys/wait.h>
#include <unistd.h>
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace quorva::converter {
namespace {

void append(std::string& out, const void* data, std::uint64_t size) {
    out.append(reinterpret_cast<const char*>(&size), sizeof size);
    out.append(static_cast<const char*>(data), size);
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

[[noreturn]] void runChild(int fd, const std::function<const aiScene*(Assimp::Importer&, Console&)>& read,
                           unsigned secondsAllowed) {
    if (secondsAllowed > 0) {
        std::signal(SIGALRM, SIG_DFL);  // a harness's handler (the fuzzer's) must not keep it alive
        ::alarm(secondsAllowed);
    }
    std::string console, error, dump;
    bool ok = false;
    try {
        Console text{[&](const std::string& s) { console += s; }};
        Assimp::Importer importer;
        const aiScene* scene = read(importer, text);
        if (!scene) {
            error = importer.GetErrorString();
        } else {
            Assimp::Exporter exporter;
            const aiExportDataBlob* blob = exporter.ExportToBlob(scene, "assbin");
            if (!blob) {
                error = exporter.GetErrorString();
            } else {
                dump.assign(static_cast<const char*>(blob->data), blob->size);
                ok = true;
            }
        }
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "the reader failed";
    }
    std::string message(1, ok ? '\1' : '\0');
    append(message, console.data(), console.size());
    append(message, error.data(), error.size());
    append(message, dump.data(), dump.size());
    // No exit handlers: the parent's buffers and the test or fuzz harness stay the parent's.
    ::_exit(writeAll(fd, message) ? 0 : 1);
}

// One length-prefixed part of the message at `at`; false when the message ends first.
bool part(const std::string& message, std::size_t& at, std::string& out) {
    std::uint64_t size = 0;
    if (message.size() - at < sizeof size) return false;
    std::memcpy(&size, message.data() + at, sizeof size);
    at += sizeof size;
    if (message.size() - at < size) return false;
    out.assign(message, at, size);
    at += size;
    return true;
}

}  // namespace

IsolatedImport importIsolated(const std::function<const aiScene*(Assimp::Importer&, Console&)>& read,
                              unsigned secondsAllowed) {
    IsolatedImport result;
    int fds[2];
    if (::pipe(fds) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        result.error = std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (child == 0) {
        ::close(fds[0]);
        runChild(fds[1], read, secondsAllowed);
    }
    ::close(fds[1]);
    std::string message;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        message.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::size_t at = 1;
    std::string dump;
    if (message.empty() || !part(message, at, result.console) || !part(message, at, result.error) ||
        !part(message, at, dump)) {
        result.error = WIFSIGNALED(status)
                           ? "the reader stopped on signal " + std::to_string(WTERMSIG(status))
                           : "the reader stopped";
        return result;
    }
    result.read = message[0] == '\1';
    result.dump.assign(dump.begin(), dump.end());
    return result;
}

}  // namespace quorva::converter
